// The store's downloads against curl fetching the same files from the same servers in the same run,
// from nginx and from the project's simulated phone (tests/sim/phone_https.py):
//   - "Download Take" of four clips from one phone, against curl fetching the four files one after
//     another on one connection;
//   - "Download Whole Project" from two phones with two clips each, against curl fetching the same
//     files two at a time;
//   - "Download Take" of one clip, against curl reading the same 8 MiB ranges on one connection; the
//     difference is set against `openssl dgst -sha256` of the copy, the floor the last read sets;
//   - the longest the GUI thread goes without running its 10 ms timer during those downloads, beside
//     a library of 1,000 takes x 8 clips, against the same timer with nothing to do;
//   - with --memory, the peak resident memory that two concurrent 4 GiB downloads add.
// Every measurement starts after `sync` and writes new files, removed once it is measured; curl and
// the store take turns going first. Figures are medians over the rounds with their range. Each
// server runs in a session of its own, as a phone is a machine of its own: with the kernel's
// automatic grouping, the scheduler then shares the processors between it and the program measured
// (the store, or curl) instead of counting both as one group.
// Prints figures; asserts nothing of them, but stops should curl not have fetched every byte.
//
//   store_download_bench [--quick] [--rounds N] [--memory] [--timeline] [--only TEXT]
//       --quick: clips of 64 MiB (the single clip 32 MiB, the memory clips 256 MiB).
//       --only: measures only the scenarios whose label holds TEXT ("Take, 4 clips, nginx").
//       --timeline: prints when each clip's row changed, for every store download.
//
// Every server listens on 127.0.0.1 only and is stopped before the program ends; should the program
// be killed instead, the kernel kills its servers with it.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "app/process_start.hpp"
#include "base/json.hpp"
#include "bench_support.hpp"
#include "export/drift_engine.hpp"
#include "store/app_store.hpp"
#include "test_peers.hpp"
#include "transfer/transfer_protocol.hpp"

using namespace velk;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t MiB = std::int64_t{1} << 20;

struct Source {
    fs::path file;
    std::int64_t size = 0;
    std::string sha256;
};

struct ServedClip {
    std::string id;
    const Source* source = nullptr;
};

// One take of one project as a phone's catalog lists it.
struct ServedTake {
    std::string projectId;
    std::string takeId;
    std::vector<ServedClip> clips;
};

Json catalogOf(const std::string& deviceId, const std::string& name, const std::vector<ServedTake>& takes) {
    std::map<std::string, Json> projects;
    for (const ServedTake& take : takes) {
        Json clips = Json::array();
        int camera = 0;
        for (const ServedClip& clip : take.clips) {
            clips.push_back(Json{{"clipId", clip.id}, {"cameraId", name + " cam " + std::to_string(++camera)},
                                 {"fileName", "clip.mov"}, {"sizeBytes", clip.source->size}, {"sha256", clip.source->sha256},
                                 {"finalized", true}, {"mediaKind", "video"}, {"hasVideo", true}, {"hasAudio", true},
                                 {"downloadURL", "/velk/v1/files/" + clip.id}});
        }
        Json& project = projects[take.projectId];
        if (project.is_null()) {
            project = Json{{"projectId", take.projectId}, {"name", "Bench " + take.projectId.substr(0, 8)}, {"revision", 1},
                           {"takes", Json::array()}};
        }
        project["takes"].push_back(Json{{"takeId", take.takeId}, {"projectId", take.projectId}, {"clips", clips}});
    }
    Json list = Json::array();
    for (auto& [id, project] : projects) list.push_back(project);
    return Json{{"schemaVersion", 1}, {"deviceId", deviceId}, {"deviceName", name}, {"catalogRevision", 1}, {"projects", list}};
}

// One phone on 127.0.0.1: nginx, or the simulated phone, serving its catalog and clip files.
class Phone {
public:
    virtual ~Phone() = default;
    virtual std::string baseURL() const = 0;
    // The header curl sends to reach a clip file (the simulated phone asks for its session).
    virtual std::string sessionHeader() const = 0;
    std::string curlOptions() const { return sessionHeader().empty() ? "" : "-H '" + sessionHeader() + "' "; }
    virtual DiscoveredDevice device() const = 0;
    std::string fileURL(const std::string& clipId) const { return baseURL() + "/velk/v1/files/" + clipId; }
};

DiscoveredDevice deviceOf(const std::string& name, const std::string& baseURL, const std::string& deviceId,
                          const std::string& sessionId, const std::string& fingerprint) {
    DiscoveredDevice device;
    device.serviceName = name;
    device.catalogURL = baseURL + "/velk/v1/catalog";
    device.serviceType = "_velk-transfer._tcp.";
    device.deviceId = deviceId;
    device.sessionId = sessionId;
    device.certificateSHA256 = fingerprint;
    device.foregroundOnly = true;
    device.transferAccess = "open";
    return device;
}

class NginxPhone final : public Phone {
public:
    NginxPhone(const fs::path& folder, std::string name, std::string deviceId, const std::vector<ServedTake>& takes)
        : m_name(std::move(name)), m_deviceId(std::move(deviceId)) {
        fs::create_directories(folder);
        std::ofstream(folder / "catalog.json") << catalogOf(m_deviceId, m_name, takes).dump();
        std::vector<bench::Clip> clips;
        for (const ServedTake& take : takes) {
            for (const ServedClip& clip : take.clips) {
                clips.push_back(bench::Clip{clip.id, clip.source->file, clip.source->size, clip.source->sha256});
            }
        }
        m_server = std::make_unique<bench::ClipServer>(folder, clips);
    }
    std::string baseURL() const override { return m_server->baseURL(); }
    std::string sessionHeader() const override { return {}; }
    DiscoveredDevice device() const override {
        return deviceOf(m_name, baseURL(), m_deviceId, "9a8b7c6d-1234-4abc-8def-0123456789ab", m_server->fingerprint);
    }

private:
    std::string m_name;
    std::string m_deviceId;
    std::unique_ptr<bench::ClipServer> m_server;
};

class SimulatedPhone final : public Phone {
public:
    SimulatedPhone(std::string name, std::string deviceId, const std::vector<ServedTake>& takes)
        : m_name(std::move(name)), m_phone(false, {"/usr/bin/setsid"}) {
        m_phone.command(Json{{"cmd", "config"}, {"open", true}, {"deviceId", deviceId}});
        m_phone.deviceId = deviceId;
        for (const ServedTake& take : takes) {
            for (const ServedClip& clip : take.clips) {
                m_phone.command(Json{{"cmd", "file"}, {"clipId", clip.id}, {"path", clip.source->file.string()}});
            }
        }
        m_phone.command(Json{{"cmd", "catalog"}, {"body", catalogOf(deviceId, m_name, takes)}});
    }
    std::string baseURL() const override { return m_phone.baseURL(); }
    std::string sessionHeader() const override { return "X-VELK-Session-ID: " + m_phone.sessionId; }
    DiscoveredDevice device() const override {
        return deviceOf(m_name, baseURL(), m_phone.deviceId, m_phone.sessionId, m_phone.fingerprint);
    }

private:
    std::string m_name;
    testing::SimPhone m_phone;
};

// The application, timing every event the GUI thread handles.
class TimedApplication final : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        const bool handled = QCoreApplication::notify(receiver, event);
        longestTaskNs = std::max(longestTaskNs, timer.nsecsElapsed());
        return handled;
    }
    qint64 longestTaskNs = 0;
};

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// How long this thread has waited, runnable, for a processor (the scheduler's own count).
double runQueueWaitMs() {
    std::ifstream in("/proc/thread-self/schedstat");
    double running = 0, waiting = 0;
    in >> running >> waiting;
    return waiting / 1e6;
}

// Runs the event loop until the operation calls back, timing the longest gap between 10 ms ticks,
// how much of it the GUI thread spent running, and the longest single event it handled.
struct Watched {
    double seconds = 0;
    double longestGapMs = 0;
    double cpuInLongestGapMs = 0;
    double runQueueInLongestGapMs = 0;
    double longestTaskMs = 0;
};
Watched runWatched(const std::function<void(std::function<void()>)>& operation) {
    bool finished = false;
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longest = 0;
    double lastCpu = threadCpuMs();
    double lastWait = runQueueWaitMs();
    double cpuInLongest = 0;
    double waitInLongest = 0;
    auto* application = static_cast<TimedApplication*>(QCoreApplication::instance());
    application->longestTaskNs = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double cpu = threadCpuMs();
        const double wait = runQueueWaitMs();
        if (now - lastTick > longest) {
            longest = now - lastTick;
            cpuInLongest = cpu - lastCpu;
            waitInLongest = wait - lastWait;
        }
        lastTick = now;
        lastCpu = cpu;
        lastWait = wait;
    });
    timer.start();
    const double start = bench::nowSeconds();
    operation([&] { finished = true; });
    while (!finished) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    const double seconds = bench::nowSeconds() - start;
    const qint64 now = clock.nsecsElapsed();
    if (now - lastTick > longest) {
        longest = now - lastTick;
        cpuInLongest = threadCpuMs() - lastCpu;
    }
    return Watched{seconds, static_cast<double>(longest) / 1e6, cpuInLongest, waitInLongest,
                   static_cast<double>(application->longestTaskNs) / 1e6};
}

// Values over the rounds.
class Series {
public:
    void add(double value) { m_values.push_back(value); }
    double median() const {
        std::vector<double> sorted = m_values;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        if (n == 0) return 0;
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    double low() const { return m_values.empty() ? 0 : *std::min_element(m_values.begin(), m_values.end()); }
    double high() const { return m_values.empty() ? 0 : *std::max_element(m_values.begin(), m_values.end()); }
    std::string text(const char* format = "%.2f") const {
        char buffer[160];
        std::string f = std::string(format) + " (" + format + "-" + format + ")";
        std::snprintf(buffer, sizeof buffer, f.c_str(), median(), low(), high());
        return buffer;
    }

private:
    std::vector<double> m_values;
};

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double timed(const std::string& command) {
    const double seconds = bench::timeCommand(command);
    if (seconds < 0) throw std::runtime_error("failed: " + command);
    return seconds;
}

void settle() { bench::timeCommand("sync"); }

struct Scenario {
    std::string label;
    std::string projectId;
    std::string takeId;      // empty: the whole project
    std::vector<const Phone*> phones; // in the order of the clips
    std::vector<ServedTake> served;   // per phone
    Series store, curl, ratio, stallMs, stallCpuMs, stallWaitMs, longestTaskMs;
    Series opensslSeconds, overFloor; // one-clip scenarios only
};

} // namespace

int main(int argc, char** argv) {
    velk::startProcess(); // the process set up as the application sets up its own
    bool quick = false;
    bool memory = false;
    bool showTimeline = false;
    int rounds = 5;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        if (std::strcmp(argv[i], "--memory") == 0) memory = true;
        if (std::strcmp(argv[i], "--timeline") == 0) showTimeline = true;
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    }
    const std::int64_t size = quick ? 64 * MiB : 512 * MiB;
    const std::int64_t singleSize = quick ? 32 * MiB : 256 * MiB;
    const std::int64_t memorySize = quick ? 256 * MiB : 4096 * MiB;
    TimedApplication application(argc, argv);
    const fs::path folder = bench::makeTempFolder("velk-store-download-bench");
    int status = 0;
    try {
        std::printf("store_download_bench: clips of %lld MiB (one clip of %lld MiB), %d rounds, beside a library of 1,000 "
                    "takes x 8 clips; load average at start %s\n",
                    static_cast<long long>(size / MiB), static_cast<long long>(singleSize / MiB), rounds,
                    loadAverage().c_str());
        fs::create_directories(folder / "www");
        std::vector<Source> sources(5);
        for (std::size_t i = 0; i < sources.size(); ++i) {
            sources[i].file = folder / "www" / ("source-" + std::to_string(i) + ".bin");
            sources[i].size = i < 4 ? size : singleSize;
            bench::writePatternFile(sources[i].file, static_cast<std::size_t>(sources[i].size), static_cast<unsigned>(i + 1));
            sources[i].sha256 = DriftEngine::sha256(sources[i].file);
        }
        // Both sides read the served files from the page cache.
        for (const Source& source : sources) bench::timeCommand("cat '" + source.file.string() + "'");

        int clipNumber = 0;
        auto clipId = [&] {
            char text[64];
            std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", ++clipNumber);
            return std::string(text);
        };
        auto clipsOf = [&](std::initializer_list<int> indexes) {
            std::vector<ServedClip> clips;
            for (int index : indexes) clips.push_back(ServedClip{clipId(), &sources[static_cast<std::size_t>(index)]});
            return clips;
        };

        // Per server kind: one phone with a take of four clips and a take of one clip; two phones
        // sharing one take of a project, two clips each.
        std::vector<std::unique_ptr<Phone>> phones;
        std::vector<Scenario> scenarios;
        int projectNumber = 0;
        auto projectId = [&] {
            char text[64];
            std::snprintf(text, sizeof text, "%08d-2222-4333-8444-555555555555", ++projectNumber);
            return std::string(text);
        };
        int deviceNumber = 0;
        for (const std::string kind : {"nginx", "simulated phone"}) {
            auto makePhone = [&](const std::string& name, const std::vector<ServedTake>& takes) -> const Phone* {
                char deviceId[17];
                std::snprintf(deviceId, sizeof deviceId, "%016x", 0xa0 + ++deviceNumber);
                if (kind == "nginx") {
                    phones.push_back(std::make_unique<NginxPhone>(folder / ("phone-" + std::to_string(deviceNumber)), name,
                                                                  deviceId, takes));
                } else {
                    phones.push_back(std::make_unique<SimulatedPhone>(name, deviceId, takes));
                }
                return phones.back().get();
            };
            const std::string takeProject = projectId();
            const ServedTake four{takeProject, "four", clipsOf({0, 1, 2, 3})};
            const ServedTake one{takeProject, "one", clipsOf({4})};
            const Phone* single = makePhone(kind + " Take", {four, one});
            const std::string wholeProject = projectId();
            const ServedTake left{wholeProject, "take-1", clipsOf({0, 1})};
            const ServedTake right{wholeProject, "take-1", clipsOf({2, 3})};
            const Phone* leftPhone = makePhone(kind + " Left", {left});
            const Phone* rightPhone = makePhone(kind + " Right", {right});
            scenarios.push_back(Scenario{"Download Take, 4 clips, " + kind, takeProject, "four", {single}, {four}});
            scenarios.push_back(Scenario{"Download Whole Project, 2 phones x 2 clips, " + kind, wholeProject, "",
                                         {leftPhone, rightPhone}, {left, right}});
            scenarios.push_back(Scenario{"Download Take, 1 clip, " + kind, takeProject, "one", {single}, {one}});
        }

        std::erase_if(scenarios, [&](const Scenario& scenario) { return scenario.label.find(only) == std::string::npos; });

        // The library already holds an archive project of 1,000 takes of 8 clips, as a season of
        // recordings would: every save and every row update meets a library of that size.
        {
            VELKLibrary archive;
            VELKProject project{"99999999-2222-4333-8444-555555555555", "Archive", 1, {}};
            for (int t = 0; t < 1000; ++t) {
                VELKTake take;
                take.id = "take-" + std::to_string(t);
                for (int c = 0; c < 8; ++c) {
                    VELKClip clip;
                    clip.id = take.id + "-clip-" + std::to_string(c);
                    clip.cameraId = "cam-" + std::to_string(c);
                    clip.fileName = "clip.mov";
                    clip.localPath = (folder / "Velk" / "archive" / clip.id / "clip.mov").string();
                    clip.remoteURL = "/velk/v1/files/" + clip.id;
                    clip.sizeBytes = 1'000'000'000;
                    clip.sha256 = std::string(64, 'a');
                    clip.deviceId = "0123456789abcdef";
                    take.clips.push_back(std::move(clip));
                }
                project.takes.push_back(std::move(take));
            }
            archive.projects.push_back(std::move(project));
            fs::create_directories(folder / "support");
            std::ofstream(folder / "support" / "library.json") << encodeLibrary(archive, true);
        }
        const fs::path recordings = folder / "Velk";
        AppStore store(folder / "support", recordings);
        {
            std::vector<DiscoveredDevice> devices;
            for (const auto& phone : phones) devices.push_back(phone->device());
            bool loaded = false;
            store.connectOpenSources(devices, [&] { loaded = true; });
            while (!loaded) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
            if (store.transferSessions().size() != phones.size()) throw std::runtime_error("the catalogs did not load");
        }

        const fs::path curlOut = folder / "curl";
        // curl reads its transfers from a file, each with its own options: a phone's session header
        // goes with that phone's files only.
        auto curlCommand = [&](const Scenario& scenario) {
            const fs::path config = folder / "transfers.curl";
            std::ofstream lines(config);
            auto transfer = [&](const Phone& phone, const std::string& clipId, const std::string& output,
                                const std::string& range) {
                if (lines.tellp() > 0) lines << "next\n";
                lines << "insecure\nsilent\nurl = \"" << phone.fileURL(clipId) << "\"\noutput = \"" << output << "\"\n";
                if (!range.empty()) lines << "range = " << range << "\n";
                if (!phone.sessionHeader().empty()) lines << "header = \"" << phone.sessionHeader() << "\"\n";
            };
            if (scenario.takeId == "one") {
                // The same 8 MiB ranges on one connection, each into a file of its own.
                const ServedClip& clip = scenario.served[0].clips[0];
                for (std::int64_t start = 0; start < clip.source->size; start += TransferProtocol::chunkSize) {
                    const std::int64_t end = std::min(start + TransferProtocol::chunkSize, clip.source->size) - 1;
                    transfer(*scenario.phones[0], clip.id, (curlOut / (clip.id + "." + std::to_string(start))).string(),
                             std::to_string(start) + "-" + std::to_string(end));
                }
                return "curl -K '" + config.string() + "'";
            }
            // Four files one after another on one connection, or two at a time, the phones taking
            // turns in the list, so that the two at a time come from two phones.
            for (std::size_t c = 0;; ++c) {
                bool any = false;
                for (std::size_t p = 0; p < scenario.phones.size(); ++p) {
                    if (c >= scenario.served[p].clips.size()) continue;
                    const ServedClip& clip = scenario.served[p].clips[c];
                    transfer(*scenario.phones[p], clip.id, (curlOut / clip.id).string(), {});
                    any = true;
                }
                if (!any) break;
            }
            return std::string(scenario.takeId.empty() ? "curl --parallel --parallel-max 2" : "curl") + " -K '" +
                   config.string() + "'";
        };
        // What curl wrote must be every byte of every clip, or its time measures something else.
        auto curlWroteEverything = [&](const Scenario& scenario) {
            std::int64_t expected = 0, written = 0;
            for (const ServedTake& take : scenario.served)
                for (const ServedClip& clip : take.clips) expected += clip.source->size;
            for (const auto& entry : fs::directory_iterator(curlOut)) written += static_cast<std::int64_t>(entry.file_size());
            if (written != expected) {
                throw std::runtime_error("curl wrote " + std::to_string(written) + " bytes of " + std::to_string(expected));
            }
        };
        auto clipCount = [](const Scenario& scenario) {
            std::size_t count = 0;
            for (const ServedTake& take : scenario.served) count += take.clips.size();
            return count;
        };
        // The store forgets its copies of the scenario's clips, so that it downloads them again.
        auto forget = [&](const Scenario& scenario) {
            VELKLibrary library = store.library();
            for (VELKProject& project : library.projects) {
                if (project.id != scenario.projectId) continue;
                for (VELKTake& take : project.takes) {
                    for (VELKClip& clip : take.clips) clip.localPath.reset();
                }
            }
            store.setLibrary(library);
            store.waitForSaves();
        };
        auto storeRun = [&](Scenario& scenario, double& openssl) -> Watched {
            forget(scenario);
            store.setSelectedProjectID(scenario.projectId);
            if (!scenario.takeId.empty()) store.setSelectedTakeID(scenario.takeId);
            settle();
            // With --timeline: when each clip's row changed phase, in seconds from the start.
            std::vector<std::string> timeline;
            std::map<std::string, std::string> lastMessage;
            const double start = bench::nowSeconds();
            QMetaObject::Connection rows;
            if (showTimeline) {
                std::set<std::string> ids;
                for (const ServedTake& take : scenario.served) {
                    for (const ServedClip& clip : take.clips) ids.insert(clip.id);
                }
                rows = QObject::connect(&store, &AppStore::transfersChanged, [&, ids] {
                    for (const TransferStatus& row : store.transfers()) {
                        if (!ids.contains(row.id)) continue;
                        const bool whole = row.completedBytes == row.totalBytes;
                        const std::string key = row.message + (whole ? " (all)" : "");
                        if (lastMessage[row.id] == key) continue;
                        if (row.message == "Downloading" && !whole) continue;
                        lastMessage[row.id] = key;
                        char line[160];
                        std::snprintf(line, sizeof line, "    %6.3f s  clip %s  %s", bench::nowSeconds() - start,
                                      row.id.substr(row.id.size() - 4).c_str(), key.c_str());
                        timeline.push_back(line);
                    }
                });
            }
            const Watched watched = runWatched([&](auto done) {
                if (scenario.takeId.empty()) {
                    store.downloadSelectedProject(done);
                } else {
                    store.downloadSelectedTake(done);
                }
            });
            std::size_t verified = 0;
            std::string copy;
            for (const VELKProject& project : store.library().projects) {
                if (project.id != scenario.projectId) continue;
                for (const VELKTake& take : project.takes) {
                    if (!scenario.takeId.empty() && take.id != scenario.takeId) continue;
                    for (const VELKClip& clip : take.clips) {
                        if (clip.localPath) {
                            ++verified;
                            copy = *clip.localPath;
                        }
                    }
                }
            }
            if (showTimeline) {
                QObject::disconnect(rows);
                std::printf("  %s\n", scenario.label.c_str());
                for (const std::string& line : timeline) std::printf("%s\n", line.c_str());
            }
            if (verified != clipCount(scenario)) {
                throw std::runtime_error(scenario.label + ": not every clip was verified: " + store.activities().front().message);
            }
            if (scenario.takeId == "one") openssl = timed("openssl dgst -sha256 '" + copy + "'");
            store.waitForSaves();
            fs::remove_all(recordings);
            return watched;
        };
        auto curlRun = [&](const Scenario& scenario) {
            fs::create_directories(curlOut);
            const std::string command = curlCommand(scenario);
            settle();
            const double seconds = timed(command);
            curlWroteEverything(scenario);
            fs::remove_all(curlOut);
            return seconds;
        };

        if (memory) {
            // Two phones with one clip each, downloaded at once by the whole-project road, before
            // any other download has grown the heap.
            Source large{folder / "www" / "large.bin", memorySize, {}};
            bench::writePatternFile(large.file, static_cast<std::size_t>(large.size), 9);
            large.sha256 = DriftEngine::sha256(large.file);
            const std::string memoryProject = projectId();
            const ServedTake a{memoryProject, "take-1", {ServedClip{clipId(), &large}}};
            const ServedTake b{memoryProject, "take-1", {ServedClip{clipId(), &large}}};
            NginxPhone phoneA(folder / "memory-a", "Memory A", "00000000000000f1", {a});
            NginxPhone phoneB(folder / "memory-b", "Memory B", "00000000000000f2", {b});
            bool loaded = false;
            store.connectOpenSources({phoneA.device(), phoneB.device()}, [&] { loaded = true; });
            while (!loaded) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
            store.setSelectedProjectID(memoryProject);
            settle();
            const bool reset = bench::resetPeakRss();
            const long before = bench::statusKiB("VmRSS");
            const Watched watched = runWatched([&](auto done) { store.downloadSelectedProject(done); });
            const long peak = bench::statusKiB("VmHWM");
            std::printf("two concurrent downloads of %lld MiB: %.1f s; peak RSS growth %.1f MiB%s (target <= 64 MiB)\n",
                        static_cast<long long>(memorySize / MiB), watched.seconds, static_cast<double>(peak - before) / 1024.0,
                        reset ? "" : " (peak could not be reset; an upper bound)");
        }
        Series idleGapMs;
        Series worstStallMs;
        for (int round = 0; round < rounds; ++round) {
            idleGapMs.add(runWatched([](auto done) { QTimer::singleShot(1000, done); }).longestGapMs);
            double worst = 0;
            for (Scenario& scenario : scenarios) {
                double curl = 0;
                double openssl = 0;
                Watched ours;
                if (round % 2 == 0) {
                    curl = curlRun(scenario);
                    ours = storeRun(scenario, openssl);
                } else {
                    ours = storeRun(scenario, openssl);
                    curl = curlRun(scenario);
                }
                scenario.curl.add(curl);
                scenario.store.add(ours.seconds);
                scenario.ratio.add(curl / ours.seconds);
                scenario.stallMs.add(ours.longestGapMs);
                scenario.stallCpuMs.add(ours.cpuInLongestGapMs);
                scenario.stallWaitMs.add(ours.runQueueInLongestGapMs);
                scenario.longestTaskMs.add(ours.longestTaskMs);
                worst = std::max(worst, ours.longestGapMs);
                if (scenario.takeId == "one") {
                    scenario.opensslSeconds.add(openssl);
                    scenario.overFloor.add((ours.seconds - curl) / openssl);
                }
            }
            worstStallMs.add(worst);
            std::printf("  round %d done, load average %s\n", round + 1, loadAverage().c_str());
            std::fflush(stdout);
        }

        std::printf("\nmedian (range) over %d rounds; ratio = curl time / store time, per round\n", rounds);
        for (const Scenario& scenario : scenarios) {
            std::printf("%s\n", scenario.label.c_str());
            std::printf("  store %s s; curl %s s; ratio %sx", scenario.store.text().c_str(), scenario.curl.text().c_str(),
                        scenario.ratio.text().c_str());
            if (scenario.takeId == "four") std::printf(" (target >= 0.85x)");
            if (scenario.takeId.empty()) std::printf(" (target >= 0.9x)");
            std::printf("\n  GUI thread: longest gap between 10 ms ticks %s ms, of which it ran %s ms and waited for a "
                        "processor %s ms; longest event handled %s ms\n",
                        scenario.stallMs.text("%.1f").c_str(), scenario.stallCpuMs.text("%.1f").c_str(),
                        scenario.stallWaitMs.text("%.1f").c_str(), scenario.longestTaskMs.text("%.1f").c_str());
            if (scenario.takeId == "one") {
                std::printf("  openssl dgst -sha256 of the copy %s s; (store - curl) / openssl %s (target <= 1.25)\n",
                            scenario.opensslSeconds.text().c_str(), scenario.overFloor.text().c_str());
            }
        }
        if (!scenarios.empty()) {
            std::printf("GUI thread idle for 1 s: longest gap %s ms; during the downloads, worst per round %s ms; worst - idle "
                        "%.1f ms at the medians, %.1f ms at the worst (target <= 16 ms)\n",
                        idleGapMs.text("%.1f").c_str(), worstStallMs.text("%.1f").c_str(),
                        worstStallMs.median() - idleGapMs.median(), worstStallMs.high() - idleGapMs.high());
        }

        std::printf("load average at the end %s\n", loadAverage().c_str());
        if (store.errorMessage()) std::printf("store error: %s\n", store.errorMessage()->c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "store_download_bench: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
