#pragma once
// Real peers for the HTTPS tests, all on 127.0.0.1 and all stopped when the test ends: openssl
// s_server, nginx and the simulated phone. Certificates are made at test time.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/json.hpp"
#include "support/child_process.hpp"

namespace velk::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

using test::ChildProcess;

int freeLoopbackPort();
// Waits until something accepts TCP connections on 127.0.0.1:port.
bool waitForListener(int port, int timeoutMs = 10'000);
// Runs a shell command; its stdout, or none when it fails.
std::optional<std::string> commandOutput(const std::string& command);
std::string fileText(const std::string& path);

// A self-signed P-256 certificate and key in `folder`; the fingerprint exactly as
// `openssl x509 -fingerprint -sha256` prints it (upper case with colons).
struct TestCertificate {
    std::string certPath;
    std::string keyPath;
    std::string opensslFingerprint;
};
TestCertificate makeSelfSignedCertificate(const TempDir& folder, const std::string& name = "phone");

// The simulated phone (tests/sim/phone_https.py) steered through its command lines.
class SimPhone {
public:
    // `launcher` runs the phone elsewhere (a lab namespace: {"ip", "netns", "exec", NAME}); it then
    // listens on `host`. A phone given an `identity` folder keeps its certificate and device id
    // there: every phone started with that folder is the same phone.
    explicit SimPhone(bool chain = false, const std::vector<std::string>& launcher = {}, std::string host = "127.0.0.1",
                      const std::filesystem::path& identity = {});
    ~SimPhone();
    Json command(const Json& command);
    Json fault(const std::string& route, const std::string& name, const Json& value = nullptr, std::optional<int> times = {});
    Json log();
    void clear();

    int port = 0;
    std::string fingerprint;
    std::string rootFingerprint;
    std::string intermediateFingerprint;
    std::string deviceId;
    std::string sessionId;
    std::string host;
    std::string baseURL() const { return "https://" + host + ":" + std::to_string(port); }

private:
    TempDir m_dir;
    std::optional<ChildProcess> m_process;
};

// nginx serving `root` over TLS on 127.0.0.1 with an extra server block body.
class NginxServer {
public:
    NginxServer(const TempDir& dir, const TestCertificate& certificate, const std::string& locations);
    ~NginxServer();
    int port = 0;

private:
    std::optional<ChildProcess> m_process;
};

} // namespace velk::testing
