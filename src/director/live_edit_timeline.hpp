#pragma once
// The Director's in-memory edit-decision log: which camera was on Program from when, every cut or
// fade and every marker, each stamped with the seconds since the Director session started. It
// keeps no clock of its own: every operation is handed its moment.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"
#include "base/json.hpp"

namespace velk {

enum class DirectorTransition { cut, fade };

std::string_view rawValue(DirectorTransition transition);
// Exact, case-sensitive: "CUT" and "FADE" only.
std::optional<DirectorTransition> directorTransition(std::string_view raw);
inline constexpr DirectorTransition allDirectorTransitions[] = {DirectorTransition::cut, DirectorTransition::fade};

enum class DirectorEditEventKind { sessionStarted, transition, marker };

std::string_view rawValue(DirectorEditEventKind kind);
std::optional<DirectorEditEventKind> directorEditEventKind(std::string_view raw);

struct DirectorEditEvent {
    std::string id; // lower-case UUID text; a new random one unless given
    DirectorEditEventKind kind = DirectorEditEventKind::marker;
    double elapsedSeconds = 0;
    std::optional<std::string> fromCameraID;
    std::optional<std::string> toCameraID;
    std::optional<DirectorTransition> transition;
    std::optional<double> durationSeconds;
    std::optional<std::string> label;

    bool operator==(const DirectorEditEvent&) const = default;
};

void to_json(Json& json, const DirectorEditEvent& event);
void from_json(const Json& json, DirectorEditEvent& event);

struct LiveEditTimeline {
    static constexpr const char* sessionStartedLabel = "Director session started";
    static constexpr const char* defaultMarkerLabel = "Edit marker";
    static constexpr double minimumFadeSeconds = 0.1;

    std::optional<WallTime> startedAt;
    std::optional<std::string> previewCameraID;
    std::optional<std::string> programCameraID;
    std::vector<DirectorEditEvent> events;

    bool isRunning() const { return startedAt.has_value(); }
    void start(WallTime at);
    void selectPreview(const std::string& cameraID);
    // A cut or fade from Preview to Program; false when nothing happened.
    bool take(DirectorTransition transition, double durationSeconds, WallTime at);
    // Adds a marker labelled "Edit marker"; false when the timeline is not running.
    bool addMarker(WallTime at);
    bool addMarker(const std::string& label, WallTime at);

    bool operator==(const LiveEditTimeline&) const = default;

private:
    double elapsedSeconds(WallTime at) const;
};

// startedAt is written as internet date-time text with milliseconds.
void to_json(Json& json, const LiveEditTimeline& timeline);
void from_json(const Json& json, LiveEditTimeline& timeline);

} // namespace velk
