#pragma once
// The eight locked positions of the Director's camera wall. A camera keeps its slot while the
// layout holds it, even while it is offline; newly seen cameras fill free slots in a fixed order.

#include <optional>
#include <string>
#include <vector>

#include "base/json.hpp"

namespace velk {

struct DirectorCameraSlot {
    int index = 0; // position 0 to 7, also the slot's identity
    std::optional<std::string> cameraID;
    std::optional<std::string> cameraName;

    bool operator==(const DirectorCameraSlot&) const = default;
};

void to_json(Json& json, const DirectorCameraSlot& slot);
void from_json(const Json& json, DirectorCameraSlot& slot);

// What reconciliation reads of a live camera.
struct DirectorSlotCamera {
    std::string id;
    std::string name;
    std::string role;
    bool isOnline = false;
};

class DirectorCameraSlotLayout {
public:
    static constexpr int maximum = 8;
    // The user setting that holds `encoded()`.
    static constexpr const char* settingsKey = "director.cameraSlots.v1";

    // Eight empty slots.
    DirectorCameraSlotLayout();
    // Normalises any array of slots: the first slot per index 0-7 wins, each camera id is used once.
    explicit DirectorCameraSlotLayout(const std::vector<DirectorCameraSlot>& slots);

    const std::vector<DirectorCameraSlot>& slots() const { return m_slots; }

    // Refreshes the names of placed cameras and fills free slots with unplaced cameras, online
    // first, then by name. Cameras whose role is "DIRECTOR" (any case) are never placed.
    void reconcile(const std::vector<DirectorSlotCamera>& cameras);
    // The same, for any camera list with `id`, `name` and `role` members and an online test.
    template <class Cameras, class IsOnline>
    void reconcile(const Cameras& cameras, IsOnline isOnline) {
        std::vector<DirectorSlotCamera> list;
        for (const auto& camera : cameras) list.push_back({camera.id, camera.name, camera.role, static_cast<bool>(isOnline(camera))});
        reconcile(list);
    }
    // Frees the slot at `position`; a position outside the slots does nothing.
    void release(int position);

    // Standard base64 of the compact JSON form; empty text when encoding fails.
    std::string encoded() const;
    // Never fails: unreadable or foreign text gives eight empty slots.
    static DirectorCameraSlotLayout decoded(const std::string& text);

    bool operator==(const DirectorCameraSlotLayout&) const = default;

private:
    std::vector<DirectorCameraSlot> m_slots;
};

void to_json(Json& json, const DirectorCameraSlotLayout& layout);
// Decodes the slot objects and normalises them; throws JsonError when the form is wrong.
void from_json(const Json& json, DirectorCameraSlotLayout& layout);

} // namespace velk
