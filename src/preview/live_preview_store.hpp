#pragma once
// The preview store behind the Director window's camera wall and its Preview and Program
// monitors. One per Director window: start(cameras) when the window opens, update(cameras) on every
// change of the camera list and every liveness tick, select(ids) for the monitors' cameras under
// the 5 GHz policy (the empty set otherwise), stop() when the window closes.
//
// The six maps change only on the GUI thread, and each change signal fires only when its map
// really changed. Frames are QImages decoded on worker threads into their stream's FramePool;
// draw them on the GUI thread. A frame holds one of the pool's few buffers while any copy of it
// lives, so a view keeps only the frame it shows.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QImage>
#include <QObject>

#include "base/clock.hpp"
#include "model/live_camera.hpp"
#include "preview/live_preview_engine.hpp"
#include "preview/preview_protocol.hpp"

namespace velk {

class LivePreviewStore final : public QObject, private LivePreviewPublisher {
    Q_OBJECT
public:
    using FrameMap = std::map<std::string, QImage>;
    using TextMap = std::map<std::string, std::string>;
    using TimeMap = std::map<std::string, WallTime>;
    using TransportMap = std::map<std::string, VELKPreviewClient::Transport>;

    // What tests and benchmarks may replace; the application uses the defaults.
    struct Options {
        std::uint16_t serverPort = VELKPreviewClient::port;
        // Must outlive the store and its workers; the system clock when null.
        const Clock* clock = nullptr;
        // The exchange with one camera; VELKPreviewClient::receive when empty. Frames are QImages.
        PreviewExchange exchange;
        // Runs a function on the GUI thread in call order; posted to this object when empty.
        std::function<void(std::function<void()>)> postToMain;
        // Runs a worker body; the store's wall and selected thread pools when empty.
        std::function<void(VELKPreviewProfile, std::function<void()>)> launchWorker;
        // Runs a function once after the given seconds; a GUI-thread timer when empty.
        std::function<void(double, std::function<void()>)> schedule;
    };

    explicit LivePreviewStore(std::uint16_t serverPort = VELKPreviewClient::port, QObject* parent = nullptr);
    explicit LivePreviewStore(Options options, QObject* parent = nullptr);
    // Does not stop the streams (call stop() first); it wakes blocked workers and publishes nothing more.
    ~LivePreviewStore() override;

    void start(const std::vector<LiveCamera>& cameras);
    void update(const std::vector<LiveCamera>& cameras);
    void select(const std::set<std::string>& cameraIDs);
    void stop();

    // Newest frame of each camera's wall / selected stream.
    const FrameMap& wallFrames() const { return m_wallFrames; }
    const FrameMap& selectedFrames() const { return m_selectedFrames; }
    // Text of the last failure of either stream of a camera, until its next frame.
    const TextMap& errors() const { return m_errors; }
    // When the first frame of a camera was published since its entry was last removed.
    const TimeMap& frameTimes() const { return m_frameTimes; }
    // Transport of each camera's last wall / selected frame.
    const TransportMap& wallTransports() const { return m_wallTransports; }
    const TransportMap& selectedTransports() const { return m_selectedTransports; }

    std::uint16_t serverPort() const { return m_serverPort; }
    // The engine's private state, for tests.
    LivePreviewEngine::State engineState() const { return m_engine->state(); }

Q_SIGNALS:
    void wallFramesChanged();
    void selectedFramesChanged();
    void errorsChanged();
    void frameTimesChanged();
    void wallTransportsChanged();
    void selectedTransportsChanged();

private:
    void applyReconcile(const std::vector<std::string>& changedIDs, const std::vector<PreviewStreamKey>& stoppedKeys,
                        const std::set<std::string>& eligibleIDs,
                        const std::set<std::string>& selectedEligibleIDs) override;
    void applyFrame(const PreviewStreamKey& key, const PreviewImage& image, VELKPreviewClient::Transport transport,
                    WallTime now) override;
    void applyFailure(const PreviewStreamKey& key, const std::string& message) override;
    void applyStop() override;

    std::uint16_t m_serverPort;
    FrameMap m_wallFrames;
    FrameMap m_selectedFrames;
    TextMap m_errors;
    TimeMap m_frameTimes;
    TransportMap m_wallTransports;
    TransportMap m_selectedTransports;
    std::shared_ptr<LivePreviewEngine> m_engine;
};

} // namespace velk
