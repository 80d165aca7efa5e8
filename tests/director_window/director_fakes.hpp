#pragma once
// A live channel and a preview store that tests drive by hand, and a window built on them with a
// temporary store and settings file.

#include <map>
#include <memory>

#include <QSettings>
#include <QTemporaryDir>

#include "director_test_support.hpp"
#include "director_window/director_services.hpp"
#include "director_window/director_window.hpp"
#include "store/app_store.hpp"

namespace velk::test {

class FakeChannel final : public DirectorLiveChannel {
public:
    struct Stop {
        std::vector<std::string> ids;
        std::string sender;
        bool all = false;
    };
    struct Begin {
        std::vector<std::string> ids;
        DirectorTakeAssignment assignment;
    };

    std::vector<LiveCamera> list;
    DirectorRecordingStatus status;
    std::optional<std::string> message;
    std::vector<Stop> stops;
    std::vector<Begin> begins;
    int rescans = 0;
    // Whether a begun recording blocks the next start at once, as the live channel's does.
    bool beginningBlocks = false;
    // The control message a begin publishes with its status, as the live channel's does: a refusal
    // when the begin does not block.
    std::optional<std::string> beginMessage;
    bool pairingCleared = false;
    std::string configuredSender;

    void setCameras(std::vector<LiveCamera> cameras) {
        list = std::move(cameras);
        Q_EMIT camerasChanged();
    }

    const std::vector<LiveCamera>& cameras() const override { return list; }
    std::uint64_t livenessTick() const override { return 0; }
    bool isActiveScanning() const override { return false; }
    std::optional<std::string> lastControlMessage() const override { return message; }
    DirectorRecordingStatus recordingStatus() const override { return status; }
    void clearPairingHandler() override { pairingCleared = true; }
    void rescan() override { ++rescans; }
    void configureRecording(const std::string& sender) override { configuredSender = sender; }
    void beginRecording(const std::vector<LiveCamera>& cameras, const std::string&,
                        const DirectorTakeAssignment& assignment) override {
        begins.push_back({idsOf(cameras), assignment});
        if (beginMessage) message = beginMessage;
        if (beginningBlocks) {
            status.phase = DirectorRecordingPhase::synchronizing;
            Q_EMIT recordingStatusChanged();
        }
        if (beginMessage) Q_EMIT lastControlMessageChanged();
    }
    void stopRecording(const std::vector<LiveCamera>& cameras, const std::string& sender, bool all) override {
        stops.push_back({idsOf(cameras), sender, all});
    }

    static std::vector<std::string> idsOf(const std::vector<LiveCamera>& cameras) {
        std::vector<std::string> ids;
        for (const auto& c : cameras) ids.push_back(c.id);
        return ids;
    }
};

class FakePreviews final : public DirectorPreviewFeed {
public:
    std::map<std::string, QImage> wall, selected;
    std::map<std::string, std::string> errors;
    std::map<std::string, VELKPreviewClient::Transport> wallTransports, selectedTransports;
    bool running = false;
    std::vector<std::string> lastUpdate;
    std::set<std::string> lastSelect;

    void publishWall(const std::string& id, QImage image) {
        wall[id] = std::move(image);
        Q_EMIT wallFramesChanged();
    }

    void start(const std::vector<LiveCamera>& cameras) override {
        running = true;
        update(cameras);
    }
    void update(const std::vector<LiveCamera>& cameras) override { lastUpdate = FakeChannel::idsOf(cameras); }
    void select(const std::set<std::string>& ids) override { lastSelect = ids; }
    void stop() override { running = false; }
    const QImage* wallFrame(const std::string& id) const override { return find(wall, id); }
    const QImage* selectedFrame(const std::string& id) const override { return find(selected, id); }
    std::optional<std::string> error(const std::string& id) const override {
        auto it = errors.find(id);
        return it == errors.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<VELKPreviewClient::Transport> wallTransport(const std::string& id) const override {
        auto it = wallTransports.find(id);
        return it == wallTransports.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<VELKPreviewClient::Transport> selectedTransport(const std::string& id) const override {
        auto it = selectedTransports.find(id);
        return it == selectedTransports.end() ? std::nullopt : std::optional(it->second);
    }
    std::vector<std::string> camerasWithWallFrames() const override {
        std::vector<std::string> ids;
        for (const auto& [id, image] : wall) ids.push_back(id);
        return ids;
    }

private:
    static const QImage* find(const std::map<std::string, QImage>& map, const std::string& id) {
        auto it = map.find(id);
        return it == map.end() ? nullptr : &it->second;
    }
};

// A test pattern: left half red, right half blue, of the given size.
inline QImage halves(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, x < width / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    return image;
}

struct WindowRig {
    QTemporaryDir folder;
    ManualClock clock{kNow};
    std::unique_ptr<AppStore> store;
    std::unique_ptr<QSettings> settings;
    FakeChannel channel;
    FakePreviews* previews = nullptr;
    std::vector<std::string> opened;
    std::unique_ptr<DirectorWindow> window;

    // `liveProductionControls`: the profile's seam for the hidden live-production controls.
    explicit WindowRig(std::vector<LiveCamera> cameras = {},
                       bool liveProductionControls = LiveProductionProfile::controlsVisible) {
        store = std::make_unique<AppStore>(std::filesystem::path(folder.filePath("data").toStdString()),
                                           std::filesystem::path(folder.filePath("videos").toStdString()), clock);
        settings = std::make_unique<QSettings>(folder.filePath("settings.ini"), QSettings::IniFormat);
        channel.list = std::move(cameras);
        auto feed = std::make_unique<FakePreviews>();
        previews = feed.get();
        window = std::make_unique<DirectorWindow>(DirectorWindow::Environment{
            .store = *store,
            .channel = channel,
            .previews = std::move(feed),
            .openWindow = [this](const std::string& id) { opened.push_back(id); },
            .clock = clock,
            .settings = settings.get(),
            .liveProductionControlsVisible = liveProductionControls,
        });
    }
};

} // namespace velk::test
