// Review material, not a gate: the window, its tabs and its sheets drawn under the offscreen
// platform into build/…/screenshots.

#include <QDir>
#include <QMessageBox>

#include <QPushButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include "library_window/collect_sheet.hpp"
#include "library_window/dashboard_view.hpp"
#include "support/build_paths.hpp"
#include "wifi/ui/wifi_onboarding_view.hpp"
#include "library_window_fixture.hpp"

namespace velk::testing {
namespace {

void save(QWidget* widget, const QString& name) {
    QDir().mkpath(QString::fromStdString(test::binaryPath("screenshots")));
    settle();
    EXPECT_TRUE(widget->grab().save(QString::fromStdString(test::binaryPath("screenshots/")) + name + QStringLiteral(".png")));
}

VELKLibrary screenshotLibrary() {
    auto clip = [](std::string camera, std::optional<std::string> local, int anchors, std::string device) {
        VELKClip c{.id = "clip-" + camera, .cameraId = camera, .fileName = camera + "_take-014.mov", .localPath = local};
        c.anchors.resize(static_cast<std::size_t>(anchors));
        c.deviceName = device;
        return c;
    };
    VELKTake take{.id = "take-014", .projectNameAtCapture = "Harbour Interview", .referenceCameraId = "cam-a",
                  .timelineFPS = "30/1",
                  .clips = {clip("cam-a", "/v/a.mov", 3, "Camera A (iPhone)"), clip("cam-b", "/v/b.mov", 2, "Camera B"),
                            clip("cam-c", std::nullopt, 0, "Camera C")}};
    VELKTake ready{.id = "take-013", .timelineFPS = "25", .clips = {clip("cam-a", "/v/a2.mov", 1, "Camera A")}};
    return VELKLibrary{{{"p1", "Harbour Interview", 3, {take, ready, VELKTake{.id = "take-015"}}},
                        {"p2", "Wedding — Saturday", 1, {}},
                        {"unassigned-0123456789abcdef", "Phone 7", std::nullopt, {ready}}}};
}

TEST_F(LibraryWindowTest, Screenshots) {
    store.setLibrary(screenshotLibrary());
    store.setSelectedProjectID("p1");
    store.log("Imported take take-014 with 3 camera clip(s).");
    store.log("Download failed for cam-c_take-014.mov: the source closed the connection.", true);
    store.setTransfers({{"t1", "cam-a_take-014.mov", TransferPhase::ready, 100, 100, "Verified SHA-256"},
                        {"t2", "cam-b_take-014.mov", TransferPhase::verifying, 90, 100, ""},
                        {"t3", "cam-c_take-014.mov", TransferPhase::downloading, 35, 100, "Resuming at 35 MB"}});
    store.setTransferSessions({{"0123456789abcdef", "Camera A", "s", clock.now() + std::chrono::minutes(12), "", true},
                               {"fedcba9876543210", "Camera B", "s", clock.now() + std::chrono::minutes(9), "", false}});
    store.setCollectSources({{"0123456789abcdef", "Camera A", CollectSourcePhase::downloading, 40, 100, "2 of 5 clips"},
                             {"fedcba9876543210", "Camera B", CollectSourcePhase::failed, 0, 0,
                              "The phone left Transfer Mode; bring it to the foreground and try again."}});
    window->show();
    save(window.get(), "library-window-overview");
    window->dashboard()->setTab(library::LibraryDashboardTab::media);
    save(window.get(), "library-window-media");
    window->dashboard()->setTab(library::LibraryDashboardTab::exportPackage);
    save(window.get(), "library-window-resolve");
    window->dashboard()->setTab(library::LibraryDashboardTab::activity);
    save(window.get(), "library-window-activity");

    window->showNewProject();
    save(window->sheet(), "library-sheet-new-project");
    window->sheet()->close();
    settle();
    window->showRenameProject();
    save(window->sheet(), "library-sheet-rename-project");
    window->sheet()->close();
    settle();

    window->showCollect();
    save(window->sheet(), "library-sheet-collect-no-sources");
    announce("Camera A", true);
    announce("Camera B", false);
    window->sheet()->close();
    settle();
    window->showCollect();
    save(window->sheet(), "library-sheet-collect-sources");
    auto* sheet = qobject_cast<library::CollectSheet*>(window->sheet());
    sheet->findChildren<QPushButton*>(QStringLiteral("card")).back()->click();
    sheet->fingerprintToggle()->setChecked(true);
    QTest::keyClicks(sheet->codeField(), "1234");
    save(sheet, "library-sheet-collect-pairing");
    window->sheet()->close();
    settle();

    store.setErrorMessage("Resolve export failed: the folder already exists.");
    save(window->errorAlert(), "library-alert-error");
}

class LibraryWindowWithCamerasTest : public LibraryWindowTest {
protected:
    LibraryWindowWithCamerasTest() {
        for (const char* name : {"Camera A", "Camera B", "Director Mac", "Camera C"}) {
            LiveCamera camera;
            camera.id = name;
            camera.name = name;
            camera.role = std::string(name).starts_with("Director") ? "director" : "camera";
            camera.lastSeen = clock.now();
            camera.recording = std::string(name) == "Camera B";
            initialCameras.push_back(camera);
        }
    }
};

TEST_F(LibraryWindowWithCamerasTest, ScreenshotsCollectWithLiveCameras) {
    window->show();
    window->showCollect();
    auto cards = window->sheet()->findChildren<QPushButton*>(QStringLiteral("card"));
    ASSERT_EQ(cards.size(), 3);
    EXPECT_FALSE(cards[1]->isEnabled()); // recording
    cards[0]->click();
    EXPECT_EQ(commands->calls, (std::vector<std::string>{"ask:Camera A", "restart"}));
    save(window->sheet(), "library-sheet-collect-cameras");
}

TEST_F(LibraryWindowTest, ScreenshotsEmpty) {
    window->show();
    save(window.get(), "library-window-empty");
}

} // namespace
} // namespace velk::testing

namespace velk::testing {
namespace {

TEST_F(LibraryWindowTest, WiFiSheetIsTheOnboardingViewWithTheGuardsDecision) {
    LibraryWindowOptions options;
    options.commands = commands;
    options.settings = settings;
    options.clock = &clock;
    LibraryWindow real(store, discovery, *live, std::move(options));
    real.show();
    store.setIsBusy(true);
    real.showWiFi();
    auto* sheet = qobject_cast<WiFiOnboardingView*>(real.sheet());
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->changeAllowed());
    store.setIsBusy(false);
    EXPECT_TRUE(sheet->changeAllowed());
    save(sheet, "library-sheet-wifi");
    sheet->close();
}

} // namespace
} // namespace velk::testing
