#include "preview/live_production_profile.hpp"

#include <algorithm>

namespace velk {

namespace LiveProductionProfile {

std::int64_t normalizedFPS(std::int64_t fps) {
    return std::find(allowedFPS.begin(), allowedFPS.end(), fps) != allowedFPS.end() ? fps : defaultFPS;
}

std::string availability(bool requested, const std::vector<LiveCamera>&) {
    return requested ? "Unavailable in this build" : "Off";
}

} // namespace LiveProductionProfile

namespace {

constexpr std::array<std::pair<LiveProductionNodeRole, std::string_view>, 4> kRoles = {{
    {LiveProductionNodeRole::camera, "camera"},
    {LiveProductionNodeRole::macDirector, "macDirector"},
    {LiveProductionNodeRole::deviceDirector, "deviceDirector"},
    {LiveProductionNodeRole::both, "both"},
}};
constexpr std::array<std::pair<LiveProductionPreviewIntent, std::string_view>, 2> kIntents = {{
    {LiveProductionPreviewIntent::low, "low"},
    {LiveProductionPreviewIntent::fullHD, "fullHD"},
}};
constexpr std::array<std::pair<LiveProductionPreviewSource, std::string_view>, 4> kSources = {{
    {LiveProductionPreviewSource::unavailable, "unavailable"},
    {LiveProductionPreviewSource::cameraLow, "cameraLow"},
    {LiveProductionPreviewSource::cameraDirectFullHD, "cameraDirectFullHD"},
    {LiveProductionPreviewSource::electedMacProcessedLow, "electedMacProcessedLow"},
}};

template <class Table, class Value>
std::string_view nameOf(const Table& table, Value value) {
    for (const auto& [candidate, name] : table) {
        if (candidate == value) return name;
    }
    return {};
}

template <class Value, class Table>
std::optional<Value> valueOf(const Table& table, std::string_view raw) {
    for (const auto& [candidate, name] : table) {
        if (name == raw) return candidate;
    }
    return std::nullopt;
}

template <class Value, class Table>
Value decode(const Json& json, const Table& table, const char* what) {
    if (json.is_string()) {
        if (auto value = valueOf<Value>(table, json.get_ref<const std::string&>())) return *value;
    }
    throw JsonError(std::string("Unknown ") + what + ".");
}

} // namespace

std::string_view rawValue(LiveProductionNodeRole role) { return nameOf(kRoles, role); }
std::string_view rawValue(LiveProductionPreviewIntent intent) { return nameOf(kIntents, intent); }
std::string_view rawValue(LiveProductionPreviewSource source) { return nameOf(kSources, source); }

std::optional<LiveProductionNodeRole> nodeRoleFromRaw(std::string_view raw) {
    return valueOf<LiveProductionNodeRole>(kRoles, raw);
}
std::optional<LiveProductionPreviewIntent> previewIntentFromRaw(std::string_view raw) {
    return valueOf<LiveProductionPreviewIntent>(kIntents, raw);
}
std::optional<LiveProductionPreviewSource> previewSourceFromRaw(std::string_view raw) {
    return valueOf<LiveProductionPreviewSource>(kSources, raw);
}

void to_json(Json& json, LiveProductionNodeRole role) { json = std::string(rawValue(role)); }
void from_json(const Json& json, LiveProductionNodeRole& role) {
    role = decode<LiveProductionNodeRole>(json, kRoles, "node role");
}
void to_json(Json& json, LiveProductionPreviewIntent intent) { json = std::string(rawValue(intent)); }
void from_json(const Json& json, LiveProductionPreviewIntent& intent) {
    intent = decode<LiveProductionPreviewIntent>(json, kIntents, "preview intent");
}
void to_json(Json& json, LiveProductionPreviewSource source) { json = std::string(rawValue(source)); }
void from_json(const Json& json, LiveProductionPreviewSource& source) {
    source = decode<LiveProductionPreviewSource>(json, kSources, "preview source");
}

} // namespace velk
