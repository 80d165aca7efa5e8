#pragma once
// The preview streams of one Director window, without Qt: which streams run, their workers and
// tokens, failures, back-off, restarts and the legacy preference. One lock plays the serial state
// queue: every private field below is read and written only under it, and nothing under it waits
// on the network or on another thread. What the engine publishes goes, in order, through the
// GUI-thread executor to a LivePreviewPublisher. Workers hold the engine weakly, and strongly for
// the length of one exchange.

#include <any>
#include <compare>
#include <exception>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/clock.hpp"
#include "model/live_camera.hpp"
#include "preview/frame_pool.hpp"
#include "preview/preview_protocol.hpp"

namespace velk {

struct PreviewStreamKey {
    std::string cameraID;
    VELKPreviewProfile profile = VELKPreviewProfile::wall;
    auto operator<=>(const PreviewStreamKey&) const = default;
};

// A decoded frame as the exchange made it (a QImage in the application); the engine only passes
// it on.
using PreviewImage = std::any;
using PreviewFrameSink = std::function<void(PreviewImage, VELKPreviewClient::Transport)>;

struct PreviewExchangeRequest {
    std::string host;
    std::uint16_t port = VELKPreviewClient::port;
    VELKPreviewProfile profile = VELKPreviewProfile::wall;
    bool preferLegacy = false;
    // The worker's sockets, shut down when the store stops.
    std::shared_ptr<PreviewSocketWatch> watch;
    // Where the stream's decoded frames live: one pool a stream, kept while it restarts, ended
    // when the stream ends.
    std::shared_ptr<FramePool> frames;
};

// One exchange with a camera, as VELKPreviewClient::receive defines it: returns the transport it
// ended on or throws VELKPreviewError.
using PreviewExchange = std::function<VELKPreviewClient::Transport(
    const PreviewExchangeRequest&, const std::function<bool()>& shouldContinue, const PreviewFrameSink& onFrame)>;

// The GUI-thread half: the six published maps. Called only through the GUI-thread executor.
class LivePreviewPublisher {
public:
    virtual ~LivePreviewPublisher() = default;
    virtual void applyReconcile(const std::vector<std::string>& changedIDs,
                                const std::vector<PreviewStreamKey>& stoppedKeys,
                                const std::set<std::string>& eligibleIDs,
                                const std::set<std::string>& selectedEligibleIDs) = 0;
    virtual void applyFrame(const PreviewStreamKey& key, const PreviewImage& image,
                            VELKPreviewClient::Transport transport, WallTime now) = 0;
    virtual void applyFailure(const PreviewStreamKey& key, const std::string& message) = 0;
    virtual void applyStop() = 0;
};

struct LivePreviewEnvironment {
    std::uint16_t serverPort = VELKPreviewClient::port;
    // Must outlive the engine; the system clock when null.
    const Clock* clock = nullptr;
    PreviewExchange exchange;
    // Runs a function on the GUI thread, in the order of the calls.
    std::function<void(std::function<void()>)> postToMain;
    // Runs a worker body on a thread of its own pool (wall or selected).
    std::function<void(VELKPreviewProfile, std::function<void()>)> launchWorker;
    // Runs a function once after the given seconds, on any thread.
    std::function<void(double, std::function<void()>)> schedule;
};

class LivePreviewEngine : public std::enable_shared_from_this<LivePreviewEngine> {
public:
    static constexpr double wallRestartPause = 0.35;
    static constexpr double selectedRestartPause = 0.18;
    static constexpr double backoffBase = 0.5;
    static constexpr double backoffCeiling = 8.0;
    static constexpr std::int64_t maximumFailureCount = 5;

    static std::shared_ptr<LivePreviewEngine> create(LivePreviewEnvironment environment);
    ~LivePreviewEngine();
    LivePreviewEngine(const LivePreviewEngine&) = delete;
    LivePreviewEngine& operator=(const LivePreviewEngine&) = delete;

    // GUI thread. Null detaches: nothing is published any more.
    void setPublisher(LivePreviewPublisher* publisher);

    void start(std::vector<LiveCamera> cameras);
    void update(std::vector<LiveCamera> cameras);
    void select(std::set<std::string> cameraIDs);
    void stop();
    // The owner is going away: wake every blocked worker, post and start nothing more.
    void detach();

    // A copy of the private state, for tests.
    struct State {
        bool running = false;
        std::map<PreviewStreamKey, std::string> activeTokens;
        std::map<PreviewStreamKey, std::string> activeHosts;
        std::map<PreviewStreamKey, std::string> lastTokens;
        std::map<PreviewStreamKey, std::int64_t> failureCounts;
        std::map<PreviewStreamKey, std::string> legacyHosts;
        std::map<std::string, std::string> sourceIdentities;
        std::set<PreviewStreamKey> framePools;
    };
    State state() const;

    static std::string sourceIdentity(const LiveCamera& camera);
    // Seconds before the next exchange after one that ended, by outcome.
    static double restartPause(VELKPreviewProfile profile, std::int64_t failures);

private:
    struct Worker {
        std::string token;
        std::string host;
        std::optional<std::string> session;
        std::shared_ptr<PreviewSocketWatch> watch;
    };
    struct LegacyPreference {
        std::string host;
        // Monotonic seconds: a step of the wall clock must not keep or drop a preference.
        double until = 0;
    };

    explicit LivePreviewEngine(LivePreviewEnvironment environment);

    // Under m_mutex.
    void reconcileLocked();
    void startWorkerLocked(const PreviewStreamKey& key, const std::string& host);
    // The stream ended (stopped, or no longer wanted): its frames' memory goes back.
    void endFramesLocked(const PreviewStreamKey& key) noexcept;
    bool isWantedLocked(const PreviewStreamKey& key, const std::string& host) const;
    bool isCurrentLocked(const PreviewStreamKey& key, const std::string& token) const;
    const LiveCamera* cameraLocked(const std::string& id) const;
    void postLocked(std::function<void(LivePreviewEngine&, LivePreviewPublisher&)> step);

    // Worker side.
    void runWorker(const PreviewStreamKey& key, const std::string& host, const std::string& token, bool preferLegacy,
                   const std::shared_ptr<PreviewSocketWatch>& watch, const std::shared_ptr<FramePool>& frames);
    bool isCurrent(const PreviewStreamKey& key, const std::string& token) const;
    void publish(PreviewImage image, VELKPreviewClient::Transport transport, const PreviewStreamKey& key,
                 const std::string& token);
    // The end step of every exchange; throws nothing, and the stream restarts unless it is no
    // longer wanted or another worker owns it.
    void finish(const PreviewStreamKey& key, const std::string& host, const std::string& token,
                std::optional<VELKPreviewClient::Transport> transport, std::exception_ptr error);
    void restart(const PreviewStreamKey& key, const std::string& host, const std::string& token);

    double monotonicSeconds() const;
    WallTime wallNow() const;

    LivePreviewEnvironment m_environment;
    const Clock* m_clock;
    LivePreviewPublisher* m_publisher = nullptr; // GUI thread only

    mutable std::mutex m_mutex;
    bool m_detached = false;
    std::vector<LiveCamera> m_cameras;
    std::set<std::string> m_selectedCameraIDs;
    std::map<PreviewStreamKey, Worker> m_active;
    std::map<PreviewStreamKey, std::string> m_lastTokens;
    std::map<PreviewStreamKey, LegacyPreference> m_legacyPreferences;
    std::map<PreviewStreamKey, std::int64_t> m_failureCounts;
    bool m_running = false;
    std::map<std::string, std::string> m_sourceIdentities;
    // The frame of each stream that waits for its step on the GUI thread (at most one a stream).
    struct WaitingFrame {
        PreviewImage image;
        VELKPreviewClient::Transport transport{};
        std::string token;
    };
    std::map<PreviewStreamKey, WaitingFrame> m_waitingFrames;
    // Sockets of every worker whose exchange has not ended, current or superseded.
    std::map<std::string, std::shared_ptr<PreviewSocketWatch>> m_liveWatches;
    // The frame pool of each stream that runs or waits for its restart.
    std::map<PreviewStreamKey, std::shared_ptr<FramePool>> m_framePools;
};

} // namespace velk
