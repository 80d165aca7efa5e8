// Figures of the live preview path, printed, never asserted, each as the application runs it (its
// process set up by startProcess, frames in each stream's FramePool) against glibc's default
// allocator with frames from the heap (no start-up, no pool), measured in the same run:
//   1. JPEG decode time per frame against djpeg on the same ffmpeg frames, each the best of several
//      rounds, in processor time (what a busy machine's other work adds to the wall time is not the
//      decode's own), djpeg's process start-up measured on a tiny frame and taken off;
//   2. CPU of the whole preview path with 8 wall streams at 30 fps and 2 selected streams, as a
//      share of one core, the two sides taking turns;
//   3. last payload byte to the published map, p50 and p95, against the decode time + 20 ms (as
//      the application runs it only);
//   4. resident memory over a churn of hosts and sessions, after the warm-up and at the end;
//   5. processor time of a flat progressive frame of the largest size a camera sends, plain and with
//      its last scan 100 and 499 times more (a few bytes each), as the application decodes them.
// Each side of each figure runs in a process of its own (this program again, with --phase), so
// that neither inherits the other's heap. The simulated cameras (tests/sim/sim_preview.py) listen
// on 127.0.0.11 to 127.0.0.18 port 45455, inside a private network namespace (`unshare -n`, root
// only) that the program re-runs itself in. Short by default; PREVIEW_BENCH_LONG=1 (or --long)
// runs 4 x 20 s of streaming and 2 minutes of churn a side.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QImageWriter>
#include <QProcess>
#include <QTimer>

#include "app/process_start.hpp"
#include "bench_support.hpp"
#include "preview/frame_bounds.hpp"
#include "preview/frame_pool.hpp"
#include "preview/live_preview_store.hpp"
#include "preview/preview_client.hpp"
#include "support/build_paths.hpp"

namespace {

using namespace velk;
using Transport = VELKPreviewClient::Transport;
const char* kRole = "VELK_PREVIEW_BENCH_NETNS";
constexpr int kCameras = 8;
constexpr int kFilesPerProfile = 10;

std::string address(int camera) { return "127.0.0." + std::to_string(11 + camera); }

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6; }

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the event loop, sleeping while nothing happens, so that the CPU figure is the preview's own.
void runFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

double threadCpuSeconds() {
    timespec spec{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spec);
    return static_cast<double>(spec.tv_sec) + static_cast<double>(spec.tv_nsec) / 1e9;
}

// Processor seconds of one run of a program, without a shell in between.
double timeExec(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds(usage.ru_utime) + seconds(usage.ru_stime) : -1;
}

double bestDjpeg(const std::string& file, int rounds) {
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) best = std::min(best, timeExec({"djpeg", "-outfile", "/dev/null", file}));
    return best;
}

bool listening(const std::string& host) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        try {
            int fd = VELKPreviewClient::connect(host, VELKPreviewClient::port, 200);
            VELKPreviewClient::closeSocket(fd, nullptr);
            return true;
        } catch (const VELKPreviewError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return false;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::filesystem::path> frameFiles(const std::string& frames) {
    std::vector<std::filesystem::path> files;
    for (const char* profile : {"wall", "selected"}) {
        for (int i = 1; i <= kFilesPerProfile; ++i) {
            char file[32];
            std::snprintf(file, sizeof file, "%s_%03d.jpg", profile, i);
            files.push_back(std::filesystem::path(frames) / file);
        }
    }
    return files;
}

std::vector<LiveCamera> cameras(const std::vector<int>& hostOf, const std::vector<int>& sessionOf) {
    std::vector<LiveCamera> list;
    for (int i = 0; i < kCameras; ++i) {
        LiveCamera camera;
        camera.id = "cam" + std::to_string(i + 1);
        camera.role = "CAMERA";
        camera.host = address(hostOf[static_cast<std::size_t>(i)]);
        camera.sourceSessionID = "session-" + std::to_string(sessionOf[static_cast<std::size_t>(i)]);
        camera.lastSeen = std::chrono::system_clock::now();
        list.push_back(camera);
    }
    return list;
}

// The client's exchange with every frame from the heap: the side without a pool.
Transport heapExchange(const PreviewExchangeRequest& request, const std::function<bool()>& shouldContinue,
                       const PreviewFrameSink& sink) {
    return VELKPreviewClient::receive(
        request.host, request.port, request.profile, request.preferLegacy, shouldContinue,
        [&](QImage image, Transport transport) { sink(PreviewImage(std::move(image)), transport); },
        request.watch.get(), nullptr);
}

// The store as the application makes it, or with the heap's exchange.
std::unique_ptr<LivePreviewStore> makeStore(bool pooled) {
    LivePreviewStore::Options options;
    if (!pooled) options.exchange = heapExchange;
    return std::make_unique<LivePreviewStore>(options);
}

// The persistent stream of the client, step by step, noting when each frame's last payload byte
// arrived, so that the time to the published map can be measured.
class TimedExchange {
public:
    PreviewExchange exchange() {
        return [this](const PreviewExchangeRequest& request, const std::function<bool()>& shouldContinue,
                      const PreviewFrameSink& sink) {
            const int fd = VELKPreviewClient::connect(request.host, request.port, VELKPreviewClient::persistentConnectTimeoutMs,
                                                      request.watch.get());
            try {
                VELKPreviewClient::sendMode(fd, VELKPreviewClient::persistentMode(request.profile));
                const double interval = VELKPreviewClient::minimumFrameInterval(request.profile);
                double last = -1e9;
                std::string frame;
                while (shouldContinue()) {
                    VELKPreviewClient::readJPEG(fd, frame);
                    const double arrived = bench::nowSeconds();
                    if (arrived - last < interval) continue;
                    QImage image = VELKPreviewClient::decodeJPEG(frame, request.frames.get());
                    if (image.isNull()) continue;
                    {
                        std::lock_guard lock(m_mutex);
                        m_arrivals[image.cacheKey()] = arrived;
                        m_decodes.push_back((bench::nowSeconds() - arrived) * 1000.0);
                    }
                    last = arrived;
                    sink(PreviewImage(std::move(image)), Transport::persistent);
                }
            } catch (...) {
                VELKPreviewClient::closeSocket(fd, request.watch.get());
                throw;
            }
            VELKPreviewClient::closeSocket(fd, request.watch.get());
            return Transport::persistent;
        };
    }
    void published(const LivePreviewStore::FrameMap& frames) {
        const double now = bench::nowSeconds();
        std::lock_guard lock(m_mutex);
        for (const auto& [id, image] : frames) {
            auto it = m_arrivals.find(image.cacheKey());
            if (it == m_arrivals.end()) continue;
            m_latencies.push_back((now - it->second) * 1000.0);
            m_arrivals.erase(it);
        }
    }
    std::vector<double> latencies() {
        std::lock_guard lock(m_mutex);
        return m_latencies;
    }
    std::vector<double> decodes() {
        std::lock_guard lock(m_mutex);
        return m_decodes;
    }

private:
    std::mutex m_mutex;
    std::map<qint64, double> m_arrivals;
    std::vector<double> m_decodes;
    std::vector<double> m_latencies;
};

// --- the phases, each in a process of its own; each prints "figure NAME VALUE" lines ---

struct Phase {
    std::string name;
    bool pooled = true;
    double seconds = 2;
    int rounds = 6;
    std::string frames;
};

void figure(const char* name, double value) { std::printf("figure %s %.6f\n", name, value); }

void decodePhase(const Phase& phase) {
    // One pool a profile, as each stream has its own.
    FramePool wall, selected;
    const auto files = frameFiles(phase.frames);
    double total = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string data = readFile(files[k]);
        FramePool* pool = phase.pooled ? (k < kFilesPerProfile ? &wall : &selected) : nullptr;
        double best = 1e9;
        for (int round = 0; round < phase.rounds; ++round) {
            const double start = threadCpuSeconds();
            const QImage image = VELKPreviewClient::decodeJPEG(data, pool);
            best = std::min(best, threadCpuSeconds() - start);
        }
        total += best;
    }
    figure("decode_ms", total * 1000.0 / static_cast<double>(files.size()));
}

// A flat grey progressive frame of the largest size a camera sends, its last scan `extra` times more.
std::string repeatedScanFrame(int extra) {
    QImage image(VELKPreviewClient::largestFrameLongSide, VELKPreviewClient::largestFrameShortSide, QImage::Format_RGB32);
    image.fill(qRgb(100, 100, 100));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    std::string data = buffer.data().toStdString();
    const std::size_t last = data.rfind("\xFF\xDA"), end = data.size() - 2;
    const std::string scan = data.substr(last, end - last);
    data.resize(end);
    for (int k = 0; k < extra; ++k) data += scan;
    return data + "\xFF\xD9";
}

void scansPhase(const Phase& phase) {
    FramePool pool;
    for (const int extra : {0, 100, 499}) {
        const std::string data = repeatedScanFrame(extra), name = "repeat" + std::to_string(extra);
        double best = 1e9;
        bool decoded = false;
        for (int round = 0; round < phase.rounds; ++round) {
            const double start = threadCpuSeconds();
            try {
                decoded = !VELKPreviewClient::decodeJPEG(data, &pool).isNull();
            } catch (const VELKPreviewError&) {
                decoded = false;
            }
            best = std::min(best, threadCpuSeconds() - start);
        }
        figure((name + "_ms").c_str(), best * 1000.0);
        figure((name + "_decoded").c_str(), decoded ? 1 : 0);
    }
}

void cpuPhase(const Phase& phase) {
    std::vector<int> hostOf(kCameras), sessionOf(kCameras, 0);
    for (int i = 0; i < kCameras; ++i) hostOf[static_cast<std::size_t>(i)] = i;
    auto store = makeStore(phase.pooled);
    long wallFrames = 0, selectedFrames = 0;
    QObject::connect(store.get(), &LivePreviewStore::wallFramesChanged, [&] { ++wallFrames; });
    QObject::connect(store.get(), &LivePreviewStore::selectedFramesChanged, [&] { ++selectedFrames; });
    store->start(cameras(hostOf, sessionOf));
    store->select({"cam1", "cam2"});
    QTimer tick; // the camera channel's liveness tick keeps the cameras online
    QObject::connect(&tick, &QTimer::timeout, [&] { store->update(cameras(hostOf, sessionOf)); });
    tick.start(1000);
    runFor(1.0);
    wallFrames = selectedFrames = 0;
    const double cpuStart = cpuSeconds(), wallStart = bench::nowSeconds();
    runFor(phase.seconds);
    const double cpu = cpuSeconds() - cpuStart, elapsed = bench::nowSeconds() - wallStart;
    figure("cpu_seconds", cpu);
    figure("elapsed_seconds", elapsed);
    figure("wall_frames", static_cast<double>(wallFrames));
    figure("selected_frames", static_cast<double>(selectedFrames));
    store->stop();
    runFor(0.5);
}

void latencyPhase(const Phase& phase) {
    std::vector<int> hostOf(kCameras), sessionOf(kCameras, 0);
    for (int i = 0; i < kCameras; ++i) hostOf[static_cast<std::size_t>(i)] = i;
    TimedExchange timed;
    LivePreviewStore::Options options;
    options.exchange = timed.exchange();
    LivePreviewStore store(options);
    QObject::connect(&store, &LivePreviewStore::wallFramesChanged, [&] { timed.published(store.wallFrames()); });
    QObject::connect(&store, &LivePreviewStore::selectedFramesChanged, [&] { timed.published(store.selectedFrames()); });
    store.start(cameras(hostOf, sessionOf));
    store.select({"cam1", "cam2"});
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { store.update(cameras(hostOf, sessionOf)); });
    tick.start(1000);
    runFor(phase.seconds);
    store.stop();
    runFor(0.5);
    figure("frames", static_cast<double>(timed.latencies().size()));
    figure("p50_ms", percentile(timed.latencies(), 0.5));
    figure("p95_ms", percentile(timed.latencies(), 0.95));
    figure("decode_p95_ms", percentile(timed.decodes(), 0.95));
}

void churnPhase(const Phase& phase) {
    std::vector<int> hostOf(kCameras), sessionOf(kCameras, 0);
    for (int i = 0; i < kCameras; ++i) hostOf[static_cast<std::size_t>(i)] = i;
    auto store = makeStore(phase.pooled);
    store->start(cameras(hostOf, sessionOf));
    store->select({"cam1", "cam2"});
    unsigned state = 12345;
    const auto churn = [&](double seconds) {
        const double end = bench::nowSeconds() + seconds;
        while (bench::nowSeconds() < end) {
            state = state * 1103515245u + 12345u;
            const auto camera = static_cast<std::size_t>((state >> 8) % kCameras);
            if ((state >> 16) & 1) {
                hostOf[camera] = (hostOf[camera] + 1) % kCameras;
            } else {
                ++sessionOf[camera];
            }
            store->update(cameras(hostOf, sessionOf));
            runFor(0.25);
        }
    };
    churn(phase.seconds / 4);
    figure("rss_warm_kib", static_cast<double>(bench::statusKiB("VmRSS")));
    churn(phase.seconds * 3 / 4);
    figure("rss_end_kib", static_cast<double>(bench::statusKiB("VmRSS")));
    store->stop();
    runFor(0.5);
}

int runPhase(const Phase& phase) {
    // The side measured as the application runs sets its process up as the application does.
    if (phase.pooled) startProcess();
    int argc = 1;
    char name[] = "preview_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    if (phase.name == "decode") decodePhase(phase);
    else if (phase.name == "cpu") cpuPhase(phase);
    else if (phase.name == "latency") latencyPhase(phase);
    else if (phase.name == "churn") churnPhase(phase);
    else if (phase.name == "scans") scansPhase(phase);
    else return 2;
    return 0;
}

// --- the driver, in the private network ---

using Figures = std::map<std::string, double>;

// Runs one phase in a process of its own and reads its figures; empty when it failed.
Figures inProcess(const Phase& phase) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::ostringstream command;
    command << "'" << self << "' --phase " << phase.name << " --frames " << (phase.pooled ? "pool" : "heap")
            << " --seconds " << phase.seconds << " --rounds " << phase.rounds << " --frames-dir '" << phase.frames << "'";
    Figures figures;
    std::FILE* pipe = ::popen(command.str().c_str(), "r");
    if (!pipe) return figures;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        char key[64];
        double value = 0;
        if (std::sscanf(line, "figure %63s %lf", key, &value) == 2) figures[key] = value;
    }
    if (::pclose(pipe) != 0) figures.clear();
    return figures;
}

int benchInNamespace(bool longRun) {
    int argc = 1;
    char name[] = "preview_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const double steadySeconds = longRun ? 20 : 2;
    const double churnSeconds = longRun ? 120 : 3;
    const int cpuTurns = longRun ? 4 : 2;

    const auto folder = bench::makeTempFolder("preview-bench");
    const std::string frames = (folder / "frames").string();
    std::vector<std::unique_ptr<QProcess>> sims;
    for (int i = 0; i < kCameras; ++i) {
        auto sim = std::make_unique<QProcess>();
        sim->start("/usr/bin/python3", {QString::fromStdString(test::sourcePath("tests/sim/sim_preview.py")), "--address",
                                        QString::fromStdString(address(i)), "--port", "45455", "--fps", "30",
                                        "--frames-dir", QString::fromStdString(frames)});
        if (!sim->waitForStarted() || !listening(address(i))) {
            std::printf("preview_bench: simulated camera %d did not start\n", i + 1);
            return 1;
        }
        sims.push_back(std::move(sim));
    }
    int status = 0;
    const auto run = [&](Phase phase, bool pooled) {
        phase.pooled = pooled;
        phase.frames = frames;
        Figures figures = inProcess(phase);
        if (figures.empty()) {
            std::printf("preview_bench: the %s phase (%s) failed\n", phase.name.c_str(), pooled ? "pool" : "heap");
            status = 1;
        }
        return figures;
    };
    const auto at = [](const Figures& figures, const char* key) {
        auto it = figures.find(key);
        return it == figures.end() ? 0.0 : it->second;
    };

    // --- 1. decode time against djpeg ---
    const int rounds = longRun ? 40 : 6;
    Figures pooledDecode = run({"decode", true, 0, rounds, {}}, true);
    Figures heapDecode = run({"decode", false, 0, rounds, {}}, false);
    const std::string tiny = (folder / "tiny.jpg").string();
    QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(tiny), "JPEG");
    const double startup = bestDjpeg(tiny, rounds * 2);
    double djpeg = 0;
    const auto files = frameFiles(frames);
    for (const auto& file : files) djpeg += std::max(bestDjpeg(file.string(), rounds) - startup, 1e-6);
    const double djpegMs = djpeg * 1000.0 / static_cast<double>(files.size());
    const double oursMs = at(pooledDecode, "decode_ms"), heapMs = at(heapDecode, "decode_ms");
    std::printf("decode per frame (640x360 and 1280x720), processor time: %.2f ms as the application decodes (its frame pool), %.2f ms "
                "with the default allocator and no pool; djpeg %.2f ms (start-up %.2f ms taken off): ratio %.2f "
                "(target <= 0.9), without the pool %.2f\n",
                oursMs, heapMs, djpegMs, startup * 1000.0, oursMs / djpegMs, heapMs / djpegMs);

    // --- 2. CPU of the preview path, the two sides taking turns ---
    Figures cpu[2];
    for (int turn = 0; turn < cpuTurns; ++turn) {
        for (const bool pooled : {turn % 2 == 1, turn % 2 == 0}) {
            const Figures figures = run({"cpu", pooled, steadySeconds, 0, {}}, pooled);
            for (const auto& [key, value] : figures) cpu[pooled][key] += value;
        }
    }
    const auto share = [&](const Figures& f) { return at(f, "cpu_seconds") / std::max(at(f, "elapsed_seconds"), 1e-9); };
    const auto rate = [&](const Figures& f, const char* key) { return at(f, key) / std::max(at(f, "elapsed_seconds"), 1e-9); };
    std::printf("8 wall + 2 selected streams from 30 fps cameras, %d x %.0f s a side: CPU %.3f of one core as the "
                "application runs (%.1f wall and %.1f selected frames/s published), %.3f with the default allocator "
                "and no pool (%.1f and %.1f): ratio %.2f (target <= 1.1)\n",
                cpuTurns, steadySeconds, share(cpu[1]), rate(cpu[1], "wall_frames"), rate(cpu[1], "selected_frames"),
                share(cpu[0]), rate(cpu[0], "wall_frames"), rate(cpu[0], "selected_frames"),
                share(cpu[1]) / std::max(share(cpu[0]), 1e-9));

    // --- 3. last payload byte to the published map ---
    const Figures latency = run({"latency", true, steadySeconds, 0, {}}, true);
    std::printf("last payload byte to published map over %.0f frames: p50 %.2f ms, p95 %.2f ms; decode p95 %.2f ms; "
                "p95 - decode p95 = %.2f ms (target <= 20)\n",
                at(latency, "frames"), at(latency, "p50_ms"), at(latency, "p95_ms"), at(latency, "decode_p95_ms"),
                at(latency, "p95_ms") - at(latency, "decode_p95_ms"));

    // --- 4. resident memory over a churn of hosts and sessions ---
    const Figures heapChurn = run({"churn", false, churnSeconds, 0, {}}, false);
    const Figures pooledChurn = run({"churn", true, churnSeconds, 0, {}}, true);
    const auto mib = [&](const Figures& f, const char* key) { return at(f, key) / 1024.0; };
    const auto growth = [&](const Figures& f) { return at(f, "rss_end_kib") / std::max(at(f, "rss_warm_kib"), 1.0); };
    std::printf("resident memory over %.0f s of host and session churn: %.1f MiB after warm-up, %.1f MiB at the end as "
                "the application runs (ratio %.3f, target <= 1.02); %.1f MiB and %.1f MiB with the default allocator "
                "and no pool (ratio %.3f)\n",
                churnSeconds, mib(pooledChurn, "rss_warm_kib"), mib(pooledChurn, "rss_end_kib"), growth(pooledChurn),
                mib(heapChurn, "rss_warm_kib"), mib(heapChurn, "rss_end_kib"), growth(heapChurn));

    // --- 5. a frame whose last scan comes again and again, against the plain frame ---
    const Figures scans = run({"scans", true, 0, rounds, {}}, true);
    const auto repeated = [&](const char* extra) {
        const double ms = at(scans, (std::string("repeat") + extra + "_ms").c_str());
        std::printf("; its last scan %s times more %.2f ms, %s (ratio %.2f)", extra, ms,
                    at(scans, (std::string("repeat") + extra + "_decoded").c_str()) ? "decoded" : "refused",
                    ms / std::max(at(scans, "repeat0_ms"), 1e-9));
    };
    std::printf("flat progressive %dx%d frame, processor time: plain %.2f ms", VELKPreviewClient::largestFrameLongSide,
                VELKPreviewClient::largestFrameShortSide, at(scans, "repeat0_ms"));
    repeated("100");
    repeated("499");
    std::printf(" (target: refused, ratio <= 3)\n");

    for (auto& sim : sims) {
        sim->terminate();
        if (!sim->waitForFinished(3000)) sim->kill();
    }
    std::filesystem::remove_all(folder);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool longRun = std::getenv("PREVIEW_BENCH_LONG") != nullptr;
    std::optional<Phase> phase;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--long") {
            longRun = true;
        } else if (argument == "--phase" && hasValue) {
            if (!phase) phase.emplace();
            phase->name = argv[++i];
        } else if (phase && hasValue && argument == "--frames") {
            phase->pooled = std::string(argv[++i]) == "pool";
        } else if (phase && hasValue && argument == "--seconds") {
            phase->seconds = std::atof(argv[++i]);
        } else if (phase && hasValue && argument == "--rounds") {
            phase->rounds = std::atoi(argv[++i]);
        } else if (phase && hasValue && argument == "--frames-dir") {
            phase->frames = argv[++i];
        }
    }
    if (phase) return runPhase(*phase);
    const char* role = std::getenv(kRole);
    if (role && std::string(role) == "1") return benchInNamespace(longRun);
    return velk::bench::rerunInPrivateNetwork("preview_bench", kRole, {}, longRun ? "--long" : "");
}
