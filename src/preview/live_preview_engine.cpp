#include "preview/live_preview_engine.hpp"

#include <algorithm>
#include <cmath>

#include "base/error_text.hpp"
#include "base/uuid.hpp"
#include "preview/preview_network_policy.hpp"

namespace velk {

using Transport = VELKPreviewClient::Transport;

std::shared_ptr<LivePreviewEngine> LivePreviewEngine::create(LivePreviewEnvironment environment) {
    return std::shared_ptr<LivePreviewEngine>(new LivePreviewEngine(std::move(environment)));
}

LivePreviewEngine::LivePreviewEngine(LivePreviewEnvironment environment)
    : m_environment(std::move(environment)), m_clock(m_environment.clock ? m_environment.clock : &SystemClock::shared()) {}

LivePreviewEngine::~LivePreviewEngine() = default;

std::string LivePreviewEngine::sourceIdentity(const LiveCamera& camera) {
    return camera.host + "|" + camera.sourceSessionID.value_or("legacy");
}

double LivePreviewEngine::restartPause(VELKPreviewProfile profile, std::int64_t failures) {
    if (failures <= 0) return profile == VELKPreviewProfile::selected ? selectedRestartPause : wallRestartPause;
    return std::min(backoffBase * std::pow(2.0, static_cast<double>(failures - 1)), backoffCeiling);
}

double LivePreviewEngine::monotonicSeconds() const { return m_clock->monotonicMs() / 1000.0; }

WallTime LivePreviewEngine::wallNow() const { return m_clock->now(); }

void LivePreviewEngine::setPublisher(LivePreviewPublisher* publisher) { m_publisher = publisher; }

// --- the four operations -------------------------------------------------------------------

void LivePreviewEngine::start(std::vector<LiveCamera> cameras) {
    std::lock_guard lock(m_mutex);
    m_running = true;
    m_cameras = std::move(cameras);
    reconcileLocked();
}

void LivePreviewEngine::update(std::vector<LiveCamera> cameras) {
    std::lock_guard lock(m_mutex);
    m_cameras = std::move(cameras);
    reconcileLocked();
}

void LivePreviewEngine::select(std::set<std::string> cameraIDs) {
    std::lock_guard lock(m_mutex);
    m_selectedCameraIDs = std::move(cameraIDs);
    reconcileLocked();
}

void LivePreviewEngine::stop() {
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_active.clear();
    m_lastTokens.clear();
    m_failureCounts.clear();
    m_legacyPreferences.clear();
    m_sourceIdentities.clear();
    m_waitingFrames.clear();
    for (auto& [key, frames] : m_framePools) frames->end();
    m_framePools.clear();
    // Wake workers blocked in a read, so that none outlives the window by seconds.
    for (auto& [token, watch] : m_liveWatches) watch->shutdownAll();
    postLocked([](LivePreviewEngine&, LivePreviewPublisher& publisher) { publisher.applyStop(); });
}

void LivePreviewEngine::detach() {
    m_publisher = nullptr;
    std::lock_guard lock(m_mutex);
    m_detached = true;
    for (auto& [token, watch] : m_liveWatches) watch->shutdownAll();
    for (auto& [key, frames] : m_framePools) frames->end();
    m_framePools.clear();
}

LivePreviewEngine::State LivePreviewEngine::state() const {
    std::lock_guard lock(m_mutex);
    State state;
    state.running = m_running;
    for (const auto& [key, worker] : m_active) {
        state.activeTokens[key] = worker.token;
        state.activeHosts[key] = worker.host;
    }
    state.lastTokens = m_lastTokens;
    state.failureCounts = m_failureCounts;
    for (const auto& [key, preference] : m_legacyPreferences) state.legacyHosts[key] = preference.host;
    state.sourceIdentities = m_sourceIdentities;
    for (const auto& [key, frames] : m_framePools) state.framePools.insert(key);
    return state;
}

// --- state queue ---------------------------------------------------------------------------

const LiveCamera* LivePreviewEngine::cameraLocked(const std::string& id) const {
    auto it = std::find_if(m_cameras.begin(), m_cameras.end(), [&](const LiveCamera& camera) { return camera.id == id; });
    return it == m_cameras.end() ? nullptr : &*it;
}

void LivePreviewEngine::postLocked(std::function<void(LivePreviewEngine&, LivePreviewPublisher&)> step) {
    if (m_detached || !m_environment.postToMain) return;
    std::weak_ptr<LivePreviewEngine> weak = weak_from_this();
    m_environment.postToMain([weak, step = std::move(step)] {
        auto self = weak.lock();
        if (!self || !self->m_publisher) return;
        step(*self, *self->m_publisher);
    });
}

void LivePreviewEngine::reconcileLocked() {
    if (!m_running) return;
    const auto eligible = LivePreviewRoster::eligible(m_cameras, wallNow());
    std::set<std::string> eligibleIDs;
    for (const auto& camera : eligible) eligibleIDs.insert(camera.id);
    std::set<std::string> selectedEligibleIDs;
    for (const auto& id : m_selectedCameraIDs) {
        if (eligibleIDs.count(id)) selectedEligibleIDs.insert(id);
    }

    std::map<std::string, std::string> identities;
    std::vector<std::string> changedIDs;
    for (const auto& camera : eligible) {
        if (identities.count(camera.id)) continue;
        const std::string identity = sourceIdentity(camera);
        identities.emplace(camera.id, identity);
        auto old = m_sourceIdentities.find(camera.id);
        if (old != m_sourceIdentities.end() && old->second != identity) changedIDs.push_back(camera.id);
    }
    m_sourceIdentities = std::move(identities);

    std::vector<std::pair<PreviewStreamKey, std::string>> wanted;
    std::map<PreviewStreamKey, std::string> wantedHosts;
    const auto want = [&](PreviewStreamKey key, const std::string& host) {
        if (wantedHosts.emplace(key, host).second) wanted.emplace_back(std::move(key), host);
    };
    for (const auto& camera : eligible) {
        want({camera.id, VELKPreviewProfile::wall}, camera.host);
        if (m_selectedCameraIDs.count(camera.id)) want({camera.id, VELKPreviewProfile::selected}, camera.host);
    }

    std::vector<PreviewStreamKey> stoppedKeys;
    for (const auto& [key, worker] : m_active) {
        auto host = wantedHosts.find(key);
        const LiveCamera* camera = cameraLocked(key.cameraID);
        const std::optional<std::string> session = camera ? camera->sourceSessionID : std::nullopt;
        if (host == wantedHosts.end() || host->second != worker.host || session != worker.session) {
            stoppedKeys.push_back(key);
        }
    }
    for (const auto& key : stoppedKeys) {
        m_active.erase(key);
        m_lastTokens.erase(key);
        m_failureCounts.erase(key);
        endFramesLocked(key);
    }
    // A stream that waited for its restart and is no longer wanted has ended too.
    for (auto pool = m_framePools.begin(); pool != m_framePools.end();) {
        if (wantedHosts.count(pool->first)) {
            ++pool;
        } else {
            pool->second->end();
            pool = m_framePools.erase(pool);
        }
    }

    // Posted before any worker starts, so a restarted stream's old entries go before its first frame.
    postLocked([changedIDs, stoppedKeys, eligibleIDs, selectedEligibleIDs](LivePreviewEngine&,
                                                                         LivePreviewPublisher& publisher) {
        publisher.applyReconcile(changedIDs, stoppedKeys, eligibleIDs, selectedEligibleIDs);
    });

    for (const auto& [key, host] : wanted) {
        if (!m_active.count(key)) startWorkerLocked(key, host);
    }
}

void LivePreviewEngine::startWorkerLocked(const PreviewStreamKey& key, const std::string& host) {
    if (!m_running || m_detached || !m_environment.launchWorker) return;
    // Callers start only streams without a worker. One that cannot start (out of memory, no thread)
    // is left without one, and the next reconcile starts it.
    std::string token;
    try {
        token = uuid::newLowercase();
        const LiveCamera* camera = cameraLocked(key.cameraID);
        auto watch = std::make_shared<PreviewSocketWatch>();
        auto preference = m_legacyPreferences.find(key);
        const bool preferLegacy = preference != m_legacyPreferences.end() && preference->second.host == host &&
                                  preference->second.until > monotonicSeconds();
        std::shared_ptr<FramePool> frames;
        if (auto pool = m_framePools.find(key); pool != m_framePools.end()) {
            frames = pool->second;
        } else {
            frames = std::make_shared<FramePool>();
            m_framePools.emplace(key, frames);
        }
        m_active[key] = Worker{token, host, camera ? camera->sourceSessionID : std::nullopt, watch};
        m_lastTokens[key] = token;
        m_liveWatches[token] = watch;
        std::weak_ptr<LivePreviewEngine> weak = weak_from_this();
        m_environment.launchWorker(key.profile, [weak, key, host, token, preferLegacy, watch, frames] {
            auto self = weak.lock();
            if (!self) return;
            self->runWorker(key, host, token, preferLegacy, watch, frames);
        });
    } catch (...) {
        m_liveWatches.erase(token);
        m_active.erase(key);
    }
}

void LivePreviewEngine::endFramesLocked(const PreviewStreamKey& key) noexcept {
    auto pool = m_framePools.find(key);
    if (pool == m_framePools.end()) return;
    pool->second->end();
    m_framePools.erase(pool);
}

bool LivePreviewEngine::isWantedLocked(const PreviewStreamKey& key, const std::string& host) const {
    const LiveCamera* camera = cameraLocked(key.cameraID);
    if (!camera) return false;
    if (camera->host != host) return false;
    if (!camera->isOnline(wallNow())) return false;
    if (LivePreviewRoster::isDirectorRole(camera->role)) return false;
    if (key.profile == VELKPreviewProfile::wall) return true;
    return m_selectedCameraIDs.count(key.cameraID) > 0;
}

bool LivePreviewEngine::isCurrentLocked(const PreviewStreamKey& key, const std::string& token) const {
    auto it = m_active.find(key);
    return m_running && it != m_active.end() && it->second.token == token;
}

// --- worker side ---------------------------------------------------------------------------

void LivePreviewEngine::runWorker(const PreviewStreamKey& key, const std::string& host, const std::string& token,
                                  bool preferLegacy, const std::shared_ptr<PreviewSocketWatch>& watch,
                                  const std::shared_ptr<FramePool>& frames) {
    std::optional<Transport> transport;
    std::exception_ptr error;
    try {
        transport = m_environment.exchange(
            PreviewExchangeRequest{host, m_environment.serverPort, key.profile, preferLegacy, watch, frames},
            [&] { return isCurrent(key, token); },
            [&](PreviewImage image, Transport frameTransport) { publish(std::move(image), frameTransport, key, token); });
    } catch (...) {
        // Whatever ended the exchange, its stream shows the error and backs off like any failure.
        error = std::current_exception();
    }
    finish(key, host, token, transport, error);
}

bool LivePreviewEngine::isCurrent(const PreviewStreamKey& key, const std::string& token) const {
    std::lock_guard lock(m_mutex);
    return isCurrentLocked(key, token);
}

void LivePreviewEngine::publish(PreviewImage image, Transport transport, const PreviewStreamKey& key,
                                const std::string& token) {
    std::lock_guard lock(m_mutex);
    if (!isCurrentLocked(key, token)) return;
    m_failureCounts[key] = 0;
    if (transport == Transport::persistent) m_legacyPreferences.erase(key);
    const std::string host = m_active[key].host;
    // At most one frame of a stream waits for the GUI thread: a newer one takes its place under the
    // step already posted for it, so frames never pile up while the GUI thread is busy. A new worker's
    // frame gets a step of its own, posted after whatever its restart posted before it.
    const auto waiting = m_waitingFrames.find(key);
    const bool stepPosted = waiting != m_waitingFrames.end() && waiting->second.token == token;
    m_waitingFrames.insert_or_assign(key, WaitingFrame{std::move(image), transport, token});
    if (stepPosted) return;
    try {
        postLocked([key, token, host](LivePreviewEngine& engine, LivePreviewPublisher& publisher) {
            WaitingFrame frame;
            {
                std::lock_guard recheck(engine.m_mutex);
                auto taken = engine.m_waitingFrames.find(key);
                if (taken == engine.m_waitingFrames.end() || taken->second.token != token) return;
                frame = std::move(taken->second);
                engine.m_waitingFrames.erase(taken);
                auto last = engine.m_lastTokens.find(key);
                if (!engine.m_running || last == engine.m_lastTokens.end() || last->second != token ||
                    !engine.isWantedLocked(key, host)) {
                    return;
                }
            }
            publisher.applyFrame(key, frame.image, frame.transport, engine.wallNow());
        });
    } catch (...) {
        m_waitingFrames.erase(key);
        throw;
    }
}

void LivePreviewEngine::finish(const PreviewStreamKey& key, const std::string& host, const std::string& token,
                               std::optional<Transport> transport, std::exception_ptr error) {
    std::lock_guard lock(m_mutex);
    m_liveWatches.erase(token);
    auto it = m_active.find(key);
    if (it == m_active.end() || it->second.token != token) return;
    m_active.erase(it);
    // The stream now waits for its restart. Nothing below may escape this step: a stream that
    // ended halfway through it would show nothing and, with no timer set, wait for ever.
    bool wanted = m_running;
    try {
        wanted = wanted && isWantedLocked(key, host);
    } catch (...) {
        // The restart step tests again.
    }
    if (!wanted) {
        endFramesLocked(key);
        return;
    }
    std::int64_t failures = 0;
    if (error) {
        auto count = m_failureCounts.find(key);
        failures = std::min((count == m_failureCounts.end() ? 0 : count->second) + 1, maximumFailureCount);
    }
    // A count or preference that cannot be kept only shortens the next pause or changes the next
    // transport.
    try {
        if (transport == Transport::legacy) {
            m_legacyPreferences[key] =
                LegacyPreference{host, monotonicSeconds() + VELKPreviewClient::legacyProbeInterval};
        }
    } catch (...) {
    }
    try {
        m_failureCounts[key] = failures;
    } catch (...) {
    }
    if (error) {
        try {
            postLocked([key, token, host, message = describeError(error)](LivePreviewEngine& engine,
                                                                         LivePreviewPublisher& publisher) {
                {
                    std::lock_guard recheck(engine.m_mutex);
                    auto last = engine.m_lastTokens.find(key);
                    if (!engine.m_running || last == engine.m_lastTokens.end() || last->second != token ||
                        engine.m_active.count(key) || !engine.isWantedLocked(key, host)) {
                        return;
                    }
                }
                publisher.applyFailure(key, message);
            });
        } catch (...) {
            // The text is lost; the restart below still comes.
        }
    }
    if (m_detached || !m_environment.schedule) return;
    try {
        std::weak_ptr<LivePreviewEngine> weak = weak_from_this();
        m_environment.schedule(restartPause(key.profile, failures), [weak, key, host, token] {
            if (auto self = weak.lock()) self->restart(key, host, token);
        });
    } catch (...) {
        // No timer could be set: the next reconcile starts the stream, as it starts every wanted
        // stream without a worker.
    }
}

void LivePreviewEngine::restart(const PreviewStreamKey& key, const std::string& host, const std::string& token) {
    std::lock_guard lock(m_mutex);
    try {
        if (!m_running || m_active.count(key)) return;
        // Only the newest worker's restart may go ahead: an older one would cut a newer back-off short.
        auto last = m_lastTokens.find(key);
        if (last == m_lastTokens.end() || last->second != token) return;
        if (!isWantedLocked(key, host)) {
            endFramesLocked(key);
            return;
        }
        startWorkerLocked(key, host);
    } catch (...) {
        // A timer's step must not throw; the stream has no worker, so the next reconcile starts it.
    }
}

} // namespace velk
