#include "director_window/director_presenters.hpp"
#include "director_window/preview_transport_texts.hpp"

#include <clocale>

#include <gtest/gtest.h>

#include "director_test_support.hpp"

namespace velk {
namespace {

using namespace DirectorPresenters;
using test::kNow;
using test::offline;
using test::readyCamera;

TEST(DirectorHeader, PillsAndProductionBar) {
    EXPECT_EQ(cameraCountPill(0), (StatusPillValue{"0 CAMERAS", StudioColor::orange}));
    EXPECT_EQ(cameraCountPill(3), (StatusPillValue{"3 CAMERAS", StudioColor::green}));
    EXPECT_EQ(phasePill(DirectorRecordingPhase::recording), (StatusPillValue{"RECORDING", StudioColor::red}));
    EXPECT_EQ(phasePill(DirectorRecordingPhase::failed), (StatusPillValue{"FAILED", StudioColor::secondary}));
    const auto idle = productionBar(0, std::nullopt, "take-x", "Auto");
    EXPECT_EQ(idle.networkText, "Waiting for cameras");
    EXPECT_EQ(idle.dotColor, StudioColor::orange);
    EXPECT_EQ(idle.projectText, "No project selected");
    EXPECT_EQ(idle.takeText, "/  take-x");
    EXPECT_EQ(idle.policyText, "JPEG \u2022 Auto");
    EXPECT_EQ(productionBar(2, VELKProject{.id = "p", .name = "Show"}, "t", "Auto").networkText, "Live network active");
}

TEST(DirectorWall, CellsAndGeometry) {
    const Cameras cameras{offline(readyCamera("a", "Alpha"))};
    std::vector<DirectorCameraSlot> slots{{0, "a", "Alpha"}, {3, "gone", "Old name"}, {5, "nameless", std::nullopt}};
    const auto cells = wallCells(DirectorCameraSlotLayout(slots), cameras);
    ASSERT_EQ(cells.size(), 8u);
    EXPECT_EQ(cells[0].kind, WallCellKind::live); // listed, although offline
    EXPECT_EQ(cells[1].kind, WallCellKind::empty);
    EXPECT_EQ(cells[3].kind, WallCellKind::lockedOffline);
    EXPECT_EQ(cells[3].lockedName, "Old name");
    EXPECT_EQ(cells[5].lockedName, "Camera");
    EXPECT_EQ(lockedSlotLine(cells[3].number), "Offline \u2022 slot 4 locked");
    EXPECT_EQ(emptySlotTitle(8), "CAM 8");
    EXPECT_EQ(wallCellHeight(400), 196.5);
    EXPECT_TRUE(wallShowsEmptyState(DirectorCameraSlotLayout()));
    EXPECT_FALSE(wallShowsEmptyState(DirectorCameraSlotLayout(slots)));
}

// The wall's part of the keyboard's home: live tiles, those not on Program first (after the first
// cut, where Return chooses the next Preview), never a locked cell or an empty slot.
TEST(DirectorSwitcher, TheKeyboardsHomeIsTheFirstTileWithACameraNotOnProgram) {
    const Cameras cameras{readyCamera("a", "Alpha"), readyCamera("b", "Bravo")};
    const std::vector<DirectorCameraSlot> live{{1, "a", "Alpha"}, {2, "b", "Bravo"}};
    const std::vector<DirectorCameraSlot> lockedFirst{{0, "gone", "Old"}, {2, "a", "Alpha"}};
    const struct {
        const char* what;
        std::vector<DirectorCameraSlot> slots;
        std::optional<std::string> program;
        std::vector<std::size_t> home;
    } cases[] = {
        {"nothing on Program: the tiles in order", live, std::nullopt, {1, 2}},
        {"first cut: the first tile not on Program first", live, "a", {2, 1}},
        {"a locked cell is passed over", lockedFirst, std::nullopt, {2}},
        {"only Program's tile", lockedFirst, "a", {2}},
        {"no camera in a slot", {{0, "gone", "Old"}}, std::nullopt, {}},
        {"an empty wall", {}, std::nullopt, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keyboardHome(wallCells(DirectorCameraSlotLayout(c.slots), cameras), c.program), c.home) << c.what;
}

TEST(DirectorTile, StateMatrix) {
    struct Case {
        const char* name;
        LiveCamera camera;
        bool hasImage;
        std::optional<std::string> error;
        bool preview, program;
        TileState expected;
    };
    auto recording = readyCamera("a", "A");
    recording.recording = true;
    recording.finalizing = true;
    recording.recordingSinceMs = toWallMs(kNow) - 3'725'000;
    auto noStart = recording;
    noStart.recordingSinceMs = 0;
    auto saving = readyCamera("a", "A");
    saving.finalizing = true;
    saving.takeBusy = true;
    auto busy = readyCamera("a", "A");
    busy.takeBusy = true;
    busy.battery = 0;
    auto levels = readyCamera("a", "A");
    levels.leftDB = -12.4;
    levels.rightDB = -3.6;
    levels.battery = 87;
    auto offlineFlags = offline(saving);
    offlineFlags.recording = true;
    offlineFlags.battery = 50;
    const Case cases[] = {
        {"connecting", readyCamera("a", "A"), false, std::nullopt, false, false,
         {false, "Connecting\u2026", StudioColor::green, TileBadge::none, TileTag::none, TileOutline::normal, -30, "-30 dB", false, std::nullopt, "Connecting\u2026"}},
        {"error text", readyCamera("a", "A"), false, "Preview connection failed", true, false,
         {false, "Preview connection failed", StudioColor::green, TileBadge::none, TileTag::preview, TileOutline::preview, -30, "-30 dB", false, std::nullopt,
          "Preview, Preview connection failed"}},
        {"offline with old frame", offlineFlags, true, std::nullopt, false, false,
         {false, "Offline", StudioColor::gray, TileBadge::none, TileTag::none, TileOutline::normal, -60, "OFFLINE", false, std::nullopt, "Offline"}},
        {"recording wins over saving", recording, true, std::nullopt, true, true,
         {true, "", StudioColor::red, TileBadge::rec, TileTag::program, TileOutline::program, -30, "01:02:05", true, std::nullopt,
          "Program and Preview, CUT and FADE unavailable, Camera recording"}},
        {"recording without start time", noStart, true, std::nullopt, false, false,
         {true, "", StudioColor::red, TileBadge::rec, TileTag::none, TileOutline::normal, -30, "-30 dB", false, std::nullopt, "Camera recording"}},
        {"saving over busy", saving, true, std::nullopt, false, false,
         {true, "", StudioColor::green, TileBadge::saving, TileTag::none, TileOutline::normal, -30, "-30 dB", false, std::nullopt, "Saving"}},
        {"busy, zero battery", busy, true, std::nullopt, false, false,
         {true, "", StudioColor::green, TileBadge::busy, TileTag::none, TileOutline::normal, -30, "-30 dB", false, "0%", "Busy"}},
        {"louder channel, left meter", levels, true, std::nullopt, false, false,
         {true, "", StudioColor::green, TileBadge::none, TileTag::none, TileOutline::normal, -12.4, "-4 dB", false, "87%"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tileState(c.camera, kNow, c.hasImage, c.error, c.preview, c.program, c.preview && c.program), c.expected) << c.name;
}

TEST(DirectorMonitor, NamesAndPictures) {
    const Cameras cameras{readyCamera("a", "Alpha"), offline(readyCamera("b", "Bravo"))};
    EXPECT_EQ(monitorState(false, std::nullopt, cameras, kNow, false),
              (MonitorState{"PREVIEW", "No camera selected", "", false, MonitorPicture::offline, StudioColor::green, "Preview",
                            "No camera selected"}));
    EXPECT_EQ(monitorState(true, "gone", cameras, kNow, true),
              (MonitorState{"PROGRAM", "gone", "", false, MonitorPicture::offline, StudioColor::red, "Program", "gone, OFFLINE"}));
    EXPECT_EQ(monitorState(true, "b", cameras, kNow, true).cameraLine, "Bravo \u2022 OFFLINE");
    EXPECT_EQ(monitorState(true, "b", cameras, kNow, true).cameraState, " \u2022 OFFLINE");
    EXPECT_EQ(monitorState(false, "a", cameras, kNow, false).picture, MonitorPicture::waiting);
    EXPECT_EQ(monitorState(false, "a", cameras, kNow, true).picture, MonitorPicture::frame);
}

TEST(DirectorSession, EnablingOrder) {
    EXPECT_FALSE(startEnabled(std::nullopt, "take-1", false));
    EXPECT_FALSE(startEnabled("p", " \n\t", false));
    EXPECT_TRUE(startEnabled("p", "  take-1 ", false));
    EXPECT_FALSE(startEnabled("p", "take-1", true));
    EXPECT_EQ(startTitle(true), "Session Running");

    auto notReady = readyCamera("b", "B");
    notReady.cameraReady = false;
    struct Case { Cameras online; bool project, blocks, enabled; };
    const Case cases[] = {
        {{}, true, false, false},
        {{readyCamera("a", "A"), notReady}, true, false, false},
        {{readyCamera("a", "A")}, false, false, false},
        {{readyCamera("a", "A")}, true, true, false},
        {{readyCamera("a", "A")}, true, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recAllEnabled(c.online, kNow, c.project, c.blocks), c.enabled);
        const std::optional<LiveCamera> selected = c.online.empty() ? std::nullopt : std::optional(c.online.back());
        EXPECT_EQ(recCameraEnabled(selected, kNow, c.project, c.blocks), c.enabled && c.online.size() == 1);
    }
    EXPECT_FALSE(stopCameraEnabled(std::nullopt));
    EXPECT_TRUE(stopCameraEnabled(offline(readyCamera("a", "A"))));
}

TEST(DirectorSession, ProjectsMessagesAndStopResults) {
    VELKLibrary library;
    library.projects = {{.id = "unassigned-x", .name = "Loose"}, {.id = "p1", .name = "Show"}};
    EXPECT_EQ(projectOptions(library), (std::vector<ProjectOption>{{"p1", "Show"}}));
    EXPECT_EQ(controlMessage(std::nullopt),
              "Commands use the trusted private LAN. Camera status remains the confirmation source.");
    EXPECT_EQ(stopResultLines({{"z", "stopped"}, {"a", "saved"}}, {readyCamera("a", "Alpha")}, kNow),
              (std::vector<std::string>{"Alpha: saved", "z: stopped"}));
}

TEST(DirectorEdits, RowsNewestFirst) {
    LiveEditTimeline timeline;
    timeline.start(kNow);
    timeline.previewCameraID = "a";
    timeline.take(DirectorTransition::cut, 0, kNow + std::chrono::milliseconds(3'725'900));
    timeline.addMarker(kNow + std::chrono::hours(101));
    const auto events = editEvents(timeline);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(editsHeadingDetail(events.size()), "2 events in this session");
    EXPECT_EQ(editTag(events[0]), "MARK");
    EXPECT_EQ(editDetail(events[0], {}, kNow), (DirectorRules::CameraNameText{"Edit marker", ""}));
    EXPECT_EQ(timeCode(events[0].elapsedSeconds), "101:00:00");
    EXPECT_EQ(editTag(events[1]), "CUT");
    EXPECT_EQ(timeCode(events[1].elapsedSeconds), "01:02:05");
    EXPECT_EQ(editDetail(events[1], {offline(readyCamera("a", "Alpha"))}, kNow),
              (DirectorRules::CameraNameText{"Alpha", " \u2022 OFFLINE"}));
}

// The list changes by the rows that changed: new edits come on top, the rest stay.
TEST(DirectorEdits, RowsAddedOnTopOrARebuild) {
    auto rows = [](std::initializer_list<const char*> ids) {
        std::vector<EditRow> list;
        for (const char* id : ids) list.push_back({.id = id});
        return list;
    };
    const struct {
        std::vector<EditRow> shown, next;
        std::optional<std::size_t> added;
    } cases[] = {
        {rows({}), rows({}), 0},
        {rows({}), rows({"b", "a"}), 2},
        {rows({"a"}), rows({"b", "a"}), 1},
        {rows({"b", "a"}), rows({"b", "a"}), 0},
        {rows({"b", "a"}), rows({}), std::nullopt},              // a new session
        {rows({"b", "a"}), rows({"c", "a"}), std::nullopt},      // a row gone
        {rows({"b", "a"}), rows({"c", "a", "b"}), std::nullopt}, // reordered
    };
    for (const auto& c : cases) EXPECT_EQ(editRowsAddedOnTop(c.shown, c.next), c.added) << c.next.size();
    auto changed = rows({"a"});
    changed[0].detail = "Alpha \u2022 OFFLINE"; // a text that changed keeps its row
    EXPECT_EQ(editRowsAddedOnTop(rows({"a"}), changed), 0u);
}

// The rows are made again exactly when what they are made of changes; a status that changes no
// row's text (the same cameras a moment later) changes nothing.
TEST(DirectorEdits, RowsAreMadeAgainOnlyWhenTheirSourceChanges) {
    struct Show {
        LiveEditTimeline timeline;
        Cameras cameras;
        WallTime now;
    };
    Show before{{}, {readyCamera("a", "Alpha"), readyCamera("b", "Bravo")}, kNow};
    before.timeline.start(kNow);
    before.timeline.previewCameraID = "a";
    before.timeline.take(DirectorTransition::cut, 0, kNow);
    const auto changed = [&](auto change) {
        Show after = before;
        change(after);
        return after;
    };
    const struct {
        const char* what;
        Show after;
    } cases[] = {
        {"a status a moment later", changed([](Show& s) { s.now += std::chrono::seconds(1); })},
        {"a cut", changed([](Show& s) { s.timeline.take(DirectorTransition::cut, 0, kNow); })},
        {"a marker", changed([](Show& s) { s.timeline.addMarker(kNow); })},
        {"a camera renamed", changed([](Show& s) { s.cameras[0].name = "Wide"; })},
        {"a camera offline", changed([](Show& s) { s.cameras[0] = offline(s.cameras[0]); })},
        {"another session of as many edits", changed([](Show& s) {
             s.timeline = {};
             s.timeline.start(kNow);
             s.timeline.previewCameraID = "b";
             s.timeline.take(DirectorTransition::cut, 0, kNow);
         })},
    };
    const auto source = [](const Show& s) { return editRowsSource(s.timeline, s.cameras, s.now); };
    const auto rows = [](const Show& s) { return editRows(s.timeline, s.cameras, s.now); };
    for (const auto& c : cases)
        EXPECT_EQ(source(c.after) == source(before), rows(c.after) == rows(before)) << c.what;
}

// Where the list is read once 5 rows came on top: a reader at the top follows them, any other
// keeps the rows they read.
TEST(DirectorEdits, PlaceKeptWhenRowsComeOnTop) {
    const struct {
        EditListPlace before, after;
    } cases[] = {
        {{true, 0, std::nullopt}, {true, 0, std::nullopt}},
        {{true, 0, 0}, {true, 0, 0}},  // the current row stays the top row
        {{true, 0, 3}, {false, 5, 8}}, // the current row moved down: the view keeps it
        {{false, 120, std::nullopt}, {false, 125, std::nullopt}},
        {{false, 54, 52}, {false, 59, 57}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(editListPlaceAfterRowsOnTop(c.before, 5), c.after) << c.before.firstShownRow << " " << c.before.atTop;
}

TEST(DirectorCameraInspector, OrientationAndCapture) {
    auto recording = readyCamera("a", "A");
    recording.recording = true;
    EXPECT_EQ(orientationLabel(recording), (OrientationLabel{"Orientation locked \u00b7 take active", "lock.fill"}));
    EXPECT_EQ(orientationLabel(std::nullopt), (OrientationLabel{"Preview orientation", "rotate.right"}));
    EXPECT_FALSE(rotateEnabled(recording, kNow));
    EXPECT_FALSE(rotateEnabled(offline(readyCamera("a", "A")), kNow));
    EXPECT_TRUE(rotateEnabled(readyCamera("a", "A"), kNow));
    EXPECT_EQ(captureText(std::nullopt), "\u2014");
    EXPECT_EQ(captureText(offline(readyCamera("a", "A"))), "4K30");
}

TEST(DirectorViewKit, MeterColoursFillAndLevelTexts) {
    struct Case { double db; StudioColor color; double fill; };
    const Case cases[] = {{-5.9, StudioColor::red, 54.1 / 60},   {-6, StudioColor::yellow, 0.9},
                          {-17.9, StudioColor::yellow, 42.1 / 60}, {-18, StudioColor::green, 0.7},
                          {4, StudioColor::red, 1},               {-30, StudioColor::green, 0.5},
                          {-75, StudioColor::green, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(meterColor(c.db), c.color) << c.db;
        EXPECT_DOUBLE_EQ(meterFill(c.db), c.fill) << c.db;
    }
    auto camera = readyCamera("a", "A");
    camera.leftDB = -3;
    camera.rightDB = -20;
    EXPECT_EQ(channelLevelText(&camera, kNow), "L -3  R -20 dB");
    EXPECT_EQ(channelMeterValues(&camera, kNow), std::make_pair(-3.0, -20.0));
    EXPECT_EQ(channelLevelText(nullptr, kNow), "OFFLINE");
    const auto gone = offline(camera);
    EXPECT_EQ(channelMeterValues(&gone, kNow), std::make_pair(-60.0, -60.0));
}

TEST(DirectorViewKit, MeterBarsTellTheirLevelAsText) {
    auto camera = readyCamera("a", "A");
    struct Case {
        double left, right;
        std::pair<std::string, std::string> texts;
    };
    const Case cases[] = {
        {-20, -3, {"Alpha, Left \u221220 dB", "Alpha, Right \u22123 dB"}},
        {-12.4, -3.6, {"Alpha, Left \u221212 dB", "Alpha, Right \u22124 dB"}}, // rounded as the level text
        {4, 0, {"Alpha, Left 4 dB", "Alpha, Right 0 dB"}},
        {-75, -60, {"Alpha, Left \u221275 dB", "Alpha, Right \u221260 dB"}},
    };
    for (const Case& c : cases) {
        camera.leftDB = c.left;
        camera.rightDB = c.right;
        EXPECT_EQ(channelMeterAccessibleTexts("Alpha", &camera, kNow), c.texts) << c.left;
    }
    const std::pair<std::string, std::string> offlineTexts{"Alpha, Left OFFLINE", "Alpha, Right OFFLINE"};
    EXPECT_EQ(channelMeterAccessibleTexts("Alpha", nullptr, kNow), offlineTexts);
    const auto gone = offline(camera);
    EXPECT_EQ(channelMeterAccessibleTexts("Alpha", &gone, kNow), offlineTexts);
    EXPECT_EQ(spokenWithCamera("", "Link: No camera"), "Link: No camera");
}

TEST(PreviewTransportTexts, EveryTable) {
    using namespace PreviewTransportTexts;
    auto c = readyCamera("a", "A");
    // No camera / offline rows.
    EXPECT_EQ(selectedLinkStatus(nullptr, false), "No camera");
    EXPECT_EQ(h264Status(nullptr, false), "No camera");
    for (auto text : {advertisedTransportStatus(nullptr, false), previewHealthStatus(nullptr, false),
                      fullStream4KStatus(nullptr, false), selectedLinkStatus(&c, false), advertisedTransportStatus(&c, false),
                      previewHealthStatus(&c, false), h264Status(&c, false), fullStream4KStatus(&c, false)})
        EXPECT_EQ(text, "Offline");
    // Nothing advertised.
    for (auto text : {selectedLinkStatus(&c, true), advertisedTransportStatus(&c, true), previewHealthStatus(&c, true),
                      h264Status(&c, true), fullStream4KStatus(&c, true)})
        EXPECT_EQ(text, "Not advertised");

    // Link: the measured pair wins even without an advertised transport; printf rounding.
    c.previewCapabilities.wifiBandGHz = 5.25;
    c.previewCapabilities.usableMbps = 67.5;
    EXPECT_EQ(selectedLinkStatus(&c, true), "5.2 GHz \u2022 68 Mbps");
    c.previewCapabilities.usableMbps.reset();
    c.previewTransport.modes = {4};
    EXPECT_EQ(selectedLinkStatus(&c, true), "Band unknown \u2022 unmeasured");
    c.previewTransport.band = "wifi 5ghz";
    c.previewTransport.capacityMeasured = true;
    EXPECT_EQ(selectedLinkStatus(&c, true), "Wifi 5Ghz \u2022 measured");

    // Camera row.
    EXPECT_EQ(advertisedTransportStatus(&c, true), "Unknown codec");
    c.previewTransport.codec = "jpeg";
    c.previewTransport.policy = "balanced";
    c.previewTransport.wallTargetFPS = 12;
    EXPECT_EQ(advertisedTransportStatus(&c, true), "jpeg \u2022 BALANCED");
    c.previewTransport.selectedTargetFPS = 8;
    EXPECT_EQ(advertisedTransportStatus(&c, true), "jpeg \u2022 BALANCED \u2022 12/8 fps");

    // Health row.
    EXPECT_EQ(previewHealthStatus(&c, true), "Normal");
    c.previewTransport.deliveryLimitedClients = 0;
    c.previewTransport.pendingEncodeJobs = 0;
    EXPECT_EQ(previewHealthStatus(&c, true), "0 pending");
    c.previewTransport.thermalLevel = "SERIOUS";
    c.previewTransport.deliveryLimitedClients = 2;
    EXPECT_EQ(previewHealthStatus(&c, true), "Serious \u2022 2 limited \u2022 0 pending");

    // H.264 and 4K rows.
    c.previewCapabilities.codecs = {"h264"};
    c.previewCapabilities.transports = {"h264-avcc-tcp-v1"};
    EXPECT_EQ(h264Status(&c, true), "Advertised \u2022 inactive");
    c.previewTransport.fullStream4K = true;
    EXPECT_EQ(fullStream4KStatus(&c, true), "Advertised \u2022 inactive");
    c.previewTransport.fullStream4K = false;
    EXPECT_EQ(fullStream4KStatus(&c, true), "No \u2022 separate future path");
}

// The "Wall" and "Selected" rows, from the Preview camera id and the transport of its stream.
TEST(PreviewTransportTexts, WallAndSelectedRows) {
    using PreviewTransportTexts::transportStatus;
    using P = VELKPreviewNetworkPolicy;
    using T = VELKPreviewClient::Transport;
    const std::optional<std::string> id = "cam-1";
    struct Row {
        VELKPreviewProfile profile;
        std::optional<std::string> preview;
        P effective;
        std::optional<T> transport;
        std::string text;
    };
    const Row rows[] = {
        {VELKPreviewProfile::wall, std::nullopt, P::performance5GHz, T::persistent, "No camera"},
        {VELKPreviewProfile::selected, std::nullopt, P::conservative24GHz, T::persistent, "No camera"},
        {VELKPreviewProfile::selected, id, P::conservative24GHz, T::persistent, "Off \u2022 using wall preview"},
        {VELKPreviewProfile::selected, id, P::conservative24GHz, std::nullopt, "Off \u2022 using wall preview"},
        {VELKPreviewProfile::wall, id, P::conservative24GHz, T::persistent, "JPEG mode 4 \u2022 persistent"},
        {VELKPreviewProfile::wall, id, P::performance5GHz, std::nullopt, "Negotiating\u2026"},
        {VELKPreviewProfile::selected, id, P::performance5GHz, std::nullopt, "Negotiating\u2026"},
        {VELKPreviewProfile::selected, id, P::automatic, std::nullopt, "Negotiating\u2026"},
        {VELKPreviewProfile::wall, id, P::automatic, T::persistent, "JPEG mode 4 \u2022 persistent"},
        {VELKPreviewProfile::wall, id, P::automatic, T::legacy, "JPEG mode 1 \u2022 fallback"},
        {VELKPreviewProfile::selected, id, P::performance5GHz, T::persistent, "JPEG mode 5 \u2022 persistent"},
        {VELKPreviewProfile::selected, id, P::performance5GHz, T::legacy, "JPEG mode 2 \u2022 fallback"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(transportStatus(row.profile, row.preview, row.effective, row.transport), row.text) << row.text;
}

TEST(DirectorNumbers, IndependentOfTheUsersLocale) {
    // A locale with a decimal comma, when the machine has one.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    auto c = readyCamera("a", "A");
    c.previewCapabilities.wifiBandGHz = 2.4;
    c.previewCapabilities.usableMbps = 40;
    EXPECT_EQ(PreviewTransportTexts::selectedLinkStatus(&c, true), "2.4 GHz \u2022 40 Mbps");
    EXPECT_EQ(levelText(-0.4), "-0 dB"); // as printf
    std::setlocale(LC_ALL, "C");
}

} // namespace
} // namespace velk
