#pragma once
// What the Director window uses of the live camera channel and of its preview store, each behind a
// small interface: the application hands in the real services, tests drive fakes. Every call and
// signal is on the GUI thread.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QImage>
#include <QObject>

#include "director/director_recording_coordinator.hpp"
#include "model/live_camera.hpp"
#include "preview/preview_protocol.hpp"

namespace velk {

class LiveCameraDiscovery;

class DirectorLiveChannel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual const std::vector<LiveCamera>& cameras() const = 0;
    virtual std::uint64_t livenessTick() const = 0;
    virtual bool isActiveScanning() const = 0;
    virtual std::optional<std::string> lastControlMessage() const = 0;
    virtual DirectorRecordingStatus recordingStatus() const = 0;

    // Pairing datagrams are dropped while the Director window is open.
    virtual void clearPairingHandler() = 0;
    virtual void rescan() = 0;
    virtual void configureRecording(const std::string& sender) = 0;
    virtual void beginRecording(const std::vector<LiveCamera>& cameras, const std::string& sender,
                                const DirectorTakeAssignment& assignment) = 0;
    virtual void stopRecording(const std::vector<LiveCamera>& cameras, const std::string& sender, bool all) = 0;

Q_SIGNALS:
    void camerasChanged();
    void livenessTickChanged();
    void isActiveScanningChanged();
    void lastControlMessageChanged();
    void recordingStatusChanged();
};

// The live camera channel itself.
class LiveCameraDiscoveryChannel final : public DirectorLiveChannel {
    Q_OBJECT
public:
    explicit LiveCameraDiscoveryChannel(LiveCameraDiscovery& discovery, QObject* parent = nullptr);

    const std::vector<LiveCamera>& cameras() const override;
    std::uint64_t livenessTick() const override;
    bool isActiveScanning() const override;
    std::optional<std::string> lastControlMessage() const override;
    DirectorRecordingStatus recordingStatus() const override;
    void clearPairingHandler() override;
    void rescan() override;
    void configureRecording(const std::string& sender) override;
    void beginRecording(const std::vector<LiveCamera>& cameras, const std::string& sender,
                        const DirectorTakeAssignment& assignment) override;
    void stopRecording(const std::vector<LiveCamera>& cameras, const std::string& sender, bool all) override;

private:
    LiveCameraDiscovery& m_discovery;
};

// The preview frames of the wall and the monitors. The window owns one for as long as it is open.
class DirectorPreviewFeed : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start(const std::vector<LiveCamera>& cameras) = 0;
    virtual void update(const std::vector<LiveCamera>& cameras) = 0;
    virtual void select(const std::set<std::string>& cameraIDs) = 0;
    virtual void stop() = 0;

    // Null when there is none; valid until the next change signal.
    virtual const QImage* wallFrame(const std::string& cameraID) const = 0;
    virtual const QImage* selectedFrame(const std::string& cameraID) const = 0;
    virtual std::optional<std::string> error(const std::string& cameraID) const = 0;
    virtual std::optional<VELKPreviewClient::Transport> wallTransport(const std::string& cameraID) const = 0;
    virtual std::optional<VELKPreviewClient::Transport> selectedTransport(const std::string& cameraID) const = 0;
    // Sorted ids of the cameras that have a wall frame.
    virtual std::vector<std::string> camerasWithWallFrames() const = 0;

Q_SIGNALS:
    void wallFramesChanged();
    void selectedFramesChanged();
    void errorsChanged();
    void transportsChanged();
};

// The preview store of the application.
class LivePreviewStore;
class LivePreviewStoreFeed final : public DirectorPreviewFeed {
    Q_OBJECT
public:
    // Takes ownership of the store.
    explicit LivePreviewStoreFeed(LivePreviewStore* store, QObject* parent = nullptr);
    ~LivePreviewStoreFeed() override;

    void start(const std::vector<LiveCamera>& cameras) override;
    void update(const std::vector<LiveCamera>& cameras) override;
    void select(const std::set<std::string>& cameraIDs) override;
    void stop() override;
    const QImage* wallFrame(const std::string& cameraID) const override;
    const QImage* selectedFrame(const std::string& cameraID) const override;
    std::optional<std::string> error(const std::string& cameraID) const override;
    std::optional<VELKPreviewClient::Transport> wallTransport(const std::string& cameraID) const override;
    std::optional<VELKPreviewClient::Transport> selectedTransport(const std::string& cameraID) const override;
    std::vector<std::string> camerasWithWallFrames() const override;

    LivePreviewStore& store() const { return *m_store; }

private:
    LivePreviewStore* m_store;
};

} // namespace velk
