// Sleep and wake from logind's PrepareForSleep, with python-dbusmock playing logind on a private bus
// that the test starts, so nothing reaches the machine's own system bus.

#include <QDBusMessage>

#include <gtest/gtest.h>

#include "discovery/sleep_monitor.hpp"
#include "discovery_test_support.hpp"
#include "support/dbus_mock.hpp"

namespace velk {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

void prepareForSleep(test::DbusMock& logind, bool sleeping) {
    QDBusMessage emit = QDBusMessage::createMethodCall(kLogind, QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.DBus.Mock"),
                                                       QStringLiteral("EmitSignal"));
    emit << QStringLiteral("org.freedesktop.login1.Manager") << QStringLiteral("PrepareForSleep") << QStringLiteral("b")
         << QVariantList{sleeping};
    logind.call(emit);
}

TEST(SleepMonitorOnTheBus, TellsOfGoingToSleepAndOfWaking) {
    discovery_test::EventLoop loop;
    test::DbusMock logind({"-t", "logind"}, kLogind, QStringLiteral("logind-mock"));
    if (!logind.ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    int told = 0;
    SleepMonitor monitor([&] { ++told; }, logind.address.toStdString());
    // The monitor subscribes once the bus has let it in; a signal sent before is heard by nobody.
    bool heard = false;
    for (int attempt = 0; attempt < 50 && !heard; ++attempt) {
        prepareForSleep(logind, true);
        heard = loop.runUntil([&] { return told > 0; }, 200);
    }
    ASSERT_TRUE(heard);
    const int beforeWaking = told;
    prepareForSleep(logind, false);
    EXPECT_TRUE(loop.runUntil([&] { return told > beforeWaking; }, 10000));
}

} // namespace
} // namespace velk
