#pragma once
// The simulated camera's preview server (tests/sim/sim_preview.py) as a child process of a test.

#include <memory>
#include <string>
#include <vector>

#include <QStringList>
#include <QTemporaryDir>

#include "base/json.hpp"
#include "support/child_process.hpp"

namespace velk::preview_test {

// Where the ffmpeg frames are kept between test programs.
std::string framesDirectory();

class SimPreview {
public:
    // Listens on `address` at a free port; extra arguments are sim_preview.py switches.
    explicit SimPreview(const QStringList& extra = {}, const std::string& address = "127.0.0.1");
    bool isListening() const { return m_port != 0; }
    std::uint16_t port() const { return m_port; }
    // The request bytes of the connections it has finished, in order, once there are at least
    // `atLeast` (or after a few seconds).
    std::vector<int> requests(std::size_t atLeast = 0) const;
    std::vector<Json> log() const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<test::ChildProcess> m_process;
    std::uint16_t m_port = 0;
};

// A loopback port on which nothing listens.
std::uint16_t closedPort();

} // namespace velk::preview_test
