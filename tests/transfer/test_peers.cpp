#include "support/build_paths.hpp"
#include "test_peers.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace velk::testing {

namespace {

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velk-transfer-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

int freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("no free port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool waitForListener(int port, int timeoutMs) {
    const double deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (connected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::optional<std::string> commandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string output;
    char chunk[4096];
    std::size_t count = 0;
    while ((count = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, count);
    if (pclose(pipe) != 0) return std::nullopt;
    return output;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TestCertificate makeSelfSignedCertificate(const TempDir& folder, const std::string& name) {
    TestCertificate certificate{folder / (name + "-cert.pem"), folder / (name + "-key.pem"), {}};
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=" +
                             name + ".local -keyout " + certificate.keyPath + " -out " + certificate.certPath + " 2>/dev/null";
    if (!commandOutput(make)) throw std::runtime_error("openssl req failed");
    auto printed = commandOutput("openssl x509 -in " + certificate.certPath + " -noout -fingerprint -sha256");
    if (!printed) throw std::runtime_error("openssl x509 failed");
    const auto equals = printed->find('=');
    certificate.opensslFingerprint = printed->substr(equals + 1);
    while (!certificate.opensslFingerprint.empty() && std::isspace(static_cast<unsigned char>(certificate.opensslFingerprint.back()))) {
        certificate.opensslFingerprint.pop_back();
    }
    return certificate;
}

SimPhone::SimPhone(bool chain, const std::vector<std::string>& launcher, std::string host,
                   const std::filesystem::path& identity)
    : host(std::move(host)) {
    std::vector<std::string> argv = launcher;
    for (std::string arg : {std::string("/usr/bin/python3"), test::sourcePath("tests/sim/phone_https.py"),
                            std::string("--dir"), m_dir.path().string(), std::string("--host"), this->host}) {
        argv.push_back(std::move(arg));
    }
    if (chain) argv.push_back("--chain");
    if (!identity.empty()) argv.insert(argv.end(), {"--identity", identity.string()});
    m_process.emplace(argv, "", true);
    auto hello = m_process->readLine(20'000);
    if (!hello) throw std::runtime_error("the simulated phone did not start");
    const Json parsed = json::parse(*hello);
    port = static_cast<int>(json::requireInt64(parsed, "port"));
    fingerprint = json::requireString(parsed, "fingerprint");
    rootFingerprint = json::optionalString(parsed, "rootFingerprint").value_or("");
    intermediateFingerprint = json::optionalString(parsed, "intermediateFingerprint").value_or("");
    deviceId = json::requireString(parsed, "deviceId");
    sessionId = json::requireString(parsed, "sessionId");
}

SimPhone::~SimPhone() {
    try {
        m_process->writeLine("{\"cmd\":\"quit\"}");
        m_process->readLine(2000);
    } catch (...) {
    }
    m_process->stop();
}

Json SimPhone::command(const Json& command) {
    m_process->writeLine(command.dump());
    auto line = m_process->readLine();
    if (!line) throw std::runtime_error("the simulated phone did not answer");
    Json answer = json::parse(*line);
    if (answer.value("ok", false) != true) throw std::runtime_error("simulated phone: " + *line);
    return answer;
}

Json SimPhone::fault(const std::string& route, const std::string& name, const Json& value, std::optional<int> times) {
    Json request{{"cmd", "fault"}, {"route", route}, {"fault", name}, {"value", value}};
    if (times) request["times"] = *times;
    return command(request);
}

Json SimPhone::log() { return command(Json{{"cmd", "log"}}).at("log"); }

void SimPhone::clear() { command(Json{{"cmd", "clear"}}); }

NginxServer::NginxServer(const TempDir& dir, const TestCertificate& certificate, const std::string& locations) {
    port = freeLoopbackPort();
    std::filesystem::create_directories(dir.path() / "temp");
    std::ofstream config(dir / "nginx.conf");
    config << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << (dir / "nginx.pid") << ";\n"
           << "error_log " << (dir / "error.log") << ";\n"
           << "events { worker_connections 32; }\n"
           << "http {\n  access_log " << (dir / "access.log") << ";\n"
           << "  client_body_temp_path " << (dir / "temp") << ";\n  proxy_temp_path " << (dir / "temp") << ";\n"
           << "  fastcgi_temp_path " << (dir / "temp") << ";\n  uwsgi_temp_path " << (dir / "temp") << ";\n"
           << "  scgi_temp_path " << (dir / "temp") << ";\n"
           << "  server {\n    listen 127.0.0.1:" << port << " ssl;\n"
           << "    ssl_certificate " << certificate.certPath << ";\n    ssl_certificate_key " << certificate.keyPath << ";\n"
           << "    root " << (dir / "www") << ";\n"
           << locations << "\n  }\n}\n";
    config.close();
    m_process.emplace(std::vector<std::string>{"/usr/sbin/nginx", "-p", dir.path().string(), "-c", dir / "nginx.conf", "-e",
                                               dir / "error.log"},
                      dir / "nginx.out");
    if (!waitForListener(port)) throw std::runtime_error("nginx did not start: " + fileText(dir / "error.log"));
}

NginxServer::~NginxServer() { m_process->stop(); }

} // namespace velk::testing
