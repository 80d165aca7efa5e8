#include "director/director_camera_slot_layout.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <set>

#include "base/unicode.hpp"

namespace velk {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t n = (std::uint32_t(std::uint8_t(bytes[i])) << 16) | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                                std::uint8_t(bytes[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const std::uint32_t n = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        const std::uint32_t n = (std::uint32_t(std::uint8_t(bytes[i])) << 16) | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict: padded to a multiple of four, no white space or any other character ignored.
std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::uint32_t n = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int value = base64Value(c);
            if (value < 0) {
                if (!(last && c == '=' && k >= 4 - padding)) return std::nullopt;
                value = 0;
            }
            n = (n << 6) | std::uint32_t(value);
        }
        out += char((n >> 16) & 0xFF);
        if (!last || padding < 2) out += char((n >> 8) & 0xFF);
        if (!last || padding < 1) out += char(n & 0xFF);
    }
    return out;
}

std::vector<DirectorCameraSlot> normalised(const std::vector<DirectorCameraSlot>& given) {
    std::array<std::optional<DirectorCameraSlot>, DirectorCameraSlotLayout::maximum> kept;
    for (const DirectorCameraSlot& slot : given) {
        if (slot.index < 0 || slot.index >= DirectorCameraSlotLayout::maximum) continue;
        if (!kept[slot.index]) kept[slot.index] = slot;
    }
    std::vector<DirectorCameraSlot> slots;
    std::set<std::string> seen;
    for (int position = 0; position < DirectorCameraSlotLayout::maximum; ++position) {
        DirectorCameraSlot slot = kept[position].value_or(DirectorCameraSlot{position, std::nullopt, std::nullopt});
        if (!slot.cameraID || slot.cameraID->empty() || seen.contains(*slot.cameraID)) {
            slot.cameraID.reset();
            slot.cameraName.reset();
        } else {
            seen.insert(*slot.cameraID);
        }
        slots.push_back(std::move(slot));
    }
    return slots;
}

} // namespace

void to_json(Json& json, const DirectorCameraSlot& slot) {
    json = Json::object();
    json["index"] = slot.index;
    json::putOptional(json, "cameraID", slot.cameraID);
    json::putOptional(json, "cameraName", slot.cameraName);
}

void from_json(const Json& json, DirectorCameraSlot& slot) {
    json::requireObject(json, "slot");
    const std::int64_t index = json::requireInt64(json, "index");
    if (index < INT_MIN || index > INT_MAX) throw JsonError("Expected a slot position for key \"index\".");
    slot.index = static_cast<int>(index);
    slot.cameraID = json::optionalString(json, "cameraID");
    slot.cameraName = json::optionalString(json, "cameraName");
}

DirectorCameraSlotLayout::DirectorCameraSlotLayout() : m_slots(normalised({})) {}

DirectorCameraSlotLayout::DirectorCameraSlotLayout(const std::vector<DirectorCameraSlot>& slots) : m_slots(normalised(slots)) {}

void DirectorCameraSlotLayout::reconcile(const std::vector<DirectorSlotCamera>& cameras) {
    std::vector<const DirectorSlotCamera*> eligible;
    for (const DirectorSlotCamera& camera : cameras) {
        if (text::uppercased(camera.role) != "DIRECTOR") eligible.push_back(&camera);
    }

    std::set<std::string> placed;
    for (DirectorCameraSlot& slot : m_slots) {
        if (!slot.cameraID) continue;
        placed.insert(*slot.cameraID);
        auto listed = std::find_if(eligible.begin(), eligible.end(),
                                   [&](const DirectorSlotCamera* camera) { return camera->id == *slot.cameraID; });
        if (listed != eligible.end()) slot.cameraName = (*listed)->name;
    }

    std::vector<const DirectorSlotCamera*> unplaced;
    for (const DirectorSlotCamera* camera : eligible) {
        if (!placed.contains(camera->id)) unplaced.push_back(camera);
    }
    std::stable_sort(unplaced.begin(), unplaced.end(), [](const DirectorSlotCamera* a, const DirectorSlotCamera* b) {
        if (a->isOnline != b->isOnline) return a->isOnline;
        return text::localizedCaseInsensitiveCompare(a->name, b->name) < 0;
    });

    auto next = unplaced.begin();
    for (DirectorCameraSlot& slot : m_slots) {
        if (next == unplaced.end()) break;
        if (slot.cameraID) continue;
        slot.cameraID = (*next)->id;
        slot.cameraName = (*next)->name;
        ++next;
    }
}

void DirectorCameraSlotLayout::release(int position) {
    if (position < 0 || position >= static_cast<int>(m_slots.size())) return;
    m_slots[position].cameraID.reset();
    m_slots[position].cameraName.reset();
}

std::string DirectorCameraSlotLayout::encoded() const {
    try {
        return base64Encode(json::write(Json(*this)));
    } catch (const std::exception&) {
        return "";
    }
}

DirectorCameraSlotLayout DirectorCameraSlotLayout::decoded(const std::string& text) {
    const std::optional<std::string> bytes = base64Decode(text);
    if (!bytes) return DirectorCameraSlotLayout();
    const std::optional<Json> parsed = json::tryParse(*bytes);
    if (!parsed) return DirectorCameraSlotLayout();
    try {
        DirectorCameraSlotLayout layout;
        from_json(*parsed, layout);
        return layout;
    } catch (const std::exception&) {
        return DirectorCameraSlotLayout();
    }
}

void to_json(Json& json, const DirectorCameraSlotLayout& layout) {
    json = Json::object();
    json["slots"] = Json::array();
    for (const DirectorCameraSlot& slot : layout.slots()) json["slots"].push_back(slot);
}

void from_json(const Json& json, DirectorCameraSlotLayout& layout) {
    json::requireObject(json, "layout");
    std::vector<DirectorCameraSlot> slots;
    for (const Json& element : json::requireArrayValue(json, "slots")) {
        json::requireObject(element, "slots");
        const std::int64_t index = json::requireInt64(element, "index");
        std::optional<std::string> cameraID = json::optionalString(element, "cameraID");
        std::optional<std::string> cameraName = json::optionalString(element, "cameraName");
        // A position beyond any slot is dropped by normalisation anyway.
        if (index < 0 || index >= DirectorCameraSlotLayout::maximum) continue;
        slots.push_back({static_cast<int>(index), std::move(cameraID), std::move(cameraName)});
    }
    layout = DirectorCameraSlotLayout(slots);
}

} // namespace velk
