#include "preview_test_support.hpp"
#include "support/build_paths.hpp"

#include <chrono>
#include <cstdio>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

namespace velk::preview_test {

std::string framesDirectory() { return test::binaryPath("tests/preview/sim-frames"); }

SimPreview::SimPreview(const QStringList& extra, const std::string& address) {
    const QString portFile = m_dir.filePath("port");
    const QString output = m_dir.filePath("output");
    std::vector<std::string> argv{"/usr/bin/python3",
                                  test::sourcePath("tests/sim/sim_preview.py"),
                                  "--address",
                                  address,
                                  "--port",
                                  "0",
                                  "--port-file",
                                  portFile.toStdString(),
                                  "--frames-dir",
                                  framesDirectory(),
                                  "--preview-log",
                                  m_dir.filePath("log").toStdString()};
    for (const QString& argument : extra) argv.push_back(argument.toStdString());
    m_process = std::make_unique<test::ChildProcess>(argv, output.toStdString());
    for (int i = 0; i < 300 && !m_process->hasExited(); ++i) {
        QFile file(portFile);
        if (file.open(QIODevice::ReadOnly)) {
            m_port = static_cast<std::uint16_t>(file.readAll().trimmed().toUInt());
            if (m_port) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    QFile said(output);
    if (said.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "sim_preview.py did not start:\n%s\n", said.readAll().constData());
    }
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
