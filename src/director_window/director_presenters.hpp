#pragma once
// What each region of the Director window shows, decided from the workspace state and the
// services' published values. The widgets only draw these values and wire their buttons.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "director/director_recording_coordinator.hpp"
#include "director_window/director_workspace.hpp"
#include "model/library.hpp"

namespace velk {

// The colours the Director's texts, dots and outlines use; the widgets map them onto the theme.
enum class StudioColor { primary, secondary, tertiary, green, orange, red, yellow, gray };

struct StatusPillValue {
    std::string text;
    StudioColor color = StudioColor::secondary;
    bool operator==(const StatusPillValue&) const = default;
};

namespace DirectorPresenters {

// --- Names assistive tools read for controls whose label is hidden, a symbol or elsewhere. ---
namespace AccessibleName {
inline constexpr const char* inspector = "Inspector";
inline constexpr const char* project = "Project";
inline constexpr const char* take = "Take";
inline constexpr const char* newTakeID = "New take ID";
inline constexpr const char* fadeDuration = "Fade duration";
inline constexpr const char* policy = "Policy";
inline constexpr const char* gain = "Gain";
inline constexpr const char* mute = "Mute";
inline constexpr const char* solo = "Solo";
inline constexpr const char* cameraDesk = "Preview network and planned controls";
// The Audio page's scrolling list of channels; the page itself is "Audio".
inline constexpr const char* audioMeters = "Audio meters";
} // namespace AccessibleName

// Page headings; the Edits page's also names the list under it.
inline constexpr const char* audioHeading = "Audio";
inline constexpr const char* editsHeading = "Edit Decisions";

// --- Header and production bar. ---
StatusPillValue cameraCountPill(std::size_t onlineCameraCount);
StatusPillValue phasePill(DirectorRecordingPhase phase);
struct ProductionBar {
    StudioColor dotColor;
    std::string networkText;
    std::string projectText;
    std::string takeText;
    std::string policyText; // "JPEG • " + the effective policy's title
};
ProductionBar productionBar(std::size_t onlineCameraCount, const std::optional<VELKProject>& project,
                            const std::string& plannedTakeID, const std::string& policyTitle);
std::string multiviewSubtitle(bool isActiveScanning);

// --- Camera wall cells. ---
enum class WallCellKind { empty, live, lockedOffline };
struct WallCell {
    WallCellKind kind = WallCellKind::empty;
    int number = 1;             // slot number 1 to 8
    std::string lockedName;     // the name a locked cell shows
    const LiveCamera* camera = nullptr; // the listed camera of a live tile
};
std::vector<WallCell> wallCells(const DirectorCameraSlotLayout& slots, const Cameras& cameras);
bool wallShowsEmptyState(const DirectorCameraSlotLayout& slots);
// The slot holds a camera that the channel no longer lists: only then may it be released.
bool slotIsLocked(const DirectorCameraSlotLayout& slots, int index, const Cameras& cameras);
// Every cell is exactly this tall, so that two rows and their 7-point spacing fill the wall.
double wallCellHeight(double wallHeight);
std::string emptySlotTitle(int number);
inline constexpr const char* emptySlotWaiting = "Waiting";
inline constexpr const char* emptySlotStatus = "No camera";
std::string lockedSlotLine(int number);
inline constexpr const char* lockedSlotHint = "Returns to this slot";

enum class TileBadge { none, rec, saving, busy };
enum class TileTag { none, program, preview };
enum class TileOutline { normal, preview, program };
// What assistive tools read for the painted "REC" badge of a tile or monitor.
inline constexpr const char* recordingBadgeAccessibleText = "Camera recording";
// What the Preview tile adds while the running session cannot take it (CUT and FADE greyed out).
inline constexpr const char* takeUnavailableAccessibleText = "CUT and FADE unavailable";
// A cell is named after its slot and the camera it holds: "Slot 3: Alpha", "Slot 4: No camera".
std::string wallCellAccessibleName(int number, const std::optional<std::string>& cameraName);
// What an empty or locked cell says beyond its name.
std::string lockedCellAccessibleDescription(int number);

struct TileState {
    bool showsFrame = false;
    std::string placeholderText; // when no frame shows
    StudioColor dotColor = StudioColor::gray;
    TileBadge badge = TileBadge::none;
    TileTag tag = TileTag::none;
    TileOutline outline = TileOutline::normal;
    double meterValue = -60;
    std::string levelText;
    bool levelIsElapsed = false;
    std::optional<std::string> batteryText;
    // Routing, badge and status as assistive tools read them ("Preview, Camera recording"); a Preview
    // that the running session cannot take says so ("Program and Preview, CUT and FADE unavailable").
    std::string accessibleDescription;
    bool operator==(const TileState&) const = default;
};
// `takeUnavailable`: the session runs and CUT and FADE cannot take the Preview camera.
TileState tileState(const LiveCamera& camera, WallTime now, bool hasImage, const std::optional<std::string>& previewError,
                    bool isPreview, bool isProgram, bool takeUnavailable = false);

// --- Monitors. ---
enum class MonitorPicture { frame, waiting, offline }; // waiting: online but no frame yet
struct MonitorState {
    std::string title;
    std::string cameraLine;
    std::string cameraState; // the end of the camera line, kept whole when the line is cut
    bool showsRecordingBadge = false;
    MonitorPicture picture = MonitorPicture::offline;
    StudioColor color = StudioColor::green;
    // "Preview" or "Program", and the camera with its state ("Alpha, Camera recording").
    std::string accessibleName;
    std::string accessibleDescription;
    bool operator==(const MonitorState&) const = default;
};
MonitorState monitorState(bool program, const std::optional<std::string>& cameraID, const Cameras& cameras,
                          WallTime now, bool hasImage);

// --- Switcher. ---
// The wall's part of the window's keyboard home (app/keyboard_rule): the live tiles, those whose
// camera is not on Program first, where Return chooses the next Preview (after the first cut,
// which disables CUT and FADE); the window adds the switcher's controls after them. Never a header
// button: a Return typed for anything else must not stop every camera.
std::vector<std::size_t> keyboardHome(const std::vector<WallCell>& cells, const std::optional<std::string>& programCameraID);

// --- Session inspector. ---
struct ProjectOption {
    std::string id;
    std::string name;
    bool operator==(const ProjectOption&) const = default;
};
std::vector<ProjectOption> projectOptions(const VELKLibrary& library);
std::string startTitle(bool timelineRunning);
bool startEnabled(const std::optional<std::string>& selectedProjectID, const std::string& plannedTakeID,
                  bool timelineRunning);
bool recAllEnabled(const Cameras& onlineCameras, WallTime now, bool hasSelectedProject, bool blocksStart);
std::string controlMessage(const std::optional<std::string>& lastControlMessage);
// What assistive tools are told as New take ID gives the take field a new id.
std::string newTakeIDNews(const std::string& takeID);
std::vector<std::string> stopResultLines(const std::map<std::string, std::string>& stopResults, const Cameras& cameras,
                                         WallTime now);

// --- Edits inspector. ---
std::vector<DirectorEditEvent> editEvents(const LiveEditTimeline& timeline); // newest first, no session start
std::string editsHeadingDetail(std::size_t count);
std::string timeCode(double elapsedSeconds);
std::string editTag(const DirectorEditEvent& event);
// A marker's label, or the camera that went to Program with its state.
DirectorRules::CameraNameText editDetail(const DirectorEditEvent& event, const Cameras& cameras, WallTime now);
// One row of the list, identified by its event's id, with its three texts and what assistive tools
// read for it (and its tooltip shows): the three texts in order.
struct EditRow {
    std::string id;
    std::string timeCode;
    std::string tag;
    std::string detail;
    std::string detailState; // the end of the detail, kept whole when the detail is cut
    std::string accessibleText;
    bool operator==(const EditRow&) const = default;
};
EditRow editRow(const DirectorEditEvent& event, const Cameras& cameras, WallTime now);
std::vector<EditRow> editRows(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now); // newest first
// What the rows are made of: the timeline's events, which are only ever added to or replaced by
// another session's (so their number and first and last ids tell them), and the cameras' names and
// states. The rows are made again only when it changes: a camera's status comes several times a
// second, and a long show has thousands of rows.
struct EditRowsSource {
    std::size_t events = 0;
    std::string firstID;
    std::string lastID;
    std::vector<std::pair<std::string, DirectorRules::CameraNameText>> cameraNames;
    bool operator==(const EditRowsSource&) const = default;
};
EditRowsSource editRowsSource(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now);
// How the shown rows become the next ones without touching the rows that stay: the number of rows
// that came on top, the others being the shown rows in the same order (their texts may differ);
// none when the list must be rebuilt (a new session, rows gone or reordered).
std::optional<std::size_t> editRowsAddedOnTop(const std::vector<EditRow>& shown, const std::vector<EditRow>& next);
// Where the list is read: whether its view is at the top, the row shown first and the keyboard's
// current row (none before the keyboard reached the list).
struct EditListPlace {
    bool atTop = true;
    int firstShownRow = 0;
    std::optional<int> currentRow;
    bool operator==(const EditListPlace&) const = default;
};
// The place once `added` rows came on top. A reader at the top, with the current row on the first
// row or none, follows the newest edits: the view stays at the top and the current row is the new
// first row. Any other reader keeps what they read: the first shown row and the current row stay
// the same rows, `added` rows further down.
EditListPlace editListPlaceAfterRowsOnTop(const EditListPlace& place, std::size_t added);

// --- Camera inspector. ---
struct OrientationLabel {
    std::string text;
    std::string icon;
    bool operator==(const OrientationLabel&) const = default;
};
OrientationLabel orientationLabel(const std::optional<LiveCamera>& selected);
bool rotateEnabled(const std::optional<LiveCamera>& selected, WallTime now);
bool recCameraEnabled(const std::optional<LiveCamera>& selected, WallTime now, bool hasSelectedProject, bool blocksStart);
bool stopCameraEnabled(const std::optional<LiveCamera>& selected);
std::string captureText(const std::optional<LiveCamera>& selected);
// The live-production controls, shown only while the profile makes them visible.
inline constexpr const char* liveProductionToggleTitle = "Live Production \u00b7 1080p";
inline constexpr const char* liveProductionFPSLabel = "FPS";
std::string fpsOptionTitle(std::int64_t fps); // "25 fps"

// --- View kit. ---
StudioColor meterColor(double valueDB);
double meterFill(double valueDB);
std::string levelText(double db); // "%.0f dB"
std::string channelLevelText(const LiveCamera* camera, WallTime now);
std::pair<double, double> channelMeterValues(const LiveCamera* camera, WallTime now);
// What assistive tools read for the left and right meter bars of a channel: the channel's camera,
// the side and its level as the level text rounds it, with a true minus sign ("Alpha, Left \u221220
// dB"), or the side and "OFFLINE" while no live level reaches the channel.
std::pair<std::string, std::string> channelMeterAccessibleTexts(const std::string& channelName, const LiveCamera* camera,
                                                                WallTime now);
// A value of a camera's page as assistive tools read it: whose it is, then what ("Alpha, Link: 5
// GHz"). A screen reader reads a page's labels of three words or more only, so the camera's name
// goes with each value rather than once in a label of its own that it would pass over.
std::string spokenWithCamera(const std::string& cameraName, const std::string& text);

} // namespace DirectorPresenters

using DirectorPresenters::MonitorPicture;
using DirectorPresenters::MonitorState;
using DirectorPresenters::TileBadge;
using DirectorPresenters::TileOutline;
using DirectorPresenters::TileState;
using DirectorPresenters::TileTag;

} // namespace velk
