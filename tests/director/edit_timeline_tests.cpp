#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "base/uuid.hpp"
#include "director/live_edit_timeline.hpp"

namespace velk {
namespace {

using namespace std::chrono_literals;

const WallTime T = WallTime{} + std::chrono::seconds(1'777'000'000);

TEST(EditTimeline, NothingIsRecordedBeforeTheStartAndTheFirstStartHolds) {
    LiveEditTimeline timeline;
    timeline.selectPreview("cam-a");
    EXPECT_FALSE(timeline.take(DirectorTransition::cut, 0, T));
    EXPECT_FALSE(timeline.addMarker(T));
    EXPECT_FALSE(timeline.addMarker("x", T));
    LiveEditTimeline expected;
    expected.previewCameraID = "cam-a";
    EXPECT_EQ(timeline, expected);
    EXPECT_FALSE(timeline.isRunning());

    timeline.start(T);
    timeline.start(T + 5s);
    EXPECT_EQ(timeline.startedAt, T);
    ASSERT_EQ(timeline.events.size(), 1u);
    const DirectorEditEvent& event = timeline.events[0];
    EXPECT_EQ(event.kind, DirectorEditEventKind::sessionStarted);
    EXPECT_EQ(event.elapsedSeconds, 0);
    EXPECT_EQ(event.label, "Director session started");
    EXPECT_FALSE(event.fromCameraID || event.toCameraID || event.transition || event.durationSeconds);
    EXPECT_TRUE(uuid::isValid(event.id));
}

TEST(EditTimeline, TakesMovePreviewToProgram) {
    struct Case { double requested, recorded; };
    for (const Case& c : {Case{0.05, 0.1}, Case{1.5, 1.5}, Case{0.1, 0.1}, Case{-2, 0.1}, Case{std::nan(""), 0.1}}) {
        SCOPED_TRACE(c.requested);
        LiveEditTimeline timeline;
        timeline.start(T);
        timeline.selectPreview("cam-a");
        EXPECT_TRUE(timeline.take(DirectorTransition::cut, 3, T - 2s)); // a moment before the start counts as 0
        EXPECT_EQ(timeline.programCameraID, "cam-a");
        EXPECT_EQ(timeline.previewCameraID, std::nullopt);
        EXPECT_EQ(timeline.events.back(), (DirectorEditEvent{timeline.events.back().id, DirectorEditEventKind::transition, 0,
                                                             std::nullopt, "cam-a", DirectorTransition::cut, 0.0, std::nullopt}));
        EXPECT_FALSE(timeline.take(DirectorTransition::cut, 0, T + 1s)); // Preview is empty now

        timeline.selectPreview("cam-b"); // a fade swaps the monitors and lasts at least a tenth of a second
        EXPECT_TRUE(timeline.take(DirectorTransition::fade, c.requested, T + 4500ms));
        EXPECT_EQ(timeline.programCameraID, "cam-b");
        EXPECT_EQ(timeline.previewCameraID, "cam-a");
        EXPECT_EQ(timeline.events.back(), (DirectorEditEvent{timeline.events.back().id, DirectorEditEventKind::transition, 4.5,
                                                             "cam-a", "cam-b", DirectorTransition::fade, c.recorded, std::nullopt}));

        timeline.selectPreview("cam-b"); // the same camera on both monitors records nothing
        const LiveEditTimeline before = timeline;
        EXPECT_FALSE(timeline.take(DirectorTransition::fade, 1, T + 5s));
        EXPECT_EQ(timeline, before);
    }
}

TEST(EditTimeline, MarkersNameTheProgramCamera) {
    LiveEditTimeline timeline;
    timeline.start(T);
    EXPECT_TRUE(timeline.addMarker(T - 1s));
    EXPECT_EQ(timeline.events.back(), (DirectorEditEvent{timeline.events.back().id, DirectorEditEventKind::marker, 0,
                                                         std::nullopt, std::nullopt, std::nullopt, std::nullopt, "Edit marker"}));
    timeline.selectPreview("cam-b");
    timeline.take(DirectorTransition::cut, 0, T + 2s);
    EXPECT_TRUE(timeline.addMarker("", T + 3s));
    EXPECT_EQ(timeline.events.back(), (DirectorEditEvent{timeline.events.back().id, DirectorEditEventKind::marker, 3,
                                                         std::nullopt, "cam-b", std::nullopt, std::nullopt, ""}));
}

TEST(EditTimeline, TextsAndJsonForm) {
    EXPECT_EQ(directorTransition("CUT"), DirectorTransition::cut);
    EXPECT_EQ(directorTransition("FADE"), DirectorTransition::fade);
    for (const char* text : {"cut", "Cut", "fade", "FADE ", ""}) EXPECT_EQ(directorTransition(text), std::nullopt) << text;

    LiveEditTimeline timeline;
    timeline.start(T);
    timeline.selectPreview("cam-a");
    timeline.take(DirectorTransition::fade, 0.5, T + 1250ms);
    timeline.addMarker("Goal", T + 2s);
    const Json json = timeline;
    EXPECT_EQ(json.at("startedAt"), "2026-04-24T03:06:40.000Z");
    EXPECT_FALSE(json.contains("previewCameraID"));
    EXPECT_EQ(json.at("programCameraID"), "cam-a");
    EXPECT_EQ(json.at("events")[1].at("transition"), "FADE");
    EXPECT_EQ(json.at("events")[1].at("kind"), "transition");
    EXPECT_FALSE(json.at("events")[1].contains("label"));
    LiveEditTimeline decoded;
    from_json(json, decoded);
    EXPECT_EQ(decoded, timeline);

    LiveEditTimeline empty;
    from_json(Json{{"events", Json::array()}}, empty);
    EXPECT_EQ(empty, LiveEditTimeline());
    EXPECT_THROW(from_json(Json::object(), empty), JsonError);
    Json badKind = json;
    badKind["events"][0]["kind"] = "SessionStarted";
    EXPECT_THROW(from_json(badKind, empty), JsonError);
}

} // namespace
} // namespace velk
