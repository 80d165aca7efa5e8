#pragma once
// A Library window over a store in a private folder, a browser fed by the fake DNS-SD backend, a
// live channel that never opens its socket, and recorders in place of commands, panels and the
// Wi-Fi sheet.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QIcon>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/theme.hpp"
#include "discovery/dns_sd_fake.hpp"
#include "discovery/lan_discovery.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "library_window/library_commands.hpp"
#include "library_window/library_window.hpp"
#include "store/app_store.hpp"

namespace velk::testing {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "velk_library_window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* created = new QApplication(argc, argv);
        Theme::apply(*created);
        return created;
    }();
    return *app;
}

inline void settle(int rounds = 5) {
    for (int i = 0; i < rounds; ++i) {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

class RecordingCommands final : public LibraryCommands {
public:
    std::vector<std::string> calls;
    std::function<void(bool)> pairDone;
    // What setting the reference camera does besides being recorded (the store's change).
    std::function<void(const std::string&)> referenceSet;
    bool lastAllowOpen = false;

    void openWindow(const std::string& id) override { calls.push_back("open:" + id); }
    void createProject(const std::string& name) override { calls.push_back("create:" + name); }
    void renameSelectedProject(const std::string& name) override { calls.push_back("rename:" + name); }
    void importManifest(const std::filesystem::path& file) override { calls.push_back("import:" + file.string()); }
    void setReferenceCamera(const std::string& id) override {
        calls.push_back("reference:" + id);
        if (referenceSet) referenceSet(id);
    }
    void downloadSelectedTake() override { calls.push_back("downloadTake"); }
    void downloadSelectedProject() override { calls.push_back("downloadProject"); }
    void trashSelectedProjectSources() override { calls.push_back("trash"); }
    void exportSelectedTake(const std::filesystem::path& parent) override { calls.push_back("export:" + parent.string()); }
    void pairAndConnect(const DiscoveredDevice& device, const std::string& code, bool, bool allowOpen,
                        std::function<void(bool)> done) override {
        calls.push_back("pair:" + device.serviceName + ":" + code);
        lastAllowOpen = allowOpen;
        pairDone = std::move(done);
    }
    void connectOpenSources(const std::vector<DiscoveredDevice>& devices) override {
        calls.push_back("loadAll:" + std::to_string(devices.size()));
    }
    void endTransferSession(const std::string& id) override { calls.push_back("end:" + id); }
    void endAllTransferSessions() override { calls.push_back("endAll"); }
    void restartSourceBrowsing() override { calls.push_back("restart"); }
    void requestTransferMode(const LiveCamera& camera) override { calls.push_back("ask:" + camera.id); }
};

class FakeFileDialogs final : public LibraryFileDialogs {
public:
    std::optional<std::filesystem::path> answer; // none: the user cancels
    int shown = 0;
    void chooseManifest(QWidget*, std::function<void(const std::filesystem::path&)> chosen) override { reply(chosen); }
    void chooseExportParent(QWidget*, std::function<void(const std::filesystem::path&)> chosen) override { reply(chosen); }

private:
    void reply(const std::function<void(const std::filesystem::path&)>& chosen) {
        ++shown;
        if (answer) chosen(*answer);
    }
};

struct WiFiRecord {
    std::vector<bool> gate;
    std::vector<std::pair<bool, QString>> rules;
};

class FakeWiFiHost final : public WiFiSheetHost {
public:
    explicit FakeWiFiHost(std::shared_ptr<WiFiRecord> record) : m_record(std::move(record)) {}
    void updateGate(bool allowed) override { m_record->gate.push_back(allowed); }
    QDialog* makeSheet(bool allowed, const QString& reason, QWidget* parent) override {
        m_record->rules.emplace_back(allowed, reason);
        return new QDialog(parent);
    }
    void setChangeRule(QDialog*, bool allowed, const QString& reason) override { m_record->rules.emplace_back(allowed, reason); }

private:
    std::shared_ptr<WiFiRecord> m_record;
};

class LibraryWindowTest : public ::testing::Test {
protected:
    LibraryWindowTest() { application(); }

    void SetUp() override {
        settings = std::make_shared<QSettings>(folder.filePath("settings.ini"), QSettings::IniFormat);
        LibraryWindowOptions options;
        options.commands = commands;
        options.fileDialogs = fileDialogs();
        options.wifi = std::make_unique<FakeWiFiHost>(wifi);
        options.settings = settings;
        options.clock = &clock;
        live = std::make_unique<LiveCameraDiscovery>(quietChannel(), false, initialCameras);
        window = std::make_unique<LibraryWindow>(store, discovery, *live, std::move(options));
    }

    // The panels the window opens: recorders unless a case wants the real ones.
    virtual std::shared_ptr<LibraryFileDialogs> fileDialogs() { return dialogs; }

    void TearDown() override {
        window.reset();
        settle();
        live.reset();
    }

    // A source of the secure type, open-sharing when `open`.
    void announce(const std::string& name, bool open, const std::string& deviceID = "0123456789abcdef") {
        auto service = backend->find(lan::transferServiceType, name);
        DnsSdTxtRecord txt;
        auto put = [&](const std::string& key, const std::string& value) { txt[key] = {value.begin(), value.end()}; };
        put("scheme", "https");
        put("deviceId", deviceID);
        put("sessionId", "5f0c7a7e-51a1-4d5e-9a51-8f1c6b1e2d3f");
        put("fp", std::string(64, 'a'));
        put("foreground", "1");
        if (open) put("access", "open");
        backend->resolve(service, DnsSdResolution{"phone-" + std::to_string(++m_phones) + ".local.", 8443, txt, std::nullopt});
        settle();
    }

    static LiveCameraDiscovery::Options quietChannel() {
        LiveCameraDiscovery::Options options;
        options.watchNetworkPath = false;
        options.watchSleep = false;
        return options;
    }

    QTemporaryDir folder;
    ManualClock clock{fromWallMs(1'765'000'000'000)};
    AppStore store{std::filesystem::path(folder.filePath("support").toStdString()),
                   std::filesystem::path(folder.filePath("recordings").toStdString()), clock};
    std::shared_ptr<FakeDnsSdBackend> backend = std::make_shared<FakeDnsSdBackend>();
    LANDiscovery discovery{true, backend};
    std::vector<LiveCamera> initialCameras;
    std::unique_ptr<LiveCameraDiscovery> live;
    std::shared_ptr<RecordingCommands> commands = std::make_shared<RecordingCommands>();
    std::shared_ptr<FakeFileDialogs> dialogs = std::make_shared<FakeFileDialogs>();
    std::shared_ptr<WiFiRecord> wifi = std::make_shared<WiFiRecord>();
    std::shared_ptr<QSettings> settings;
    std::unique_ptr<LibraryWindow> window;

private:
    int m_phones = 0;
};

} // namespace velk::testing
