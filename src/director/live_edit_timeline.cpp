#include "director/live_edit_timeline.hpp"

#include <chrono>

#include "base/rfc3339.hpp"
#include "base/uuid.hpp"

namespace velk {

std::string_view rawValue(DirectorTransition transition) {
    switch (transition) {
    case DirectorTransition::cut: return "CUT";
    case DirectorTransition::fade: return "FADE";
    }
    return "";
}

std::optional<DirectorTransition> directorTransition(std::string_view raw) {
    for (DirectorTransition transition : allDirectorTransitions) {
        if (rawValue(transition) == raw) return transition;
    }
    return std::nullopt;
}

std::string_view rawValue(DirectorEditEventKind kind) {
    switch (kind) {
    case DirectorEditEventKind::sessionStarted: return "sessionStarted";
    case DirectorEditEventKind::transition: return "transition";
    case DirectorEditEventKind::marker: return "marker";
    }
    return "";
}

std::optional<DirectorEditEventKind> directorEditEventKind(std::string_view raw) {
    for (auto kind : {DirectorEditEventKind::sessionStarted, DirectorEditEventKind::transition, DirectorEditEventKind::marker}) {
        if (rawValue(kind) == raw) return kind;
    }
    return std::nullopt;
}

double LiveEditTimeline::elapsedSeconds(WallTime at) const {
    if (!startedAt) return 0;
    const double seconds = std::chrono::duration<double>(at - *startedAt).count();
    return seconds >= 0 ? seconds : 0; // also turns NaN into 0
}

void LiveEditTimeline::start(WallTime at) {
    if (isRunning()) return;
    startedAt = at;
    DirectorEditEvent event;
    event.id = uuid::newLowercase();
    event.kind = DirectorEditEventKind::sessionStarted;
    event.elapsedSeconds = 0;
    event.label = sessionStartedLabel;
    events.push_back(std::move(event));
}

void LiveEditTimeline::selectPreview(const std::string& cameraID) { previewCameraID = cameraID; }

bool LiveEditTimeline::take(DirectorTransition transition, double durationSeconds, WallTime at) {
    if (!isRunning()) return false;
    if (!previewCameraID) return false;
    if (programCameraID && *programCameraID == *previewCameraID) return false;

    const std::optional<std::string> oldPreview = previewCameraID;
    const std::optional<std::string> oldProgram = programCameraID;
    programCameraID = oldPreview;
    previewCameraID = oldProgram;

    double duration = 0;
    if (transition == DirectorTransition::fade) {
        duration = durationSeconds >= minimumFadeSeconds ? durationSeconds : minimumFadeSeconds;
    }

    DirectorEditEvent event;
    event.id = uuid::newLowercase();
    event.kind = DirectorEditEventKind::transition;
    event.elapsedSeconds = elapsedSeconds(at);
    event.fromCameraID = oldProgram;
    event.toCameraID = oldPreview;
    event.transition = transition;
    event.durationSeconds = duration;
    events.push_back(std::move(event));
    return true;
}

bool LiveEditTimeline::addMarker(WallTime at) { return addMarker(defaultMarkerLabel, at); }

bool LiveEditTimeline::addMarker(const std::string& label, WallTime at) {
    if (!isRunning()) return false;
    DirectorEditEvent event;
    event.id = uuid::newLowercase();
    event.kind = DirectorEditEventKind::marker;
    event.elapsedSeconds = elapsedSeconds(at);
    event.toCameraID = programCameraID;
    event.label = label;
    events.push_back(std::move(event));
    return true;
}

void to_json(Json& json, const DirectorEditEvent& event) {
    json = Json::object();
    json["id"] = event.id;
    json["kind"] = rawValue(event.kind);
    json["elapsedSeconds"] = event.elapsedSeconds;
    json::putOptional(json, "fromCameraID", event.fromCameraID);
    json::putOptional(json, "toCameraID", event.toCameraID);
    if (event.transition) json["transition"] = rawValue(*event.transition);
    json::putOptional(json, "durationSeconds", event.durationSeconds);
    json::putOptional(json, "label", event.label);
}

void from_json(const Json& json, DirectorEditEvent& event) {
    json::requireObject(json, "event");
    event.id = json::requireString(json, "id");
    if (!uuid::isValid(event.id)) throw JsonError("Expected a UUID for key \"id\".");
    const std::optional<DirectorEditEventKind> kind = directorEditEventKind(json::requireString(json, "kind"));
    if (!kind) throw JsonError("Unknown value for key \"kind\".");
    event.kind = *kind;
    event.elapsedSeconds = json::requireDouble(json, "elapsedSeconds");
    event.fromCameraID = json::optionalString(json, "fromCameraID");
    event.toCameraID = json::optionalString(json, "toCameraID");
    event.transition.reset();
    if (std::optional<std::string> raw = json::optionalString(json, "transition")) {
        event.transition = directorTransition(*raw);
        if (!event.transition) throw JsonError("Unknown value for key \"transition\".");
    }
    event.durationSeconds = json::optionalDouble(json, "durationSeconds");
    event.label = json::optionalString(json, "label");
}

void to_json(Json& json, const LiveEditTimeline& timeline) {
    json = Json::object();
    if (timeline.startedAt) json["startedAt"] = rfc3339::format(*timeline.startedAt, true);
    json::putOptional(json, "previewCameraID", timeline.previewCameraID);
    json::putOptional(json, "programCameraID", timeline.programCameraID);
    json["events"] = Json::array();
    for (const DirectorEditEvent& event : timeline.events) json["events"].push_back(event);
}

void from_json(const Json& json, LiveEditTimeline& timeline) {
    json::requireObject(json, "timeline");
    timeline.startedAt.reset();
    if (std::optional<std::string> text = json::optionalString(json, "startedAt")) {
        timeline.startedAt = rfc3339::parse(*text);
        if (!timeline.startedAt) throw JsonError("Expected a date for key \"startedAt\".");
    }
    timeline.previewCameraID = json::optionalString(json, "previewCameraID");
    timeline.programCameraID = json::optionalString(json, "programCameraID");
    timeline.events = json::requireArray<DirectorEditEvent>(json, "events");
}

} // namespace velk
