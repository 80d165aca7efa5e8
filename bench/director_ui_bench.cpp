// Figures of the Director window's GUI thread, printed, never asserted:
//   1. GUI-thread CPU with 8 wall streams at 30 fps and 2 selected streams from simulated cameras
//      (the real preview store over TCP), camera status republished 16 times a second, as a share
//      of one core and as a ratio to the bare drawing of the same frames (the baseline, measured
//      in this run);
//   2. frames displayed / frames published to the wall, and publish-to-paint p50 / p95;
//   3. the once-a-second liveness tick with 8 recording cameras: handlers and repaint, p50 / max;
//   4. resident memory from after the warm-up to the end.
// The simulated cameras (tests/sim/sim_preview.py) listen on 127.0.0.11 to 127.0.0.18 port 45455
// inside a private network namespace (`unshare -n`, root only) that the program re-runs itself in.
// Short by default (5 s of streaming); DIRECTOR_UI_BENCH_LONG=1 (or --long) streams 5 minutes.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QProcess>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include "app/process_start.hpp"
#include "app/theme.hpp"
#include "bench_support.hpp"
#include "director_window/camera_frame_image.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_services.hpp"
#include "director_window/director_window.hpp"
#include "preview/live_preview_store.hpp"
#include "preview/preview_client.hpp"
#include "store/app_store.hpp"
#include "support/build_paths.hpp"

namespace {

using namespace velk;
const char* kRole = "VELK_DIRECTOR_UI_BENCH_NETNS";
constexpr int kCameras = 8;

std::string address(int camera) { return "127.0.0." + std::to_string(11 + camera); }

double threadCpuSeconds() {
    timespec spec{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spec);
    return static_cast<double>(spec.tv_sec) + static_cast<double>(spec.tv_nsec) / 1e9;
}

void runFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

bool listening(const std::string& host) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        try {
            int fd = VELKPreviewClient::connect(host, VELKPreviewClient::port, 200);
            VELKPreviewClient::closeSocket(fd, nullptr);
            return true;
        } catch (const VELKPreviewError&) {
            QThread::msleep(50);
        }
    }
    return false;
}

// The live channel as the window sees it: eight recording cameras whose status is republished.
class BenchChannel final : public DirectorLiveChannel {
public:
    std::vector<LiveCamera> list;
    std::uint64_t tick = 0;

    void republish(WallTime now) {
        for (auto& camera : list) {
            camera.lastSeen = now;
            camera.leftDB = -20 - static_cast<double>(std::rand() % 20);
        }
        Q_EMIT camerasChanged();
    }
    void emitTick() {
        ++tick;
        Q_EMIT livenessTickChanged();
    }

    const std::vector<LiveCamera>& cameras() const override { return list; }
    std::uint64_t livenessTick() const override { return tick; }
    bool isActiveScanning() const override { return false; }
    std::optional<std::string> lastControlMessage() const override { return std::nullopt; }
    DirectorRecordingStatus recordingStatus() const override { return {}; }
    void clearPairingHandler() override {}
    void rescan() override {}
    void configureRecording(const std::string&) override {}
    void beginRecording(const std::vector<LiveCamera>&, const std::string&, const DirectorTakeAssignment&) override {}
    void stopRecording(const std::vector<LiveCamera>&, const std::string&, bool) override {}
};

int benchInNamespace(bool longRun) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "director_ui_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    Theme::apply(app);
    const double streamSeconds = longRun ? 300 : 5;

    const auto folder = bench::makeTempFolder("director-ui-bench");
    const QString frames = QString::fromStdString((folder / "frames").string());
    std::vector<std::unique_ptr<QProcess>> sims;
    for (int i = 0; i < kCameras; ++i) {
        auto sim = std::make_unique<QProcess>();
        sim->start("/usr/bin/python3", {QString::fromStdString(test::sourcePath("tests/sim/sim_preview.py")), "--address",
                                        QString::fromStdString(address(i)), "--port", "45455", "--fps", "30",
                                        "--frames-dir", frames});
        if (!sim->waitForStarted() || !listening(address(i))) {
            std::printf("director_ui_bench: simulated camera %d did not start\n", i + 1);
            return 1;
        }
        sims.push_back(std::move(sim));
    }

    ManualClock clock(std::chrono::system_clock::now());
    AppStore store(folder / "data", folder / "videos", clock);
    store.createProject("Bench");
    QSettings settings(QString::fromStdString((folder / "settings.ini").string()), QSettings::IniFormat);
    settings.setValue("director.previewNetworkPolicy", "performance5GHz");
    BenchChannel channel;
    for (int i = 0; i < kCameras; ++i) {
        LiveCamera camera;
        camera.id = "cam" + std::to_string(i + 1);
        camera.name = "Camera " + std::to_string(i + 1);
        camera.role = "CAMERA";
        camera.host = address(i);
        camera.aspect = "16:9";
        camera.sourceSessionID = "session-" + std::to_string(i + 1);
        camera.recording = true;
        camera.recordingSinceMs = toWallMs(clock.now()) - 65'000;
        camera.battery = 80;
        camera.lastSeen = clock.now();
        channel.list.push_back(camera);
    }
    auto* store_ = new LivePreviewStore();
    DirectorWindow window(DirectorWindow::Environment{
        .store = store,
        .channel = channel,
        .previews = std::make_unique<LivePreviewStoreFeed>(store_),
        .openWindow = {},
        .clock = clock,
        .settings = &settings,
    });

    // Publication and paint times of every wall frame, by image.
    std::map<qint64, double> publishedAt;
    std::size_t published = 0, displayed = 0;
    std::vector<double> latencies;
    bool measuring = false;
    std::map<std::string, qint64> lastPublished;
    QObject::connect(store_, &LivePreviewStore::wallFramesChanged, &window, [&] {
        const double now = bench::nowSeconds();
        for (const auto& [id, image] : store_->wallFrames()) {
            qint64& last = lastPublished[id];
            if (last == image.cacheKey()) continue;
            last = image.cacheKey();
            if (!measuring) continue;
            ++published;
            publishedAt[image.cacheKey()] = now;
        }
    });
    window.wall()->setFramePaintObserver([&](const std::string&, qint64 key) {
        auto it = publishedAt.find(key);
        if (it == publishedAt.end()) return;
        ++displayed;
        latencies.push_back((bench::nowSeconds() - it->second) * 1000.0);
        publishedAt.erase(it);
    });

    window.show();
    window.startSession();
    window.selectPreview("cam1");
    window.perform(DirectorTransition::cut); // Program cam1
    window.selectPreview("cam2");            // two selected streams: cam1 and cam2

    QTimer status;
    QObject::connect(&status, &QTimer::timeout, &window, [&] {
        clock.setWall(std::chrono::system_clock::now());
        channel.republish(clock.now());
    });
    status.start(1000 / 16);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &window, [&] { channel.emitTick(); });
    tick.start(1000);

    runFor(2); // warm-up: streams connect
    // Resident memory every second: frames in flight make single samples noisy, so the figure
    // is the slope of a fitted line and the first and last fifth's highest samples.
    std::vector<std::pair<double, long>> rss;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &window,
                     [&] { rss.emplace_back(bench::nowSeconds(), bench::statusKiB("VmRSS")); });
    sampler.start(1000);
    measuring = true;
    const double cpuStart = threadCpuSeconds();
    const double wallStart = bench::nowSeconds();
    runFor(streamSeconds);
    const double guiCpu = threadCpuSeconds() - cpuStart;
    const double elapsed = bench::nowSeconds() - wallStart;
    measuring = false;
    sampler.stop();
    double slope = 0; // KiB per minute
    long firstHigh = 0, lastHigh = 0;
    if (rss.size() >= 5) {
        double mt = 0, mr = 0;
        for (const auto& [t, kib] : rss) mt += t, mr += static_cast<double>(kib);
        mt /= static_cast<double>(rss.size());
        mr /= static_cast<double>(rss.size());
        double num = 0, den = 0;
        for (const auto& [t, kib] : rss) num += (t - mt) * (static_cast<double>(kib) - mr), den += (t - mt) * (t - mt);
        slope = den > 0 ? 60 * num / den : 0;
        const std::size_t fifth = std::max<std::size_t>(rss.size() / 5, 1);
        for (std::size_t i = 0; i < fifth; ++i) firstHigh = std::max(firstHigh, rss[i].second);
        for (std::size_t i = rss.size() - fifth; i < rss.size(); ++i) lastHigh = std::max(lastHigh, rss[i].second);
    }
    const std::size_t selectedStreams = store_->selectedFrames().size();
    status.stop();
    tick.stop();

    // Baseline: drawing the same number of frames into tiles of the same size, nothing else.
    const QImage sample = store_->wallFrames().empty() ? QImage(640, 360, QImage::Format_RGB32)
                                                       : store_->wallFrames().begin()->second;
    const QSize tileSize = window.wall()->cell(0)->size();
    QImage target(tileSize, QImage::Format_ARGB32_Premultiplied);
    const double baseStart = threadCpuSeconds();
    for (std::size_t i = 0; i < std::max<std::size_t>(displayed, 1); ++i) {
        QPainter painter(&target);
        drawCameraFrame(painter, QRectF(0, 0, tileSize.width(), tileSize.height() - 25), sample, 0);
    }
    const double baseline = threadCpuSeconds() - baseStart;

    // The liveness tick: 8 recording cameras whose running time advances a second each tick.
    window.previews().stop();
    runFor(0.3);
    std::vector<double> ticks, handlers;
    for (int i = -2; i < 30; ++i) { // two ticks first: the tiles settle after the streams stopped
        clock.setWall(clock.now() + std::chrono::seconds(1));
        for (auto& camera : channel.list) camera.lastSeen = clock.now();
        QElapsedTimer timer;
        timer.start();
        channel.emitTick();
        const double handled = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        QCoreApplication::processEvents(); // the repaint of what changed
        if (i < 0) continue;
        handlers.push_back(handled);
        ticks.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    window.close();
    for (auto& sim : sims) {
        sim->kill();
        sim->waitForFinished(3000);
    }
    std::filesystem::remove_all(folder);

    std::printf("director_ui_bench (%s, %.0f s of streaming, tiles %dx%d)\n", longRun ? "long" : "short", elapsed,
                tileSize.width(), tileSize.height());
    std::printf("  GUI thread CPU            %.1f %% of one core (target < 40 %%); %.1fx the bare drawing of the displayed frames (%.1f %%)\n",
                100.0 * guiCpu / elapsed, guiCpu / std::max(baseline, 1e-9), 100.0 * baseline / elapsed);
    std::printf("  selected streams running  %zu (target 2)\n", selectedStreams);
    std::printf("  wall frames               %zu published, %zu displayed: %.1f %% (target >= 95 %%); %.1f frames/s\n",
                published, displayed, published ? 100.0 * static_cast<double>(displayed) / static_cast<double>(published) : 0.0,
                static_cast<double>(published) / elapsed);
    std::printf("  publish to paint          p50 %.1f ms, p95 %.1f ms (target p95 < 50 ms)\n", percentile(latencies, 0.5),
                percentile(latencies, 0.95));
    std::printf("  liveness tick (8 cameras) p50 %.2f ms, p95 %.2f ms, max %.2f ms (target < 5 ms); handlers alone p50 %.2f ms\n",
                percentile(ticks, 0.5), percentile(ticks, 0.95), *std::max_element(ticks.begin(), ticks.end()),
                percentile(handlers, 0.5));
    std::printf("  resident memory           highest %ld KiB in the first fifth, %ld KiB in the last (%+ld KiB); "
                "fitted slope %+.0f KiB/min over %zu samples\n",
                firstHigh, lastHigh, lastHigh - firstHigh, slope, rss.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    velk::startProcess(); // the process set up as the application sets up its own
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool longRun = std::getenv("DIRECTOR_UI_BENCH_LONG") != nullptr;
    for (int i = 1; i < argc; ++i) longRun = longRun || std::string(argv[i]) == "--long";
    const char* role = std::getenv(kRole);
    if (role && std::string(role) == "1") return benchInNamespace(longRun);
    return velk::bench::rerunInPrivateNetwork("director_ui_bench", kRole, {}, longRun ? "--long" : "");
}
