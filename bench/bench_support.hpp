#pragma once
// Small helpers shared by the benchmark programs: wall time, peak memory, temporary folders,
// timing an outside command, and serving clip files from a server on 127.0.0.1.

#include <arpa/inet.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace velk::bench {

inline double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A field of /proc/self/status in KiB (VmHWM: peak resident set, VmRSS: current).
inline long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// Resets the peak resident set to the current one, where the kernel allows it.
inline bool resetPeakRss() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

inline std::filesystem::path makeTempFolder(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// Writes `bytes` of a non-repeating pattern through a small buffer.
inline void writePatternFile(const std::filesystem::path& path, std::size_t bytes, unsigned seed) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot create " + path.string());
    std::string block(64 * 1024, '\0');
    std::size_t written = 0;
    std::uint64_t state = 0x9e3779b97f4a7c15ull ^ seed;
    while (written < bytes) {
        for (std::size_t i = 0; i < block.size(); i += 8) {
            state ^= state << 13; state ^= state >> 7; state ^= state << 17;
            for (int j = 0; j < 8; ++j) block[i + j] = static_cast<char>(state >> (8 * j));
        }
        std::size_t count = std::min(block.size(), bytes - written);
        std::fwrite(block.data(), 1, count, file);
        written += count;
    }
    std::fclose(file);
}

// Runs a shell command with its output discarded; returns the wall seconds, or a negative value
// when it failed.
inline double timeCommand(const std::string& commandLine) {
    double start = nowSeconds();
    int status = std::system((commandLine + " >/dev/null 2>&1").c_str());
    double elapsed = nowSeconds() - start;
    return status == 0 ? elapsed : -1;
}

// Output of a shell command; throws when it cannot run or fails.
inline std::string commandOutput(const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string output;
    char buffer[4096];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, count);
    if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
    return output;
}

// A TCP port on 127.0.0.1 that was free a moment ago.
inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

// Waits up to 10 s for a server to accept on 127.0.0.1:port.
inline bool waitForListener(int port) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// One clip file that a loopback test server serves.
struct Clip {
    std::string id;
    std::filesystem::path source;
    std::int64_t size = 0;
    std::string sha256;
};

// One phone's HTTPS side as nginx on 127.0.0.1 with a certificate made for the run: its catalog
// (`folder`/catalog.json, written by the caller) and clip files with the range and identity headers
// the transfer client checks. It runs in a session of its own. Stopped when destroyed.
class ClipServer {
public:
    ClipServer(const std::filesystem::path& folder, const std::vector<Clip>& clips) {
        port = freeLoopbackPort();
        const std::string cert = (folder / "cert.pem").string();
        const std::string key = (folder / "key.pem").string();
        commandOutput("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=phone.local"
                      " -keyout " + key + " -out " + cert + " 2>/dev/null");
        const std::string printed = commandOutput("openssl x509 -in " + cert + " -noout -fingerprint -sha256");
        for (char c : printed.substr(printed.find('=') + 1)) {
            if (std::isxdigit(static_cast<unsigned char>(c))) fingerprint += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }

        std::filesystem::create_directories(folder / "temp");
        std::ofstream config(folder / "nginx.conf");
        config << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << (folder / "nginx.pid") << ";\n"
               << "error_log " << (folder / "error.log") << ";\n"
               << "events { worker_connections 32; }\n"
               << "http {\n  access_log off;\n"
               << "  client_body_temp_path " << (folder / "temp") << ";\n  proxy_temp_path " << (folder / "temp") << ";\n"
               << "  fastcgi_temp_path " << (folder / "temp") << ";\n  uwsgi_temp_path " << (folder / "temp") << ";\n"
               << "  scgi_temp_path " << (folder / "temp") << ";\n"
               << "  server {\n    listen 127.0.0.1:" << port << " ssl;\n"
               << "    ssl_certificate " << cert << ";\n    ssl_certificate_key " << key << ";\n"
               << "    location = /velk/v1/catalog { default_type application/json; alias " << (folder / "catalog.json")
               << "; }\n";
        for (const Clip& clip : clips) {
            config << "    location = /velk/v1/files/" << clip.id << " { default_type video/quicktime; etag off; add_header Accept-Ranges bytes always; alias "
                   << clip.source.string() << "; add_header X-VELK-SHA256 " << clip.sha256 << " always; add_header ETag "
                   << "'\"sha256:" << clip.sha256 << "\"' always; }\n";
        }
        config << "  }\n}\n";
        config.close();

        const pid_t bench = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            // A benchmark that is killed takes its servers with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != bench) ::_exit(127);
            // A session of its own, as a phone is a machine of its own: the scheduler then shares
            // the processors between the server and the program measured, instead of counting both
            // as one group.
            ::setsid();
            const std::string prefix = folder.string();
            const std::string conf = (folder / "nginx.conf").string();
            const std::string errors = (folder / "error.log").string();
            ::execl("/usr/sbin/nginx", "nginx", "-p", prefix.c_str(), "-c", conf.c_str(), "-e", errors.c_str(), nullptr);
            ::_exit(127);
        }
        if (m_pid < 0 || !waitForListener(port)) throw std::runtime_error("nginx did not start");
    }
    ~ClipServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    std::string baseURL() const { return "https://127.0.0.1:" + std::to_string(port); }

    int port = 0;
    std::string fingerprint; // SHA-256 of the certificate, lower-case hex


private:
    pid_t m_pid = -1;
};

// Runs this benchmark again inside a private network namespace of its own (`unshare -n`, root only),
// with the role variable set so that the child knows it is the inner run. `setup` is shell run in
// the namespace first (lo is always brought up). Without root it says so and succeeds.
inline int rerunInPrivateNetwork(const char* name, const char* roleVariable, const std::string& setup = {},
                                 const std::string& arguments = {}) {
    if (::geteuid() != 0) {
        std::printf("%s: needs root for a private network namespace; skipped\n", name);
        return 0;
    }
    const std::string self = "/proc/" + std::to_string(::getpid()) + "/exe";
    const std::string command = std::string(roleVariable) + "=1 unshare -n -- sh -c 'ip link set lo up && " +
                                (setup.empty() ? "" : setup + " && ") + "exec \"$0\"" +
                                (arguments.empty() ? "" : " " + arguments) + "' " + self;
    return std::system(command.c_str()) == 0 ? 0 : 1;
}

} // namespace velk::bench
