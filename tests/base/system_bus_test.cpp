// Connections through sd-bus whose every wait is bounded: against a bus that takes the connection
// and never answers, connecting ends at its deadline, or at once when its caller gives up.

#include <chrono>
#include <future>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "base/system_bus.hpp"
#include "support/silent_bus.hpp"

namespace velk::system_bus {
namespace {

TEST(SystemBusOnASilentBus, ConnectingEndsAtItsDeadlineOrWhenCancelled) {
    QTemporaryDir folder;
    const test::SilentBus silent(folder.filePath("silent-bus").toStdString());
    ASSERT_TRUE(silent.listening);
    using std::chrono::milliseconds;
    const struct {
        const char* name;
        milliseconds deadline; // from now; zero: none
        bool cancelled;
    } cases[] = {
        {"at its deadline", milliseconds(300), false},
        {"cancelled, without a deadline", milliseconds(0), true},
    };
    for (const auto& c : cases) {
        CancellationToken stop;
        const auto started = std::chrono::steady_clock::now();
        const Deadline deadline = c.deadline.count() ? started + c.deadline : noDeadline;
        auto connecting = std::async(std::launch::async, [&] { return Connection::open(silent.address, deadline, &stop); });
        if (c.cancelled) stop.cancel();
        // A bound against hanging only: the silent bus would keep a connection waiting for ever.
        ASSERT_EQ(connecting.wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.name;
        EXPECT_EQ(connecting.get(), nullptr) << c.name;
        EXPECT_GE(std::chrono::steady_clock::now() - started, c.deadline) << c.name;
    }
}

} // namespace
} // namespace velk::system_bus
