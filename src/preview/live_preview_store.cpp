#include "preview/live_preview_store.hpp"

#include <QThreadPool>
#include <QTimer>

#include "base/executor.hpp"
#include "base/worker_pool.hpp"
#include "preview/preview_client.hpp"

namespace velk {

namespace {

using Transport = VELKPreviewClient::Transport;

// Every preview exchange blocks for seconds, so the pools are sized by streams, not by cores:
// eight wall and two selected streams, plus superseded workers still ending.
constexpr int kWallWorkerThreads = 24;
constexpr int kSelectedWorkerThreads = 8;
constexpr int kExitWaitMs = 3000;

class PreviewWorkerPool {
public:
    PreviewWorkerPool(const char* name, int threads, QThread::Priority priority) : m_pool(new QThreadPool) {
        m_pool->setObjectName(QString::fromUtf8(name));
        m_pool->setMaxThreadCount(threads);
        m_pool->setThreadPriority(priority);
        m_pool->setExpiryTimeout(10'000);
    }
    // A worker still blocked at exit must not hold the process open.
    ~PreviewWorkerPool() {
        if (m_pool->waitForDone(kExitWaitMs)) delete m_pool;
    }
    QThreadPool* get() const { return m_pool; }

private:
    QThreadPool* m_pool;
};

void launchPreviewWorker(VELKPreviewProfile profile, std::function<void()> body) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer does not see Qt's hand-over of a task to a pool thread (Qt's own locks): on
    // a QThreadPool every worker's first look at what the store gave it would be reported. The
    // sanitised build therefore runs the workers on the project's own pool, which it sees whole.
    (void)profile;
    workers::post(std::move(body));
#else
    // The selected streams feed the larger monitors, so they come before the wall's.
    static PreviewWorkerPool wall("preview-wall-workers", kWallWorkerThreads, QThread::LowPriority);
    static PreviewWorkerPool selected("preview-selected-workers", kSelectedWorkerThreads, QThread::NormalPriority);
    QThreadPool* pool = profile == VELKPreviewProfile::selected ? selected.get() : wall.get();
    pool->start([body = std::move(body)] {
        try {
            body();
        } catch (...) {
        }
    });
#endif
}

Transport clientExchange(const PreviewExchangeRequest& request, const std::function<bool()>& shouldContinue,
                         const PreviewFrameSink& onFrame) {
    return VELKPreviewClient::receive(
        request.host, request.port, request.profile, request.preferLegacy, shouldContinue,
        [&](QImage image, Transport transport) { onFrame(PreviewImage(std::move(image)), transport); },
        request.watch.get(), request.frames.get());
}

template <class Map>
bool eraseKey(Map& map, const std::string& id) {
    return map.erase(id) > 0;
}

template <class Map>
bool keepOnly(Map& map, const std::set<std::string>& ids) {
    bool outside = false;
    for (const auto& entry : map) {
        if (!ids.count(entry.first)) {
            outside = true;
            break;
        }
    }
    if (!outside) return false;
    std::erase_if(map, [&](const auto& entry) { return !ids.count(entry.first); });
    return true;
}

} // namespace

LivePreviewStore::LivePreviewStore(std::uint16_t serverPort, QObject* parent)
    : LivePreviewStore(Options{serverPort, nullptr, {}, {}, {}, {}}, parent) {}

LivePreviewStore::LivePreviewStore(Options options, QObject* parent) : QObject(parent), m_serverPort(options.serverPort) {
    LivePreviewEnvironment environment;
    environment.serverPort = options.serverPort;
    environment.clock = options.clock;
    environment.exchange = options.exchange ? std::move(options.exchange) : PreviewExchange(clientExchange);
    // The engine stops calling these three once detached, which the destructor does first.
    environment.postToMain = options.postToMain ? std::move(options.postToMain)
                                                : [this](std::function<void()> fn) { postTo(this, std::move(fn)); };
    environment.launchWorker = options.launchWorker ? std::move(options.launchWorker) : launchPreviewWorker;
    environment.schedule = options.schedule ? std::move(options.schedule) : [this](double seconds, std::function<void()> fn) {
        postTo(this, [this, seconds, fn = std::move(fn)] {
            QTimer::singleShot(std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0)), Qt::PreciseTimer,
                               this, fn);
        });
    };
    m_engine = LivePreviewEngine::create(std::move(environment));
    m_engine->setPublisher(this);
}

LivePreviewStore::~LivePreviewStore() { m_engine->detach(); }

void LivePreviewStore::start(const std::vector<LiveCamera>& cameras) { m_engine->start(cameras); }

void LivePreviewStore::update(const std::vector<LiveCamera>& cameras) { m_engine->update(cameras); }

void LivePreviewStore::select(const std::set<std::string>& cameraIDs) { m_engine->select(cameraIDs); }

void LivePreviewStore::stop() { m_engine->stop(); }

void LivePreviewStore::applyReconcile(const std::vector<std::string>& changedIDs,
                                      const std::vector<PreviewStreamKey>& stoppedKeys,
                                      const std::set<std::string>& eligibleIDs,
                                      const std::set<std::string>& selectedEligibleIDs) {
    bool wallFrames = false, selectedFrames = false, errors = false, frameTimes = false, wallTransports = false,
         selectedTransports = false;
    for (const auto& id : changedIDs) {
        wallFrames |= eraseKey(m_wallFrames, id);
        selectedFrames |= eraseKey(m_selectedFrames, id);
        wallTransports |= eraseKey(m_wallTransports, id);
        selectedTransports |= eraseKey(m_selectedTransports, id);
        frameTimes |= eraseKey(m_frameTimes, id);
        errors |= eraseKey(m_errors, id);
    }
    for (const auto& key : stoppedKeys) {
        if (key.profile == VELKPreviewProfile::wall) {
            wallFrames |= eraseKey(m_wallFrames, key.cameraID);
            wallTransports |= eraseKey(m_wallTransports, key.cameraID);
        } else {
            selectedFrames |= eraseKey(m_selectedFrames, key.cameraID);
            selectedTransports |= eraseKey(m_selectedTransports, key.cameraID);
        }
        frameTimes |= eraseKey(m_frameTimes, key.cameraID);
    }
    wallFrames |= keepOnly(m_wallFrames, eligibleIDs);
    selectedFrames |= keepOnly(m_selectedFrames, selectedEligibleIDs);
    errors |= keepOnly(m_errors, eligibleIDs);
    frameTimes |= keepOnly(m_frameTimes, eligibleIDs);
    wallTransports |= keepOnly(m_wallTransports, eligibleIDs);
    selectedTransports |= keepOnly(m_selectedTransports, selectedEligibleIDs);
    if (wallFrames) Q_EMIT wallFramesChanged();
    if (selectedFrames) Q_EMIT selectedFramesChanged();
    if (errors) Q_EMIT errorsChanged();
    if (frameTimes) Q_EMIT frameTimesChanged();
    if (wallTransports) Q_EMIT wallTransportsChanged();
    if (selectedTransports) Q_EMIT selectedTransportsChanged();
}

void LivePreviewStore::applyFrame(const PreviewStreamKey& key, const PreviewImage& image, Transport transport,
                                  WallTime now) {
    const bool wall = key.profile == VELKPreviewProfile::wall;
    const QImage* frame = std::any_cast<QImage>(&image);
    (wall ? m_wallFrames : m_selectedFrames)[key.cameraID] = frame ? *frame : QImage();
    TransportMap& transports = wall ? m_wallTransports : m_selectedTransports;
    auto known = transports.find(key.cameraID);
    const bool transportChanged = known == transports.end() || known->second != transport;
    if (transportChanged) transports[key.cameraID] = transport;
    const bool timeChanged = m_frameTimes.emplace(key.cameraID, now).second;
    const bool errorRemoved = eraseKey(m_errors, key.cameraID);
    if (wall) {
        Q_EMIT wallFramesChanged();
    } else {
        Q_EMIT selectedFramesChanged();
    }
    if (transportChanged) {
        if (wall) {
            Q_EMIT wallTransportsChanged();
        } else {
            Q_EMIT selectedTransportsChanged();
        }
    }
    if (timeChanged) Q_EMIT frameTimesChanged();
    if (errorRemoved) Q_EMIT errorsChanged();
}

void LivePreviewStore::applyFailure(const PreviewStreamKey& key, const std::string& message) {
    const bool wall = key.profile == VELKPreviewProfile::wall;
    const bool framesChanged = eraseKey(wall ? m_wallFrames : m_selectedFrames, key.cameraID);
    const bool transportsChanged = eraseKey(wall ? m_wallTransports : m_selectedTransports, key.cameraID);
    auto known = m_errors.find(key.cameraID);
    const bool errorChanged = known == m_errors.end() || known->second != message;
    if (errorChanged) m_errors[key.cameraID] = message;
    if (framesChanged) {
        if (wall) {
            Q_EMIT wallFramesChanged();
        } else {
            Q_EMIT selectedFramesChanged();
        }
    }
    if (transportsChanged) {
        if (wall) {
            Q_EMIT wallTransportsChanged();
        } else {
            Q_EMIT selectedTransportsChanged();
        }
    }
    if (errorChanged) Q_EMIT errorsChanged();
}

void LivePreviewStore::applyStop() {
    const auto clear = [](auto& map) {
        if (map.empty()) return false;
        map.clear();
        return true;
    };
    const bool wallFrames = clear(m_wallFrames);
    const bool selectedFrames = clear(m_selectedFrames);
    const bool frameTimes = clear(m_frameTimes);
    const bool errors = clear(m_errors);
    const bool wallTransports = clear(m_wallTransports);
    const bool selectedTransports = clear(m_selectedTransports);
    if (wallFrames) Q_EMIT wallFramesChanged();
    if (selectedFrames) Q_EMIT selectedFramesChanged();
    if (frameTimes) Q_EMIT frameTimesChanged();
    if (errors) Q_EMIT errorsChanged();
    if (wallTransports) Q_EMIT wallTransportsChanged();
    if (selectedTransports) Q_EMIT selectedTransportsChanged();
}

} // namespace velk
