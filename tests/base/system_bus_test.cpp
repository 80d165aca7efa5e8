// Connections through sd-bus whose every wait is bounded: against a bus that takes the connection
// and never answers, connecting ends at its deadline, or at once when its caller gives up; and the
// watch that keeps a connection on a thread of its own.

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include <QDir>
#include <systemd/sd-bus.h>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "base/system_bus.hpp"
#include "support/child_process.hpp"
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

// A caller can tell the peer's answer, an error the peer sent and no answer at all apart.
TEST(SystemBusConnection, ACallGetsAnAnswerAnErrorOrNothing) {
    test::ChildProcess busDaemon({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", true);
    const std::optional<std::string> address = busDaemon.readLine(5000);
    ASSERT_TRUE(address) << "dbus-daemon did not start";
    const auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(10); };
    const auto toTheBus = [](Connection& bus, const char* member, const char* name) {
        Message call = bus.methodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", member);
        if (name) sd_bus_message_append(call.get(), "s", name);
        return call;
    };
    // Peers that hold a name and then never read what comes to them.
    const auto silentPeer = [&](const char* name) {
        auto peer = Connection::open(*address, soon());
        Message hold = toTheBus(*peer, "RequestName", name);
        sd_bus_message_append(hold.get(), "u", 4u); // do not queue
        EXPECT_TRUE(peer->call(hold, soon())) << name;
        return peer;
    };
    auto caller = Connection::open(*address, soon());
    ASSERT_TRUE(caller);
    const auto silent = silentPeer("org.velk.Silent");
    auto leaving = silentPeer("org.velk.Leaving");
    const auto hello = [&](const char* peer) { return caller->methodCall(peer, "/", "org.velk.Peer", "Hello"); };
    enum class Then { nothing, peerLeaves, busGoes };
    const struct {
        const char* name;
        Message call;
        Then then;
        std::string told; // "answer", the error's name, or "nothing"
    } cases[] = {
        {"an answer", toTheBus(*caller, "GetId", nullptr), Then::nothing, "answer"},
        {"the bus's error", toTheBus(*caller, "GetNameOwner", "org.velk.Nobody"), Then::nothing,
         "org.freedesktop.DBus.Error.NameHasNoOwner"},
        {"no answer within the time-out", hello("org.velk.Silent"), Then::nothing, "nothing"},
        {"a peer that leaves the bus without answering", hello("org.velk.Leaving"), Then::peerLeaves, "nothing"},
        {"a bus that goes", hello("org.velk.Silent"), Then::busGoes, "nothing"},
    };
    for (const auto& c : cases) {
        std::optional<std::string> told;
        caller->callAsync(c.call, std::chrono::milliseconds(c.then == Then::nothing ? 300 : 20'000),
                          [&](const Reply& reply) {
                              told = reply.answer() ? "answer" : reply.error() ? reply.error() : "nothing";
                          });
        if (c.then == Then::peerLeaves) leaving.reset();
        if (c.then == Then::busGoes) busDaemon.stop();
        caller->waitUntil([&] { return told.has_value(); }, soon(), nullptr);
        EXPECT_EQ(told.value_or("(none)"), c.told) << c.name;
    }
}

TEST(SystemBusWatch, PostedCommandsGetTheConnectionOnlyWhileTheBusHasItIn) {
    QTemporaryDir folder;
    const test::SilentBus silent(folder.filePath("silent-bus").toStdString());
    ASSERT_TRUE(silent.listening);
    test::ChildProcess busDaemon({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", true);
    const std::optional<std::string> answering = busDaemon.readLine(5000);
    ASSERT_TRUE(answering) << "dbus-daemon did not start";
    const struct {
        const char* name;
        std::string address;
        bool letsIn; // else connecting fails, which the watch tells as unreachable
    } cases[] = {
        {"a bus that answers", *answering, true},
        {"a silent bus", silent.address, false},
        {"no bus", "unix:path=" + folder.filePath("no-bus").toStdString(), false},
    };
    for (const auto& c : cases) {
        std::promise<void> connected;
        std::promise<void> unreachable;
        std::atomic<bool> toldConnected{false};
        std::atomic<bool> toldUnreachable{false};
        Watch::Handlers handlers;
        handlers.connected = [&](Connection&) {
            if (!toldConnected.exchange(true)) connected.set_value();
        };
        handlers.unreachable = [&] {
            if (!toldUnreachable.exchange(true)) unreachable.set_value();
        };
        Watch watch(c.address, handlers, Watch::Timing{std::chrono::milliseconds(300)});
        auto told = (c.letsIn ? connected : unreachable).get_future();
        ASSERT_EQ(told.wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.name;
        std::promise<bool> hadBus;
        watch.post([&](Connection* bus) { hadBus.set_value(bus != nullptr); });
        auto answer = hadBus.get_future();
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.name;
        EXPECT_EQ(answer.get(), c.letsIn) << c.name;
    }
}

// A bus that comes back at its socket's path is tried at once, not after the pause that has grown
// while it was away, wherever the socket's folder was when the watch began.
TEST(SystemBusWatch, ABusWhoseSocketAppearsIsTriedAtOnce) {
    enum class Folder { thereAllAlong, madeLater, removedAndMadeAgain };
    const struct {
        const char* name;
        Folder folder;
    } cases[] = {
        {"its folder there all along", Folder::thereAllAlong},
        {"its folder made after the watch began, two levels at once", Folder::madeLater},
        {"its folder removed and made again", Folder::removedAndMadeAgain},
    };
    for (const auto& c : cases) {
        QTemporaryDir top;
        const QString folder = top.filePath("later/bus-folder");
        if (c.folder != Folder::madeLater) {
            ASSERT_TRUE(QDir().mkpath(folder)) << c.name;
        }
        const std::string socket = (folder + "/bus").toStdString();
        std::promise<void> unreachable;
        std::promise<void> connected;
        std::atomic<bool> toldUnreachable{false};
        std::atomic<bool> toldConnected{false};
        Watch::Handlers handlers;
        handlers.unreachable = [&] {
            if (!toldUnreachable.exchange(true)) unreachable.set_value();
        };
        handlers.connected = [&](Connection&) {
            if (!toldConnected.exchange(true)) connected.set_value();
        };
        using std::chrono::milliseconds;
        Watch watch("unix:path=" + socket, handlers, Watch::Timing{milliseconds(2'000), milliseconds(20'000), milliseconds(20'000)});
        ASSERT_EQ(unreachable.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.name;
        if (c.folder == Folder::removedAndMadeAgain) {
            ASSERT_TRUE(QDir(folder).removeRecursively()) << c.name;
        }
        if (c.folder != Folder::thereAllAlong) {
            ASSERT_TRUE(QDir().mkpath(folder)) << c.name;
        }
        test::ChildProcess busDaemon(
            {"dbus-daemon", "--session", "--nofork", "--print-address=1", "--address=unix:path=" + socket}, "", true);
        ASSERT_TRUE(busDaemon.readLine(5000)) << "dbus-daemon did not start";
        // The socket is there once the daemon tells its address; the pause of 20 s is far from over.
        const auto appeared = std::chrono::steady_clock::now();
        ASSERT_EQ(connected.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - appeared, std::chrono::seconds(1)) << c.name;
    }
}

// Work posted for later runs in the order of its times and not before them, whether the watch is
// waiting on its connection or pausing before it tries to connect again.
TEST(SystemBusWatch, CommandsPostedForLaterRunInTheOrderOfTheirTimes) {
    QTemporaryDir folder;
    test::ChildProcess busDaemon({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", true);
    const std::optional<std::string> answering = busDaemon.readLine(5000);
    ASSERT_TRUE(answering) << "dbus-daemon did not start";
    using std::chrono::milliseconds;
    const struct {
        const char* name;
        std::string address;
    } cases[] = {
        {"connected", *answering},
        {"pausing before connecting again", "unix:path=" + folder.filePath("no-bus").toStdString()},
    };
    for (const auto& c : cases) {
        std::mutex mutex;
        std::vector<std::pair<char, std::chrono::steady_clock::duration>> ran;
        std::promise<void> last;
        const auto posted = std::chrono::steady_clock::now();
        Watch watch(c.address, {}, Watch::Timing{milliseconds(300), milliseconds(5'000), milliseconds(5'000)});
        const auto note = [&](char name) {
            std::lock_guard lock(mutex);
            ran.emplace_back(name, std::chrono::steady_clock::now() - posted);
        };
        watch.postAfter(milliseconds(400), [&](Connection*) {
            note('c');
            last.set_value();
        });
        watch.postAfter(milliseconds(200), [&](Connection*) { note('b'); });
        watch.post([&](Connection*) { note('a'); });
        ASSERT_EQ(last.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.name;
        std::lock_guard lock(mutex);
        ASSERT_EQ(ran.size(), 3u) << c.name;
        EXPECT_EQ(std::string({ran[0].first, ran[1].first, ran[2].first}), "abc") << c.name;
        EXPECT_GE(ran[1].second, milliseconds(200)) << c.name;
        EXPECT_GE(ran[2].second, milliseconds(400)) << c.name;
        // Well before the watch's next attempt to connect, which would otherwise be the next wake.
        EXPECT_LT(ran[2].second, milliseconds(3'000)) << c.name;
    }
}

} // namespace
} // namespace velk::system_bus
