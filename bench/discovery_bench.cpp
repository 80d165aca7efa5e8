// Figures of the live camera channel, printed, never asserted:
//   1. status datagrams per second through the whole receive path (socket, order filter, recording
//      view, publish on the GUI thread), against a bare socket drain and against decoding alone;
//   2. receive-to-publish latency, median and 99th percentile;
//   3. resident memory before and after 10^6 status datagrams from distinct camera ids;
//   4. duration of a forced scan of a /24 where nothing answers, against 254 x 0.8 s / 8.
// The channel multicasts and sweeps /24 networks, so the program re-runs itself inside a private
// network namespace (`unshare -n`, root only) and never touches this machine's network.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "app/process_start.hpp"
#include "base/json.hpp"
#include "bench_support.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "discovery/live_camera_packet.hpp"

namespace {

using Clock = std::chrono::steady_clock;
const char* kRole = "VELK_DISCOVERY_BENCH_NETNS";

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long rssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

std::string statusDatagram(const std::string& id, long seq, const std::string& quality) {
    velk::Json envelope = {{"v", 1},
                           {"type", "status"},
                           {"sender", id},
                           {"sessionId", "6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b"},
                           {"seq", seq},
                           {"payload",
                            {{"id", id},
                             {"name", id},
                             {"quality", quality},
                             {"battery", 80},
                             {"leftDb", -20.5},
                             {"rightDb", -21.0},
                             {"cameraReady", true},
                             {"syncVersion", 1},
                             {"previewCapabilities", {{"v", 1}, {"codecs", {"h264"}}, {"transports", {"jpeg-tcp-v1"}}}}}}};
    return velk::json::write(envelope);
}

class Sender {
public:
    explicit Sender(const char* address) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &local.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(45454);
        ::inet_pton(AF_INET, "127.0.0.1", &m_to.sin_addr);
    }
    ~Sender() { ::close(m_fd); }
    void send(const std::string& datagram) {
        ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&m_to), sizeof m_to);
    }

private:
    int m_fd;
    sockaddr_in m_to{};
};

template <class Done>
bool runUntil(Done done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

const velk::LiveCamera* listed(const velk::LiveCameraDiscovery& channel, const std::string& id) {
    for (const auto& camera : channel.cameras())
        if (camera.id == id) return &camera;
    return nullptr;
}

long qualityNumber(const velk::LiveCameraDiscovery& channel, const std::string& id) {
    const velk::LiveCamera* camera = listed(channel, id);
    return camera ? std::atol(camera->quality.c_str()) : -1;
}

// A socket drained as fast as it can be, with nothing done per datagram.
double bareDrainRate(int count, const std::vector<std::string>& datagrams) {
    int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(45999);
    ::inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
    ::bind(receiver, reinterpret_cast<sockaddr*>(&local), sizeof local);
    timeval wait{0, 100'000};
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    char buffer[8193];
    constexpr int window = 32;
    auto start = Clock::now();
    int received = 0;
    int lost = 0;
    for (int sent = 0; sent < count;) {
        for (int i = 0; i < window && sent < count; ++i, ++sent) {
            const std::string& d = datagrams[static_cast<std::size_t>(sent) % datagrams.size()];
            ::sendto(sender, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        while (received + lost < sent) {
            if (::recv(receiver, buffer, sizeof buffer, 0) > 0) ++received;
            else ++lost;
        }
    }
    double rate = received / secondsSince(start);
    ::close(sender);
    ::close(receiver);
    return rate;
}

double decodeRate(int count, const std::vector<std::string>& datagrams) {
    auto start = Clock::now();
    std::size_t ok = 0;
    for (int i = 0; i < count; ++i) ok += velk::decodePacket(datagrams[static_cast<std::size_t>(i) % datagrams.size()]).has_value();
    double rate = count / secondsSince(start);
    if (ok == 0) std::printf("(decoding failed)\n");
    return rate;
}

int benchInNamespace() {
    int argc = 1;
    char name[] = "discovery_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    velk::LiveCameraDiscovery::Options options;
    options.watchSleep = false;
    options.watchNetworkPath = false;

    // --- 1. throughput ---
    {
        constexpr int count = 100'000;
        std::vector<std::string> datagrams;
        for (int i = 0; i < 64; ++i) datagrams.push_back(statusDatagram("front", i + 1, std::to_string(i + 1)));
        double bare = bareDrainRate(count, datagrams);
        double decode = decodeRate(count, datagrams);

        velk::LiveCameraDiscovery channel(options, true, {});
        runUntil([&] { return channel.isListening(); }, 5000);
        Sender sender("127.0.0.2");
        constexpr long window = 64;
        long sent = 0;
        long credit = 0; // the newest sequence known to be through, or given up on
        auto start = Clock::now();
        auto lastProgress = Clock::now();
        while (sent < count) {
            long published = qualityNumber(channel, "front");
            if (published > credit) {
                credit = published;
                lastProgress = Clock::now();
            } else if (secondsSince(lastProgress) > 0.1) {
                credit = sent; // a datagram was lost; go on
                lastProgress = Clock::now();
            }
            while (sent < count && sent - credit < window) {
                ++sent;
                sender.send(statusDatagram("front", sent, std::to_string(sent)));
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            if (secondsSince(start) > 120) break;
        }
        runUntil([&] { return qualityNumber(channel, "front") >= sent; }, 5000);
        double elapsed = secondsSince(start);
        double rate = qualityNumber(channel, "front") / elapsed;
        std::printf("receive path: %.0f datagrams/s published (%ld of %ld); bare socket drain %.0f/s (ratio %.3f); "
                    "decode only %.0f/s (ratio %.3f)\n",
                    rate, qualityNumber(channel, "front"), sent, bare, rate / bare, decode, rate / decode);

        // --- 2. latency, one datagram at a time ---
        std::vector<double> latenciesMs;
        long seq = sent;
        for (int i = 0; i < 2000; ++i) {
            ++seq;
            auto sendAt = Clock::now();
            sender.send(statusDatagram("front", seq, std::to_string(seq)));
            if (!runUntil([&] { return qualityNumber(channel, "front") >= seq; }, 2000)) continue;
            latenciesMs.push_back(secondsSince(sendAt) * 1000);
        }
        std::sort(latenciesMs.begin(), latenciesMs.end());
        if (!latenciesMs.empty()) {
            auto at = [&](double q) { return latenciesMs[static_cast<std::size_t>(q * (latenciesMs.size() - 1))]; };
            std::printf("receive-to-publish latency over %zu datagrams: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                        latenciesMs.size(), at(0.5), at(0.99), latenciesMs.back());
        }
    }

    // --- 3. memory under 10^6 distinct camera ids ---
    {
        constexpr long total = 1'000'000;
        constexpr long batch = 100;
        velk::LiveCameraDiscovery channel(options, true, {});
        runUntil([&] { return channel.isListening(); }, 5000);
        Sender sender("127.0.0.3");
        long marker = 0;
        ++marker;
        sender.send(statusDatagram("marker", marker, std::to_string(marker)));
        runUntil([&] { return qualityNumber(channel, "marker") >= marker; }, 5000);
        long rssStart = 0;
        auto start = Clock::now();
        long sent = 0;
        while (sent < total) {
            for (long i = 0; i < batch - 1 && sent < total; ++i, ++sent)
                sender.send(statusDatagram("cam-" + std::to_string(sent), 1, "x"));
            ++marker;
            sender.send(statusDatagram("marker", marker, std::to_string(marker)));
            runUntil([&] { return qualityNumber(channel, "marker") >= marker; }, 500);
            if (rssStart == 0 && sent >= 10'000) rssStart = rssKiB();
        }
        long rssEnd = rssKiB();
        std::printf("memory: RSS %.1f MiB after 10^4 distinct cameras, %.1f MiB after 10^6 (growth %.2f MiB, "
                    "target within 5 MiB); %zu cameras listed; %.1f s\n",
                    rssStart / 1024.0, rssEnd / 1024.0, (rssEnd - rssStart) / 1024.0, channel.cameras().size(),
                    secondsSince(start));
    }

    // --- 4. a forced scan of a silent /24 ---
    {
        velk::LiveCameraDiscovery channel(options, true, {});
        runUntil([&] { return channel.isListening(); }, 5000);
        runUntil([] { return false; }, 500);
        auto start = Clock::now();
        channel.rescan();
        runUntil([&] { return channel.isActiveScanning(); }, 5000);
        runUntil([&] { return !channel.isActiveScanning(); }, 60'000);
        double seconds = secondsSince(start);
        double bound = 254 * 0.8 / 8;
        std::printf("silent /24 scan: %.2f s (bound 254 x 0.8 s / 8 = %.1f s, ratio %.3f)\n", seconds, bound,
                    seconds / bound);
    }
    return 0;
}

} // namespace

int main() {
    velk::startProcess(); // the process set up as the application sets up its own
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* role = std::getenv(kRole);
    if (role && std::string(role) == "1") return benchInNamespace();
    // lo for the fake cameras; eth0 on 10.88.0.1/24, whose far end answers nothing, for the scan.
    return velk::bench::rerunInPrivateNetwork(
        "discovery_bench", kRole,
        "ip link add eth0 type veth peer name xpeer0 && ip link set eth0 up && ip link set xpeer0 up && "
        "ip addr add 10.88.0.1/24 dev eth0");
}
