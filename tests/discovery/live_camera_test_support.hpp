#pragma once
// Helpers for the live camera channel's socket tests. Those tests run only as child runs of this
// program inside a private network namespace (`unshare -n`) or inside the network lab: the channel
// multicasts and sweeps private /24 networks, which must never happen on this machine's network.

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcessEnvironment>

#include "base/json.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "discovery_test_support.hpp"

namespace velk::live_test {

using discovery_test::ChildRun;
using discovery_test::environment;
using discovery_test::EventLoop;
using discovery_test::runChild;
using discovery_test::thisProgram;

// The Director id and a recording session id the channel tests use.
inline const std::string director = "0b1c2d3e-4f50-4a6b-8c7d-8e9fa0b1c2d3";
inline const std::string sessionA = "6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b";

// The listed camera with this id, or nullptr.
inline const LiveCamera* listed(const LiveCameraDiscovery& channel, const std::string& id) {
    for (const LiveCamera& camera : channel.cameras())
        if (camera.id == id) return &camera;
    return nullptr;
}

// The role of this run: empty in the ordinary suite, "netns" or "lab-desk" in a child run.
inline std::string role() { return environment("VELK_LIVE_CHANNEL_ROLE"); }


// A camera's UDP socket for tests: bound to one loopback address on the channel's port, so the
// channel's replies to that address reach it.
class FakeCameraSocket {
public:
    explicit FakeCameraSocket(const std::string& address, std::uint16_t port = 45454);
    ~FakeCameraSocket();
    bool isOpen() const { return m_fd >= 0; }
    void sendTo(const std::string& host, const std::string& datagram, std::uint16_t port = 45454) const;
    // Datagrams received so far (non-blocking), parsed when JSON.
    std::vector<Json> receiveAll();

private:
    int m_fd = -1;
};

// A TCP identity-probe answerer on one address; runs on its own thread.
class FakeProbeServer {
public:
    enum class Mode { answer, lengthZero, length8193, shortBody, silent };
    FakeProbeServer(const std::string& address, Mode mode, std::string body);
    ~FakeProbeServer();
    bool isOpen() const { return m_fd >= 0; }
    int accepted() const;

private:
    struct State;
    int m_fd = -1;
    std::shared_ptr<State> m_state;
};

// Counts outgoing TCP connections still waiting for an answer (SYN_SENT) in this namespace.
int synSentConnections();
// How many connections were waiting for an answer at one instant. One read of the kernel's table
// is no snapshot: a probe that closes and its successor can both be listed. A connection listed
// by two reads in a row was open all the time between them, so the two reads' common entries
// were all open at once.
int synSentConnectionsAtOnce();
// Whether /proc/net/igmp lists the channel's group on the named interface.
bool igmpGroupOn(const std::string& interfaceName);
// Runs a shell command; true on exit status 0.
bool shell(const std::string& command);
std::string shellOutput(const std::string& command);

} // namespace velk::live_test
