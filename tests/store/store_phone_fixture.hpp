#pragma once
// The store against simulated phones over pinned HTTPS on 127.0.0.1: an event loop to wait in,
// phones with clips and a catalog, and a store rooted in a temporary folder.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <string>
#include <vector>

#include "base/json.hpp"
#include "model/catalog.hpp"
#include "model/discovered_device.hpp"
#include "store/app_store.hpp"
#include "store/file_viewer.hpp"
#include "store_fixture.hpp"
#include "test_peers.hpp"

namespace velk::testing {

inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "velk_store_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

// Processes events until `condition` holds; false after `timeoutMs`.
inline bool runUntil(const std::function<bool()>& condition, int timeoutMs = 60'000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.hasExpired(timeoutMs)) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class FakeFileViewer final : public FileViewer {
public:
    void reveal(const std::vector<std::filesystem::path>& files, std::function<void(bool)> shown) override {
        revealed.push_back(files);
        shown(shows);
    }
    std::vector<std::vector<std::filesystem::path>> revealed;
    bool shows = true; // false: a desktop without a file manager
};

// The pinned session with a hook that sees each request before it leaves and each reply before
// the client reads it (on the client's worker thread).
class HookedSession final : public HttpsSession {
public:
    using Hook = std::function<void(const HttpsRequest&, HttpsResponse*)>;
    HookedSession(std::unique_ptr<HttpsSession> inner, Hook hook) : m_inner(std::move(inner)), m_hook(std::move(hook)) {}
    HttpsResponse send(const HttpsRequest& request) override {
        m_hook(request, nullptr);
        HttpsResponse response = m_inner->send(request);
        m_hook(request, &response);
        return response;
    }
    void invalidate() override { m_inner->invalidate(); }

private:
    std::unique_ptr<HttpsSession> m_inner;
    Hook m_hook;
};

inline bool isRangeRequest(const HttpsRequest& request) {
    for (const auto& [name, value] : request.headers)
        if (name == "Range") return true;
    return false;
}

struct PhoneClip {
    std::string clipId;
    std::string cameraId;
    std::string fileName;
    std::int64_t size = 0;
    std::string sha256;
    std::optional<std::string> sidecarSHA256;
};

// One simulated phone with recordings in one take of one project.
class StorePhone {
public:
    explicit StorePhone(std::string name, bool open = false, const std::vector<std::string>& launcher = {},
                        const std::string& host = "127.0.0.1", const std::filesystem::path& identity = {})
        : name(std::move(name)), phone(false, launcher, host, identity) {
        phone.command(Json{{"cmd", "config"}, {"open", open}});
    }

    PhoneClip& addClip(const std::string& clipId, const std::string& cameraId, std::int64_t size, bool withSidecar = false,
                       int seed = 1) {
        PhoneClip clip{clipId, cameraId, cameraId + ".mov", size, {}, {}};
        clip.sha256 = json::requireString(
            phone.command(Json{{"cmd", "file"}, {"clipId", clipId}, {"size", size}, {"seed", seed}}), "sha256");
        if (withSidecar) {
            clip.sidecarSHA256 = json::requireString(
                phone.command(Json{{"cmd", "sidecar"}, {"clipId", clipId}, {"text", "{\"clip\":\"" + clipId + "\"}"}}),
                "sha256");
        }
        clips.push_back(clip);
        return clips.back();
    }

    // The clips as one take of `projectId` (or among the unassigned takes when it is empty).
    void publish(const std::string& projectId, const std::string& takeId = "take-1",
                 const std::function<void(Json&)>& change = nullptr) {
        Json jsonClips = Json::array();
        for (const auto& clip : clips) {
            const std::string route = "/velk/v1/files/" + clip.clipId;
            jsonClips.push_back({{"clipId", clip.clipId}, {"cameraId", clip.cameraId}, {"fileName", clip.fileName},
                                 {"sizeBytes", clip.size}, {"sha256", clip.sha256}, {"finalized", true},
                                 {"mediaKind", "video"}, {"hasVideo", true}, {"hasAudio", true}, {"downloadURL", route}});
            if (clip.sidecarSHA256) {
                jsonClips.back()["timingSidecarURL"] = route + ".timing.json";
                jsonClips.back()["timingSidecarSHA256"] = *clip.sidecarSHA256;
            }
        }
        Json take{{"takeId", takeId}, {"clips", jsonClips}};
        Json body{{"schemaVersion", 1}, {"deviceId", phone.deviceId}, {"deviceName", name},
                  {"catalogRevision", 1}, {"projects", Json::array()}};
        if (projectId.empty()) {
            body["unassignedTakes"] = Json::array({take});
        } else {
            take["projectId"] = projectId;
            body["projects"] = Json::array(
                {Json{{"projectId", projectId}, {"name", "Wedding"}, {"revision", 1}, {"takes", Json::array({take})}}});
        }
        if (change) change(body);
        phone.command(Json{{"cmd", "catalog"}, {"body", body}});
    }

    DiscoveredDevice device(bool open = false) const {
        return DiscoveredDevice{.serviceName = name, .catalogURL = phone.baseURL() + "/velk/v1/catalog",
                                .serviceType = "_velk-transfer._tcp.", .deviceId = phone.deviceId,
                                .sessionId = phone.sessionId, .certificateSHA256 = phone.fingerprint,
                                .foregroundOnly = true, .transferAccess = open ? "open" : "paired",
                                .projectTrashVersion = "trash-v1"};
    }

    // (method, path) of every request since the log was last cleared.
    std::vector<std::pair<std::string, std::string>> requests() {
        std::vector<std::pair<std::string, std::string>> seen;
        for (const auto& entry : phone.log()) {
            seen.emplace_back(json::requireString(entry, "method"), json::requireString(entry, "path"));
        }
        return seen;
    }
    // The first byte of every range asked for since the log was last cleared.
    std::vector<std::int64_t> rangeStarts(const std::string& clipId = "") {
        std::vector<std::int64_t> starts;
        for (const auto& entry : phone.log()) {
            if (!clipId.empty() && !json::requireString(entry, "path").ends_with(clipId)) continue;
            const Json& headers = entry.at("headers");
            if (headers.contains("range")) starts.push_back(std::stoll(json::requireString(headers, "range").substr(6)));
        }
        return starts;
    }

    std::string name;
    SimPhone phone;
    std::vector<PhoneClip> clips;
};

class StoreEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        store = roots.open();
        hook(nullptr);
    }

    // Sessions of later connections pass every request and reply through `see` (when given).
    void hook(HookedSession::Hook see) {
        TransferClientEnvironment environment;
        environment.sleeper = [](std::uint64_t, const CancellationToken*) {};
        if (see) {
            environment.makeSession = [see](std::string_view fingerprint) {
                return std::make_unique<HookedSession>(makePinnedHttpsSession(fingerprint), see);
            };
        }
        store->setTransferEnvironment(environment);
    }
    // Pairs with `code`, or connects openly when `allowOpen` and the phone shares openly.
    bool pair(StorePhone& phone, const std::string& code = "123456", bool allowOpen = false, bool openDevice = false) {
        std::optional<bool> result;
        store->pairAndConnect(phone.device(openDevice), code, true, allowOpen, [&](bool ok) { result = ok; });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        store->waitForSaves();
        return result.value_or(false);
    }
    // Runs one of the store's operations that end with `done` and waits for it.
    void await(const std::function<void(std::function<void()>)>& operation) {
        bool finished = false;
        operation([&] { finished = true; });
        ASSERT_TRUE(runUntil([&] { return finished; }));
        store->waitForSaves();
    }
    void selectFirst() {
        ASSERT_FALSE(store->library().projects.empty());
        const VELKProject& first = store->library().projects.front();
        store->setSelectedProjectID(first.id);
        if (!first.takes.empty()) store->setSelectedTakeID(first.takes.front().id);
    }
    const VELKClip* findClip(const std::string& clipId) const {
        for (const auto& p : store->library().projects)
            for (const auto& t : p.takes)
                for (const auto& c : t.clips)
                    if (c.id == clipId) return &c;
        return nullptr;
    }
    std::vector<std::string> activityTexts() const {
        std::vector<std::string> texts;
        for (const auto& entry : store->activities()) texts.push_back(entry.message);
        return texts;
    }
    template <typename Row>
    static const Row* rowOf(const std::vector<Row>& rows, const std::string& key, std::string Row::*field) {
        auto found = std::find_if(rows.begin(), rows.end(), [&](const Row& row) { return row.*field == key; });
        return found == rows.end() ? nullptr : &*found;
    }
    const CollectSourceStatus* sourceRow(const std::string& name) const {
        return rowOf(store->collectSources(), name, &CollectSourceStatus::name);
    }
    const TransferStatus* transferRow(const std::string& clipId) const {
        return rowOf(store->transfers(), clipId, &TransferStatus::id);
    }

    StoreRoots roots;
    std::unique_ptr<AppStore> store;
};

inline std::string uuidLike(int phone, int n) {
    char text[37];
    std::snprintf(text, sizeof text, "%08d-0000-4000-8000-%012d", phone, n);
    return text;
}

} // namespace velk::testing
