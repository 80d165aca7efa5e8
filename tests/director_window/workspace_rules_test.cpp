#include "director_window/director_workspace.hpp"

#include <clocale>
#include <regex>

#include <gtest/gtest.h>

#include <QLocale>

#include "director_test_support.hpp"

namespace velk {
namespace {

using namespace DirectorRules;
using test::kNow;
using test::offline;
using test::readyCamera;

DirectorCameraSlotLayout slotsOf(std::vector<std::optional<std::string>> ids) {
    std::vector<DirectorCameraSlot> slots;
    for (int i = 0; i < static_cast<int>(ids.size()); ++i) slots.push_back({i, ids[static_cast<std::size_t>(i)], std::nullopt});
    return DirectorCameraSlotLayout(slots);
}

std::vector<std::string> idsOf(const Cameras& cameras) {
    std::vector<std::string> ids;
    for (const auto& c : cameras) ids.push_back(c.id);
    return ids;
}

TEST(DirectorCameraLists, FollowSlotOrderAndOnlineTests) {
    // Camera list order (sorted by name) differs from slot order on purpose.
    const Cameras cameras{readyCamera("a", "Alpha"), offline(readyCamera("b", "Bravo")), readyCamera("c", "Charlie"),
                          readyCamera("d", "Delta")};
    const auto slots = slotsOf({std::nullopt, std::nullopt, "c", "gone", "b", std::nullopt, "a"});
    EXPECT_EQ(idsOf(onlineCameras(slots, cameras, kNow)), (std::vector<std::string>{"c", "a"}));
    EXPECT_EQ(idsOf(slottedCameras(slots, cameras)), (std::vector<std::string>{"c", "b", "a"}));

    LiveEditTimeline timeline;
    timeline.previewCameraID = "d";
    timeline.programCameraID = "a";
    EXPECT_EQ(idsOf(policyCameras(timeline, cameras, kNow)), (std::vector<std::string>{"a", "d"}));
    timeline.programCameraID = "d";
    EXPECT_EQ(idsOf(policyCameras(timeline, cameras, kNow)), (std::vector<std::string>{"d"}));
    timeline.previewCameraID = "b"; // offline: selected but not a policy camera
    EXPECT_EQ(selectedCamera(timeline, cameras)->id, "b");
    EXPECT_EQ(idsOf(policyCameras(timeline, cameras, kNow)), (std::vector<std::string>{"d"}));
}

TEST(DirectorSynchronize, FillsSlotsPreviewAndChannelsButNeverDirectors) {
    DirectorWorkspace ws;
    auto director = readyCamera("dir", "Desk");
    director.role = "director";
    Cameras cameras{offline(readyCamera("a", "Alpha")), readyCamera("b", "Bravo"), director};
    synchronizeCameras(ws, cameras, kNow);
    EXPECT_EQ(ws.cameraSlots.slots()[0].cameraID, "b"); // online first
    EXPECT_EQ(ws.cameraSlots.slots()[1].cameraID, "a");
    EXPECT_FALSE(ws.cameraSlots.slots()[2].cameraID);
    EXPECT_EQ(ws.timeline.previewCameraID, "b");
    EXPECT_FALSE(ws.timeline.programCameraID);
    ASSERT_EQ(ws.audioChannels.size(), 2u);
    EXPECT_EQ(ws.audioChannels[0], (AudioChannelState{"a", "Alpha", 0.72, 0, false, false}));

    // A kept channel keeps its values; a vanished camera loses its channel, not its slot.
    ws.audioChannels[1].gain = 0.3;
    cameras = {readyCamera("b", "Bravo renamed"), readyCamera("c", "Charlie")};
    synchronizeCameras(ws, cameras, kNow);
    EXPECT_EQ(ws.audioChannels[0], (AudioChannelState{"b", "Bravo", 0.3, 0, false, false}));
    EXPECT_EQ(ws.audioChannels[1].id, "c");
    EXPECT_EQ(ws.cameraSlots.slots()[1].cameraID, "a");
    EXPECT_EQ(ws.cameraSlots.slots()[2].cameraID, "c");
    EXPECT_EQ(ws.timeline.previewCameraID, "b"); // never replaced
}

TEST(DirectorSynchronize, SignaturesIgnoreStatusOnlyChanges) {
    auto a = readyCamera("a", "Alpha");
    auto b = a;
    b.leftDB = -3;
    b.battery = 40;
    b.lastSeen = test::secondsAgo(3);
    EXPECT_EQ(cameraIdentitySignature({a}), cameraIdentitySignature({b}));
    EXPECT_EQ(previewRosterSignature({a}), previewRosterSignature({b}));
    EXPECT_EQ(orientationSignature({a}), orientationSignature({b}));
    EXPECT_EQ(previewRosterSignature({a}), std::vector<std::string>{"a|10.77.0.11|legacy|CAMERA"});
    b.previewPixelsOriented = false;
    b.recording = true;
    EXPECT_EQ(orientationSignature({b}), std::vector<std::string>{"a|0|16:9|false|true"});
    EXPECT_EQ(orientationSignature({a}), std::vector<std::string>{"a|0|16:9|nil|false"});
}

TEST(DirectorReleaseSlot, RefillsPersistsAndReselects) {
    struct Case {
        const char* name;
        std::optional<std::string> preview;
        int release;
        std::optional<std::string> expectedPreview;
        std::optional<std::string> expectedSlot;
    };
    // Slots: 0 gone (locked), 2 "c" online, 5 "f" online, 6 "g" offline; "x" listed without a slot.
    const Case cases[] = {
        {"preview released, next online in slot order", "gone", 0, "x", "x"},
        {"other camera released", "c", 6, "c", std::nullopt}, // "x" takes the lower free slot 1
        {"released slot index out of range", "gone", 9, "gone", std::nullopt},
    };
    for (const Case& c : cases) {
        DirectorWorkspace ws;
        ws.cameraSlots = slotsOf({"gone", std::nullopt, "c", std::nullopt, std::nullopt, "f", "g", "h"});
        ws.timeline.previewCameraID = c.preview;
        ws.timeline.programCameraID = "f";
        const Cameras cameras{readyCamera("c", "C"), readyCamera("f", "F"), offline(readyCamera("g", "G")),
                              readyCamera("h", "H"), readyCamera("x", "X")};
        // "x" has no slot yet because the layout was built by hand; the release places it.
        releaseSlot(ws, c.release, cameras, kNow);
        EXPECT_EQ(ws.timeline.previewCameraID, c.expectedPreview) << c.name;
        EXPECT_EQ(ws.timeline.programCameraID, "f") << c.name;
        if (c.release < 8) {
            EXPECT_EQ(ws.cameraSlots.slots()[static_cast<std::size_t>(c.release)].cameraID, c.expectedSlot) << c.name;
        }
    }
}

TEST(DirectorReleaseSlot, PreviewStaysWhenNoOnlineCameraRemains) {
    DirectorWorkspace ws;
    ws.cameraSlots = slotsOf({"a"});
    ws.timeline.previewCameraID = "a";
    releaseSlot(ws, 0, {offline(readyCamera("z", "Z"))}, kNow);
    EXPECT_EQ(ws.cameraSlots.slots()[0].cameraID, "z");
    EXPECT_EQ(ws.timeline.previewCameraID, "a");
}

TEST(DirectorPreviewRotation, StoredThenAdvertisedThenZero) {
    DirectorWorkspace ws;
    auto a = readyCamera("a", "A");
    a.previewRotation = 450;
    EXPECT_EQ(previewRotation(ws, "a", {a}), 450);
    EXPECT_EQ(previewRotation(ws, "missing", {a}), 0);
    EXPECT_EQ(previewRotation(ws, std::nullopt, {a}), 0);
    synchronizeOrientations(ws, {a}, [](const std::string&) { return std::optional<FrameSize>(); });
    EXPECT_EQ(previewRotation(ws, "a", {a}), 90);
}

TEST(DirectorSwitcher, CanTakeAndCameraNames) {
    const Cameras cameras{readyCamera("a", "Alpha"), offline(readyCamera("b", "Bravo"))};
    LiveEditTimeline running;
    running.start(kNow);
    struct Case { bool isRunning; std::optional<std::string> preview, program; bool canTake; };
    const Case cases[] = {
        {true, "a", std::nullopt, true}, {true, "a", "b", true},  {true, "a", "a", false},
        {false, "a", "b", false},        {true, "b", "a", false}, {true, std::nullopt, "a", false},
        {true, "gone", "a", false},
    };
    for (const Case& c : cases) {
        LiveEditTimeline timeline = c.isRunning ? running : LiveEditTimeline{};
        timeline.previewCameraID = c.preview;
        timeline.programCameraID = c.program;
        EXPECT_EQ(canTake(timeline, cameras, kNow), c.canTake) << c.preview.value_or("-") << "/" << c.program.value_or("-");
    }
    EXPECT_EQ(cameraName(std::nullopt, cameras, kNow), "No camera selected");
    EXPECT_EQ(cameraName("gone", cameras, kNow), "gone");
    EXPECT_EQ(cameraName("a", cameras, kNow), "Alpha");
    EXPECT_EQ(cameraName("b", cameras, kNow), "Bravo \u2022 OFFLINE");
}

TEST(DirectorSwitcher, PerformSwapsLogsAndMarkerOpensEdits) {
    DirectorWorkspace ws;
    ws.plannedTakeID = "take-1";
    ws.fadeDuration = 1.5;
    ws.timeline.previewCameraID = "a";
    const Cameras cameras{readyCamera("a", "Alpha")};
    EXPECT_FALSE(perform(ws, DirectorTransition::cut, cameras, kNow));
    EXPECT_FALSE(addMarker(ws, kNow));
    EXPECT_EQ(ws.inspectorTab, DirectorInspectorTab::session);

    ws.timeline.start(kNow);
    EXPECT_EQ(perform(ws, DirectorTransition::fade, cameras, kNow + std::chrono::seconds(2)),
              "Director FADE to Alpha at take-1.");
    EXPECT_EQ(ws.timeline.events.back().durationSeconds, 1.5);
    EXPECT_FALSE(ws.timeline.previewCameraID);
    EXPECT_TRUE(addMarker(ws, kNow));
    EXPECT_EQ(ws.inspectorTab, DirectorInspectorTab::edits);
    EXPECT_EQ(ws.timeline.events.back().label, "Edit marker");
}

TEST(DirectorTakeID, TwentyFiveCharactersUnderANonGregorianLocale) {
    // Qt sets the C library's locale from the user's; a Thai or Persian user must still get the
    // Gregorian date in ASCII digits.
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    std::setlocale(LC_ALL, "th_TH.UTF-8");
    QLocale::setDefault(QLocale(QLocale::Persian, QLocale::Iran));
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string id = defaultTakeID(WallTime{} + std::chrono::seconds(1'780'000'000)); // 2026-05-28 20:26:40 UTC
    std::setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(id.size(), 25u);
    EXPECT_TRUE(std::regex_match(id, std::regex("take-20260528-202640-[0-9a-f]{4}"))) << id;
}

// Every thermal level a phone may report against every stored policy: only automatic gives way to
// a hot camera, and only to a level that is none of normal, nominal, none or fair in any case.
TEST(DirectorEffectivePolicy, ThermalOverrideForEveryLevelAndPolicy) {
    auto capable = readyCamera("a", "A");
    capable.previewCapabilities.version = 1;
    capable.previewCapabilities.wifiBandGHz = 5.2;
    capable.previewCapabilities.usableMbps = 70;
    using P = VELKPreviewNetworkPolicy;
    struct Level {
        std::optional<std::string> thermal;
        bool hot;
    };
    const Level levels[] = {{std::nullopt, false}, {"normal", false}, {"NOMINAL", false}, {"None", false},
                            {"fair", false},        {"FAIR", false},   {"serious", true},   {"Serious", true},
                            {"critical", true},     {"elevated", true}, {"", true}};
    struct Policy {
        std::string stored;
        P whenCool;
        P whenHot;
    };
    const Policy policies[] = {
        {"automatic", P::performance5GHz, P::conservative24GHz},
        {"no such policy", P::performance5GHz, P::conservative24GHz}, // counts as automatic
        {"performance5GHz", P::performance5GHz, P::performance5GHz},
        {"conservative24GHz", P::conservative24GHz, P::conservative24GHz},
    };
    for (const Policy& policy : policies)
        for (const Level& level : levels) {
            auto camera = capable;
            camera.previewTransport.thermalLevel = level.thermal;
            // The hot camera counts wherever it stands among the policy cameras.
            for (const Cameras& cameras : {Cameras{camera}, Cameras{capable, camera}})
                EXPECT_EQ(effectivePreviewPolicy(policy.stored, cameras), level.hot ? policy.whenHot : policy.whenCool)
                    << policy.stored << " / " << level.thermal.value_or("(none)") << " / " << cameras.size();
        }
    // Without capable cameras automatic is conservative whatever the level.
    auto weak = readyCamera("b", "B");
    weak.previewTransport.thermalLevel = "normal";
    EXPECT_EQ(effectivePreviewPolicy("automatic", {weak}), P::conservative24GHz);
    EXPECT_EQ(effectivePreviewPolicy("automatic", {}), P::conservative24GHz);
}

} // namespace
} // namespace velk
