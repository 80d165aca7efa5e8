#include "live_camera_test_support.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk::live_test {

FakeCameraSocket::FakeCameraSocket(const std::string& address, std::uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return;
    int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

FakeCameraSocket::~FakeCameraSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

void FakeCameraSocket::sendTo(const std::string& host, const std::string& datagram, std::uint16_t port) const {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &destination.sin_addr);
    ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&destination), sizeof destination);
}

std::vector<Json> FakeCameraSocket::receiveAll() {
    std::vector<Json> out;
    char buffer[9000];
    for (;;) {
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        if (auto value = json::tryParse(std::string_view(buffer, static_cast<std::size_t>(n)))) out.push_back(*value);
    }
    return out;
}

struct FakeProbeServer::State {
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    std::thread thread;
};

FakeProbeServer::FakeProbeServer(const std::string& address, Mode mode, std::string body)
    : m_state(std::make_shared<State>()) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return;
    int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(45455);
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(m_fd, 16) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    int fd = m_fd;
    m_state->thread = std::thread([fd, mode, body = std::move(body), state = m_state] {
        while (!state->stopping) {
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) continue;
            int connection = ::accept(fd, nullptr, nullptr);
            if (connection < 0) continue;
            ++state->accepted;
            char request = 0;
            pollfd readable{connection, POLLIN, 0};
            if (::poll(&readable, 1, 1000) > 0 && ::recv(connection, &request, 1, 0) == 1 && request == 3) {
                auto header = [](std::uint32_t n) {
                    return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
                };
                std::string reply;
                switch (mode) {
                case Mode::answer: reply = header(static_cast<std::uint32_t>(body.size())) + body; break;
                case Mode::lengthZero: reply = header(0); break;
                case Mode::length8193: reply = header(8193) + std::string(8193, ' '); break;
                case Mode::shortBody: reply = header(static_cast<std::uint32_t>(body.size() + 10)) + body; break;
                case Mode::silent: break;
                }
                if (!reply.empty()) ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
                if (mode == Mode::shortBody || mode == Mode::silent) {
                    // Hold the connection open: the prober must give up on its own.
                    for (int i = 0; i < 30 && !state->stopping; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
            }
            ::close(connection);
        }
    });
}

FakeProbeServer::~FakeProbeServer() {
    m_state->stopping = true;
    if (m_state->thread.joinable()) m_state->thread.join();
    if (m_fd >= 0) ::close(m_fd);
}

int FakeProbeServer::accepted() const { return m_state->accepted; }

namespace {

std::set<std::string> synSentSockets() {
    std::ifstream file("/proc/net/tcp");
    std::string line;
    std::getline(file, line);
    std::set<std::string> sockets;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "02") sockets.insert(local + ' ' + remote);
    }
    return sockets;
}

} // namespace

int synSentConnections() { return static_cast<int>(synSentSockets().size()); }

int synSentConnectionsAtOnce() {
    const auto first = synSentSockets();
    const auto second = synSentSockets();
    return static_cast<int>(std::count_if(first.begin(), first.end(), [&](const auto& s) { return second.contains(s); }));
}

bool igmpGroupOn(const std::string& interfaceName) {
    std::ifstream file("/proc/net/igmp");
    std::string line;
    bool inInterface = false;
    while (std::getline(file, line)) {
        if (!line.empty() && line[0] != '\t' && line[0] != ' ') {
            std::istringstream fields(line);
            std::string index, name;
            fields >> index >> name;
            inInterface = name == interfaceName;
            continue;
        }
        // 239.255.71.42 as the kernel prints it.
        if (inInterface && line.find("2A47FFEF") != std::string::npos) return true;
    }
    return false;
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string shellOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

} // namespace velk::live_test
