#include "discovery/sleep_monitor.hpp"

#include <QDBusConnection>

namespace velk {

SleepMonitor::SleepMonitor(std::function<void()> onSleepOrWake, QObject* parent)
    : QObject(parent), m_onSleepOrWake(std::move(onSleepOrWake)) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    m_watching = bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                             QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                             this, SLOT(prepareForSleep(bool)));
}

void SleepMonitor::prepareForSleep(bool) {
    if (m_onSleepOrWake) m_onSleepOrWake();
}

} // namespace velk
