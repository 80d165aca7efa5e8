#pragma once
// A system bus that takes every connection and never says a word, as a hung bus daemon does: a
// listening socket nobody reads. libdbus waits for such a bus to let a new connection in with no
// limit of its own; closing the socket ends the connections it kept waiting.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace velk::test {

class SilentBus {
public:
    explicit SilentBus(const std::string& path) : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        std::memcpy(where.sun_path, path.data(), std::min(path.size(), sizeof where.sun_path - 1));
        listening = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
                    ::listen(m_fd, 16) == 0 && ::fcntl(m_fd, F_SETFL, O_NONBLOCK) == 0;
        address = "unix:path=" + path;
    }
    ~SilentBus() {
        for (int connection : m_taken) ::close(connection);
        if (m_fd >= 0) ::close(m_fd);
    }

    // How many connections were made to it so far (each is taken and kept, still unanswered).
    int connectionsMade() {
        for (int connection; (connection = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
            m_taken.push_back(connection);
        }
        return static_cast<int>(m_taken.size());
    }
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

    std::string address;
    bool listening = false;

private:
    int m_fd;
    std::vector<int> m_taken;
};

} // namespace velk::test
