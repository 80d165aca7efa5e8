#pragma once
// Rows the store publishes for the Library window while it pairs and copies: one per clip being
// downloaded, one per phone in a collection, one per live transfer session, and the activity log.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/clock.hpp"
#include "base/json.hpp"
#include "base/uuid.hpp"

namespace velk {

// Raw values are the texts shown to the user.
enum class TransferPhase { queued, downloading, verifying, ready, failed };

std::string_view rawValue(TransferPhase phase);
// Exact, case-sensitive match of a raw value; none for any other text.
std::optional<TransferPhase> transferPhaseFromRawValue(std::string_view raw);
// A phase is written and read as its raw text.
void to_json(Json& json, TransferPhase phase);
void from_json(const Json& json, TransferPhase& phase);

struct TransferStatus {
    std::string id;
    std::string clipName;
    TransferPhase phase = TransferPhase::queued;
    std::int64_t completedBytes = 0;
    std::int64_t totalBytes = 0;
    std::string message;

    // completed / total capped at 1.0 from above; 0.0 while total is 0 or less.
    double progress() const;

    bool operator==(const TransferStatus&) const = default;
};

enum class CollectSourcePhase { discovered, loading, ready, downloading, verifying, complete, failed, returning, ended };

std::string_view rawValue(CollectSourcePhase phase);
std::optional<CollectSourcePhase> collectSourcePhaseFromRawValue(std::string_view raw);

struct CollectSourceStatus {
    std::string deviceID;
    std::string name;
    CollectSourcePhase phase = CollectSourcePhase::discovered;
    std::int64_t completedBytes = 0;
    std::int64_t totalBytes = 0;
    std::string message;

    // One row per phone.
    const std::string& id() const { return deviceID; }
    double progress() const;

    bool operator==(const CollectSourceStatus&) const = default;
};

struct TransferSessionSummary {
    std::string deviceId;
    std::string deviceName;
    std::string sessionId;
    WallTime expiresAt{};
    std::string fingerprint;
    bool openAccess = false;
    bool supportsProjectTrash = false;

    // One summary per phone.
    const std::string& id() const { return deviceId; }

    bool operator==(const TransferSessionSummary&) const = default;
};

// One line of the activity log. Every entry gets a fresh random id, so two entries made from the
// same arguments are different entries.
class ActivityEntry {
public:
    ActivityEntry(WallTime date, std::string message, bool isError = false);

    const uuid::Bytes& id() const { return m_id; }

    WallTime date;
    std::string message;
    bool isError;

    bool operator==(const ActivityEntry&) const = default;

private:
    uuid::Bytes m_id;
};

} // namespace velk

template <>
struct std::hash<velk::TransferStatus> {
    std::size_t operator()(const velk::TransferStatus& status) const noexcept;
};
template <>
struct std::hash<velk::CollectSourceStatus> {
    std::size_t operator()(const velk::CollectSourceStatus& status) const noexcept;
};
template <>
struct std::hash<velk::TransferSessionSummary> {
    std::size_t operator()(const velk::TransferSessionSummary& summary) const noexcept;
};
template <>
struct std::hash<velk::ActivityEntry> {
    std::size_t operator()(const velk::ActivityEntry& entry) const noexcept;
};
