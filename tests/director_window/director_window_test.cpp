#include "director_window/director_window.hpp"
#include "app/keyboard_keeper.hpp"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include "director_fakes.hpp"
#include "director_window_support.hpp"
#include "director_window/camera_frame_image.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window/studio_style.hpp"
#include "director_window/studio_view_kit.hpp"
#include "director_window/switcher_view.hpp"
#include "support/control_contrast.hpp"
#include "support/verbatim.hpp"

namespace velk {
namespace {

using namespace test;

TEST(DirectorWindowLifecycle, AppearPlacesCamerasAndDisappearStopsPreviews) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    EXPECT_TRUE(rig.channel.pairingCleared);
    EXPECT_EQ(rig.channel.configuredSender, rig.store->collectorIdentity());
    EXPECT_TRUE(rig.previews->running);
    EXPECT_EQ(rig.previews->lastUpdate, (std::vector<std::string>{"cam-1", "cam-2", "cam-3", "cam-4"}));
    EXPECT_EQ(rig.window->workspace().timeline.previewCameraID, "cam-1");
    EXPECT_FALSE(rig.settings->value("director.cameraSlots.v1").toString().isEmpty());
    EXPECT_EQ(rig.window->cameraCountPill()->text(), "4 CAMERAS");
    rig.window->close();
    EXPECT_FALSE(rig.previews->running);
}

TEST(DirectorWindowKeys, SpaceCutsAndCtrlPeriodStopsAll) {
    app();
    WindowRig rig(fourCameras());
    rig.store->createProject("Show");
    showActive(*rig.window);

    QTest::keyClick(rig.window.get(), Qt::Key_Space); // log not running: CUT disabled, nothing happens
    EXPECT_FALSE(rig.window->workspace().timeline.programCameraID);

    rig.window->startSession();
    ASSERT_TRUE(rig.window->workspace().timeline.isRunning());
    Keyboard::choose(*rig.window->inspector()->session()->takeField());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); // typed into the take field
    EXPECT_FALSE(rig.window->workspace().timeline.programCameraID);

    Keyboard::choose(*rig.window->wall()->cell(0)); // the user leaves the field
    QTest::keyClick(rig.window.get(), Qt::Key_Space);
    EXPECT_EQ(rig.window->workspace().timeline.programCameraID, "cam-1");
    EXPECT_EQ(rig.store->activities().front().message,
              "Director CUT to Alpha at " + rig.window->workspace().plannedTakeID + ".");
    EXPECT_NE(rig.window->workspace().plannedTakeID.find(' '), std::string::npos); // the Space went into the field

    QTest::keyClick(rig.window.get(), Qt::Key_Period, Qt::ControlModifier);
    ASSERT_EQ(rig.channel.stops.size(), 1u);
    EXPECT_TRUE(rig.channel.stops[0].all);
    EXPECT_EQ(rig.channel.stops[0].ids.size(), 4u);
    EXPECT_EQ(rig.store->activities().front().message, "Stop All requested; acceptance and finalization remain separate.");
    saveScreenshot(*rig.window, "live-four-tiles-session");
}

TEST(DirectorWindowRecording, RecAllPreparesTheTakeWithTheFirstSlottedCameraAsReference) {
    app();
    auto cameras = fourCameras();
    cameras[1].lastSeen = secondsAgo(10); // offline but slotted: stopped, not recorded
    WindowRig rig(cameras);
    showActive(*rig.window);
    auto* recAll = rig.window->inspector()->session()->recAllButton();
    EXPECT_FALSE(recAll->isEnabled()); // no project yet
    rig.store->createProject("Show");
    ASSERT_TRUE(recAll->isEnabled());
    recAll->click();
    ASSERT_EQ(rig.channel.begins.size(), 1u);
    const auto& begin = rig.channel.begins[0];
    EXPECT_EQ(begin.ids, (std::vector<std::string>{"cam-1", "cam-3", "cam-4"}));
    EXPECT_EQ(begin.assignment.referenceCameraID, "cam-1");
    EXPECT_EQ(begin.assignment.takeID, rig.window->workspace().plannedTakeID);
    EXPECT_EQ(begin.assignment.projectName, "Show");
    EXPECT_EQ(begin.assignment.timelineFPS, "30/1");
    EXPECT_EQ(rig.store->activities().front().message,
              "Requested durable camera preparation for " + rig.window->workspace().plannedTakeID + ".");
    rig.window->inspector()->session()->stopAllButton()->click();
    // Slot order: the offline camera was placed after the online ones.
    EXPECT_EQ(rig.channel.stops.back().ids, (std::vector<std::string>{"cam-1", "cam-3", "cam-4", "cam-2"}));
}

TEST(DirectorWindowRecording, ActionsTestTheirRuleAgainWhenPressed) {
    app();
    WindowRig rig(fourCameras());
    rig.store->createProject("Show");
    showActive(*rig.window);
    rig.window->startSession();
    ASSERT_TRUE(rig.window->canTake());
    // Every camera falls silent; the controls are not redrawn before the next tick.
    rig.clock.advanceMs(10000);
    rig.window->recAll();
    rig.window->recordSelected(true);
    rig.window->perform(DirectorTransition::cut);
    EXPECT_TRUE(rig.channel.begins.empty());
    EXPECT_FALSE(rig.window->workspace().timeline.programCameraID);
}

TEST(DirectorWindowSwitcher, MarkerSwitchesToEdits) {
    app();
    WindowRig rig(fourCameras());
    rig.store->createProject("Show");
    showActive(*rig.window);
    auto* marker = rig.window->switcher()->markerButton();
    EXPECT_FALSE(marker->isEnabled());
    rig.window->startSession();
    rig.window->perform(DirectorTransition::cut);
    EXPECT_TRUE(marker->isEnabled());
    QTest::mouseClick(marker, Qt::LeftButton);
    EXPECT_EQ(rig.window->inspector()->currentTabIndex(), 3);
    auto* edits = rig.window->inspector()->edits();
    EXPECT_EQ(edits->heading()->detail(), "2 events in this session");
    saveScreenshot(*rig.window, "inspector-edits");
}

TEST(DirectorWindowWall, ReleasingALockedSlotFreesAndPersistsIt) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    auto cameras = fourCameras();
    cameras.erase(cameras.begin() + 1); // Bravo leaves the list: its slot stays locked
    rig.channel.setCameras(cameras);
    CameraWallCell* locked = rig.window->wall()->cell(1);
    ASSERT_EQ(locked->kind(), DirectorPresenters::WallCellKind::lockedOffline);
    saveScreenshot(*rig.window, "locked-slot");

    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), locked->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(locked, &event);
    auto* menu = locked->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Release Camera Slot");
    menu->actions()[0]->trigger();
    EXPECT_EQ(locked->kind(), DirectorPresenters::WallCellKind::empty);
    const auto stored = DirectorCameraSlotLayout::decoded(rig.settings->value("director.cameraSlots.v1").toString().toStdString());
    EXPECT_FALSE(stored.slots()[1].cameraID);
    EXPECT_EQ(stored.slots()[2].cameraID, "cam-3");
}

TEST(DirectorWindowWall, RecordingBadgeIsNamedForAssistiveTools) {
    app();
    auto cameras = fourCameras();
    cameras[0].recording = true;
    WindowRig rig(cameras);
    showActive(*rig.window);
    EXPECT_EQ(rig.window->wall()->cell(0)->accessibleDescription(), "Preview, Camera recording, Connecting\u2026");
    EXPECT_EQ(rig.window->switcher()->previewMonitor()->accessibleDescription(), "Alpha, Camera recording");
    EXPECT_EQ(rig.window->wall()->cell(1)->accessibleDescription(), "Connecting\u2026");
}

// A tile waiting for its first frame shows its symbol below the strip with its name, at the
// window's smallest size (the tiles' height at 1280x720, at 150 % too) and at its default size.
TEST(DirectorWindowWall, AWaitingTilesSymbolLiesBelowItsNameStrip) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    for (const QSize size : {QSize(400, 300), QSize(1320, 820)}) {
        rig.window->resize(size);
        QTest::qWait(20);
        const CameraWallCell& tile = *rig.window->wall()->cell(1);
        ASSERT_EQ(tile.tileState().placeholderText, "Connecting\u2026");
        const QRectF symbol = tile.statusSymbol();
        EXPECT_FALSE(symbol.isEmpty()) << tile.height();
        EXPECT_GE(symbol.top(), tile.labelStrip().bottom()) << tile.height();
    }
}

TEST(DirectorWindowWall, OnlyTheTileWhoseFrameChangedRepaints) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    QTest::qWait(30);
    std::vector<std::uint64_t> before;
    for (int i = 0; i < 4; ++i) before.push_back(rig.window->wall()->cell(i)->paintCount());
    rig.previews->publishWall("cam-3", halves(64, 36));
    QTest::qWait(30); // lets the pending update requests paint
    for (int i = 0; i < 4; ++i) {
        const auto painted = rig.window->wall()->cell(i)->paintCount() - before[static_cast<std::size_t>(i)];
        if (i == 2) EXPECT_GE(painted, 1u);
        else EXPECT_EQ(painted, 0u) << i;
    }
}

// Which cameras get a selected stream, from what the window hands its preview store: Preview and
// Program while the effective policy is 5 GHz performance, none otherwise.
TEST(DirectorWindowPreviews, SelectedStreamsFollowTheEffectivePolicyAndTheTimeline) {
    app();
    auto cameras = fourCameras();
    for (auto& camera : cameras) {
        camera.previewCapabilities.version = 1;
        camera.previewCapabilities.wifiBandGHz = 5.2;
        camera.previewCapabilities.usableMbps = 70;
    }
    WindowRig rig(cameras);
    rig.store->createProject("Show");
    showActive(*rig.window);
    using Ids = std::set<std::string>;
    EXPECT_EQ(rig.previews->lastSelect, Ids{"cam-1"}); // automatic, every policy camera capable
    rig.window->startSession();
    rig.window->perform(DirectorTransition::cut);
    EXPECT_EQ(rig.previews->lastSelect, Ids{"cam-1"}); // Program alone
    rig.window->selectPreview("cam-3");
    EXPECT_EQ(rig.previews->lastSelect, (Ids{"cam-1", "cam-3"}));
    rig.window->selectPreview("cam-1"); // Preview and Program the same camera: one stream
    EXPECT_EQ(rig.previews->lastSelect, Ids{"cam-1"});
    rig.window->selectPreview("cam-3");

    rig.window->setStoredPolicy("conservative24GHz");
    EXPECT_EQ(rig.previews->lastSelect, Ids{});
    rig.window->setStoredPolicy("performance5GHz");
    EXPECT_EQ(rig.previews->lastSelect, (Ids{"cam-1", "cam-3"}));

    // Automatic gives way to a hot Preview camera, and comes back when it cools.
    rig.window->setStoredPolicy("automatic");
    cameras[2].previewTransport.thermalLevel = "serious";
    rig.channel.setCameras(cameras);
    EXPECT_EQ(rig.previews->lastSelect, Ids{});
    cameras[2].previewTransport.thermalLevel = "Fair";
    rig.channel.setCameras(cameras);
    EXPECT_EQ(rig.previews->lastSelect, (Ids{"cam-1", "cam-3"}));
    // A hot camera that is neither Preview nor Program changes nothing.
    cameras[3].previewTransport.thermalLevel = "critical";
    rig.channel.setCameras(cameras);
    EXPECT_EQ(rig.previews->lastSelect, (Ids{"cam-1", "cam-3"}));
    // A Preview camera that cannot carry 5 GHz streams: conservative, no selected streams.
    cameras[2].previewCapabilities.usableMbps = 40;
    rig.channel.setCameras(cameras);
    EXPECT_EQ(rig.previews->lastSelect, Ids{});
}

TEST(DirectorWindowScreens, EmptyAndInspectorTabs) {
    app();
    WindowRig empty;
    showActive(*empty.window);
    EXPECT_TRUE(empty.window->wall()->showsEmptyState());
    QTest::mouseClick(empty.window->wall()->scanAgainButton(), Qt::LeftButton);
    EXPECT_EQ(empty.channel.rescans, 1);
    EXPECT_EQ(empty.window->cameraCountPill()->text(), "0 CAMERAS");
    saveScreenshot(*empty.window, "empty");

    auto cameras = fourCameras();
    cameras[0].recording = true;
    cameras[0].recordingSinceMs = toWallMs(kNow) - 65'000;
    cameras[1].finalizing = true;
    cameras[2].battery = 64;
    WindowRig rig(cameras);
    rig.store->createProject("Evening Show");
    const char* names[] = {"a", "b", "c", "d"};
    int i = 0;
    for (const auto& camera : cameras) {
        QImage frame = halves(320, 180);
        QPainter(&frame).drawText(QRect(0, 0, 320, 180), Qt::AlignCenter, QString("CAM ") + names[i++]);
        rig.previews->wall[camera.id] = frame;
    }
    rig.channel.status.phase = DirectorRecordingPhase::recording;
    showActive(*rig.window);
    saveScreenshot(*rig.window, "recording");
    for (auto tab : {DirectorInspectorTab::session, DirectorInspectorTab::audio, DirectorInspectorTab::camera}) {
        rig.window->setInspectorTab(tab);
        saveScreenshot(*rig.window, (std::string("inspector-") + std::string(rawValue(tab))).c_str());
    }
    EXPECT_EQ(rig.window->inspector()->camera()->statusRows()[4]->value(), "4K30");
}

TEST(DirectorWindowScreens, LongProjectNameAndTakeIdKeepTheWindowsMinimumWidth) {
    app();
    WindowRig rig(fourCameras());
    rig.store->createProject(std::string(150, 'P'));
    rig.window->setPlannedTakeID(std::string(64, 't'));
    showActive(*rig.window);
    EXPECT_LE(rig.window->minimumSizeHint().width(), 1050);
    EXPECT_LE(rig.window->minimumSize().width(), 1050);
    rig.window->resize(1050, 690);
    saveScreenshot(*rig.window, "long-names");
    EXPECT_EQ(rig.window->width(), 1050);
    // The project picker cuts the name with an ellipsis and shows it whole on hover.
    ElidedComboBox& picker = *rig.window->inspector()->session()->projectPicker();
    EXPECT_TRUE(picker.shownText().endsWith(QChar(0x2026))) << picker.shownText().toStdString();
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), picker.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&picker, &hover);
    EXPECT_EQ(toolTipAsShown(QToolTip::text()), QString(150, 'P'));
}

// The Camera page's orientation symbol is sharp at scale 1: as at the size its drawing is made for,
// where 2 in 5 of the pixels it touches are wholly covered (drawn smaller, a stroke spreads over two
// pixels at half strength and fewer than 1 in 3 are).
TEST(DirectorWindowScreens, SmallSymbolsAreSharp) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    rig.window->setInspectorTab(DirectorInspectorTab::camera);
    // Each symbol and the share of the pixels it touches that it covers whole at its drawing's size
    // (0.45 and 0.29; at 13 px, 0.30 and 0.08).
    const struct {
        const char* name;
        double sharp;
    } symbols[] = {{"orientationSymbol", 0.4}, {"monitorOnlySymbol", 0.2}};
    for (const auto& [name, sharp] : symbols) {
        auto* symbol = rig.window->findChild<QLabel*>(name);
        ASSERT_NE(symbol, nullptr) << name;
        const QImage drawn = symbol->pixmap().toImage();
        // Coverage against the ink's own strength (a secondary ink is itself translucent).
        int ink = 0, touched = 0, whole = 0;
        for (int i = 0; i < drawn.width() * drawn.height(); ++i) ink = std::max(ink, qAlpha(drawn.pixel(i % drawn.width(), i / drawn.width())));
        for (int i = 0; i < drawn.width() * drawn.height(); ++i) {
            touched += qAlpha(drawn.pixel(i % drawn.width(), i / drawn.width())) > ink / 10;
            whole += qAlpha(drawn.pixel(i % drawn.width(), i / drawn.width())) > ink * 9 / 10;
        }
        EXPECT_GE(whole, sharp * std::max(touched, 1)) << name << ": " << whole << " of " << touched;
    }
}

// The Session page's take field and the Camera page's live-production box (shown where the build
// shows it) differ from what they are drawn on by at least 3:1.
TEST(DirectorWindowScreens, EveryControlStandsOutFromWhatItIsDrawnOn) {
    app();
    WindowRig rig(fourCameras(), true);
    showActive(*rig.window);
    for (auto tab : {DirectorInspectorTab::session, DirectorInspectorTab::camera}) {
        rig.window->setInspectorTab(tab);
        QCoreApplication::processEvents(); // the page's pending layout
        expectControlsStandOut(*rig.window, std::string(rawValue(tab)), 1);
    }
}

TEST(CameraFrameImage, QuarterTurnFillsTheSwappedFrame) {
    app();
    // A portrait frame, red on the left and blue on the right, drawn into a landscape box: a
    // quarter turn clockwise puts the red half on top and fills the box.
    const QImage frame = halves(90, 160);
    struct Case { std::int64_t rotation; QRgb top, bottom, left, right; };
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), black = qRgb(0, 0, 0);
    const Case cases[] = {
        {90, red, blue, red, red},       // red half on top, fills the whole width
        {450, red, blue, red, red},      // normalised to 90
        {-90, blue, red, blue, blue},    // 270
        {0, red, red, black, black},     // unturned portrait: pillar-boxed, sides stay black
    };
    for (const Case& c : cases) {
        QImage box(160, 90, QImage::Format_RGB32);
        box.fill(Qt::black);
        QPainter painter(&box);
        drawCameraFrame(painter, QRectF(0, 0, 160, 90), frame, c.rotation);
        painter.end();
        EXPECT_EQ(box.pixel(70, 10), c.top) << c.rotation;
        EXPECT_EQ(box.pixel(70, 80), c.bottom) << c.rotation;
        EXPECT_EQ(box.pixel(3, 10), c.left) << c.rotation;
        EXPECT_EQ(box.pixel(156, 10), c.right) << c.rotation;
    }
}

} // namespace
} // namespace velk
