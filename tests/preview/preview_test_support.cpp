#include "preview_test_support.hpp"

#include <chrono>
#include <thread>

#include <csignal>

#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

namespace velk::preview_test {

std::string framesDirectory() { return VELK_BINARY_DIR "/tests/preview/sim-frames"; }

SimPreview::SimPreview(const QStringList& extra, const std::string& address) {
    const QString portFile = m_dir.filePath("port");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that dies must not leave a camera behind holding the runner's output open.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start("/usr/bin/python3", QStringList{VELK_SOURCE_DIR "/tests/sim/sim_preview.py", "--address",
                                                    QString::fromStdString(address), "--port", "0", "--port-file",
                                                    portFile, "--frames-dir", QString::fromStdString(framesDirectory()),
                                                    "--preview-log", m_dir.filePath("log")} +
                                            extra);
    if (!m_process.waitForStarted()) return;
    for (int i = 0; i < 300 && m_process.state() == QProcess::Running; ++i) {
        QFile file(portFile);
        if (file.open(QIODevice::ReadOnly)) {
            m_port = static_cast<std::uint16_t>(file.readAll().trimmed().toUInt());
            if (m_port) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

SimPreview::~SimPreview() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) m_process.kill();
    m_process.waitForFinished(1000);
}

std::vector<Json> SimPreview::log() const {
    std::vector<Json> entries;
    QFile file(m_dir.filePath("log"));
    if (!file.open(QIODevice::ReadOnly)) return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (auto value = json::tryParse(line.toStdString())) entries.push_back(*value);
    }
    return entries;
}

std::vector<int> SimPreview::requests(std::size_t atLeast) const {
    std::vector<int> bytes;
    for (int attempt = 0; attempt < 60; ++attempt) {
        bytes.clear();
        for (const Json& entry : log()) bytes.push_back(entry.value("request", -1));
        if (bytes.size() >= atLeast) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return bytes;
}

std::uint16_t closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace velk::preview_test
