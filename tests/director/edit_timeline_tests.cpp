#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "base/uuid.hpp"
#include "director/live_edit_timeline.hpp"

namespace velk {
namespace {

using namespace std::chrono_literals;

const WallTime T = WallTime{} + std::chrono::seconds(1'777'000'000);

LiveEditTimeline started() {
    LiveEditTimeline timeline;
    timeline.start(T);
    return timeline;
}

TEST(EditTimeline, NewTimelineIsIdleAndRefusesTakesAndMarkers) {
    LiveEditTimeline timeline;
    EXPECT_FALSE(timeline.isRunning());
    timeline.selectPreview("cam-a");
    LiveEditTimeline expected;
    expected.previewCameraID = "cam-a";
    EXPECT_FALSE(timeline.take(DirectorTransition::cut, 0, T));
    EXPECT_FALSE(timeline.addMarker(T));
    EXPECT_EQ(timeline, expected);
    EXPECT_FALSE(LiveEditTimeline().addMarker("x", T));
}

TEST(EditTimeline, StartingTwiceKeepsTheFirstStart) {
    LiveEditTimeline timeline;
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

TEST(EditTimeline, FirstCutPutsPreviewOnProgram) {
    LiveEditTimeline timeline = started();
    timeline.selectPreview("cam-a");
    EXPECT_TRUE(timeline.take(DirectorTransition::cut, 3, T + 2s));
    EXPECT_EQ(timeline.programCameraID, "cam-a");
    EXPECT_EQ(timeline.previewCameraID, std::nullopt);
    const DirectorEditEvent& event = timeline.events.back();
    EXPECT_EQ(event.kind, DirectorEditEventKind::transition);
    EXPECT_EQ(event.fromCameraID, std::nullopt);
    EXPECT_EQ(event.toCameraID, "cam-a");
    EXPECT_EQ(event.transition, DirectorTransition::cut);
    EXPECT_EQ(event.durationSeconds, 0.0);
    EXPECT_EQ(event.elapsedSeconds, 2);
    EXPECT_EQ(event.label, std::nullopt);
    EXPECT_FALSE(timeline.take(DirectorTransition::cut, 0, T + 3s)); // Preview is empty now
    EXPECT_EQ(timeline.events.size(), 2u);
}

TEST(EditTimeline, FadeSwapsMonitorsWithAtLeastATenthOfASecond) {
    struct Case { double requested; double recorded; };
    const Case cases[] = {{0.05, 0.1}, {1.5, 1.5}, {0.1, 0.1}, {-2, 0.1}, {std::nan(""), 0.1}};
    for (const Case& c : cases) {
        LiveEditTimeline timeline = started();
        timeline.selectPreview("cam-a");
        timeline.take(DirectorTransition::cut, 0, T);
        timeline.selectPreview("cam-b");
        EXPECT_TRUE(timeline.take(DirectorTransition::fade, c.requested, T + 4500ms));
        EXPECT_EQ(timeline.programCameraID, "cam-b");
        EXPECT_EQ(timeline.previewCameraID, "cam-a");
        const DirectorEditEvent& event = timeline.events.back();
        EXPECT_EQ(event.fromCameraID, "cam-a");
        EXPECT_EQ(event.toCameraID, "cam-b");
        EXPECT_EQ(event.transition, DirectorTransition::fade);
        EXPECT_EQ(event.durationSeconds, c.recorded) << c.requested;
        EXPECT_EQ(event.elapsedSeconds, 4.5);
    }
}

TEST(EditTimeline, SameCameraOnBothMonitorsRecordsNothing) {
    LiveEditTimeline timeline = started();
    timeline.selectPreview("cam-a");
    timeline.take(DirectorTransition::cut, 0, T);
    timeline.selectPreview("cam-a");
    const LiveEditTimeline before = timeline;
    EXPECT_FALSE(timeline.take(DirectorTransition::fade, 1, T + 1s));
    EXPECT_EQ(timeline, before);
}

TEST(EditTimeline, MomentsBeforeTheStartCountAsZero) {
    LiveEditTimeline timeline = started();
    timeline.selectPreview("cam-a");
    timeline.take(DirectorTransition::cut, 0, T - 3s);
    timeline.addMarker(T - 1s);
    EXPECT_EQ(timeline.events[1].elapsedSeconds, 0);
    EXPECT_EQ(timeline.events[2].elapsedSeconds, 0);
}

TEST(EditTimeline, MarkersNameTheProgramCamera) {
    LiveEditTimeline timeline = started();
    EXPECT_TRUE(timeline.addMarker(T + 1s));
    EXPECT_EQ(timeline.events.back().label, "Edit marker");
    EXPECT_EQ(timeline.events.back().toCameraID, std::nullopt);
    timeline.selectPreview("cam-b");
    timeline.take(DirectorTransition::cut, 0, T + 2s);
    EXPECT_TRUE(timeline.addMarker("", T + 3s));
    const DirectorEditEvent& marker = timeline.events.back();
    EXPECT_EQ(marker.kind, DirectorEditEventKind::marker);
    EXPECT_EQ(marker.label, "");
    EXPECT_EQ(marker.toCameraID, "cam-b");
    EXPECT_EQ(marker.fromCameraID, std::nullopt);
    EXPECT_EQ(marker.transition, std::nullopt);
    EXPECT_EQ(marker.durationSeconds, std::nullopt);
    EXPECT_EQ(marker.elapsedSeconds, 3);
}

TEST(EditTimeline, RawTextsMatchExactly) {
    EXPECT_EQ(directorTransition("CUT"), DirectorTransition::cut);
    EXPECT_EQ(directorTransition("FADE"), DirectorTransition::fade);
    for (const char* text : {"cut", "Cut", "fade", "Fade", "FADE ", ""}) EXPECT_EQ(directorTransition(text), std::nullopt) << text;
    EXPECT_EQ(rawValue(allDirectorTransitions[0]), "CUT");
    EXPECT_EQ(rawValue(allDirectorTransitions[1]), "FADE");
    EXPECT_EQ(directorEditEventKind("sessionStarted"), DirectorEditEventKind::sessionStarted);
    EXPECT_EQ(directorEditEventKind("Marker"), std::nullopt);
}

TEST(EditTimeline, JsonRoundTripAndForm) {
    LiveEditTimeline timeline = started();
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
