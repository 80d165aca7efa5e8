#include "model/progress.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "model/hashing.hpp"

namespace velk {

namespace {

constexpr std::array<std::pair<TransferPhase, std::string_view>, 5> kTransferPhases{{
    {TransferPhase::queued, "Queued"},
    {TransferPhase::downloading, "Downloading"},
    {TransferPhase::verifying, "Verifying"},
    {TransferPhase::ready, "Ready"},
    {TransferPhase::failed, "Failed"},
}};

constexpr std::array<std::pair<CollectSourcePhase, std::string_view>, 9> kCollectSourcePhases{{
    {CollectSourcePhase::discovered, "Discovered"},
    {CollectSourcePhase::loading, "Loading catalog"},
    {CollectSourcePhase::ready, "Ready"},
    {CollectSourcePhase::downloading, "Downloading"},
    {CollectSourcePhase::verifying, "Verifying"},
    {CollectSourcePhase::complete, "Complete"},
    {CollectSourcePhase::failed, "Needs retry"},
    {CollectSourcePhase::returning, "Returning to camera"},
    {CollectSourcePhase::ended, "Camera mode requested"},
}};

template <class Phase, std::size_t N>
std::string_view rawOf(const std::array<std::pair<Phase, std::string_view>, N>& table, Phase phase) {
    for (const auto& [p, raw] : table)
        if (p == phase) return raw;
    return {};
}

template <class Phase, std::size_t N>
std::optional<Phase> phaseOf(const std::array<std::pair<Phase, std::string_view>, N>& table, std::string_view raw) {
    for (const auto& [p, text] : table)
        if (text == raw) return p;
    return std::nullopt;
}

double progressOf(std::int64_t completedBytes, std::int64_t totalBytes) {
    if (totalBytes <= 0) return 0.0;
    return std::min(static_cast<double>(completedBytes) / static_cast<double>(totalBytes), 1.0);
}

} // namespace

std::string_view rawValue(TransferPhase phase) { return rawOf(kTransferPhases, phase); }

std::optional<TransferPhase> transferPhaseFromRawValue(std::string_view raw) { return phaseOf(kTransferPhases, raw); }

void to_json(Json& json, TransferPhase phase) { json = std::string(rawValue(phase)); }

void from_json(const Json& json, TransferPhase& phase) {
    auto text = json::stringValue(json);
    if (!text) throw JsonError("Expected a string for a transfer phase.");
    auto decoded = transferPhaseFromRawValue(*text);
    if (!decoded) throw JsonError("Unknown transfer phase \"" + *text + "\".");
    phase = *decoded;
}

double TransferStatus::progress() const { return progressOf(completedBytes, totalBytes); }

std::string_view rawValue(CollectSourcePhase phase) { return rawOf(kCollectSourcePhases, phase); }

std::optional<CollectSourcePhase> collectSourcePhaseFromRawValue(std::string_view raw) {
    return phaseOf(kCollectSourcePhases, raw);
}

double CollectSourceStatus::progress() const { return progressOf(completedBytes, totalBytes); }

ActivityEntry::ActivityEntry(WallTime date_, std::string message_, bool isError_)
    : date(date_), message(std::move(message_)), isError(isError_), m_id(uuid::random()) {}

} // namespace velk

std::size_t std::hash<velk::TransferStatus>::operator()(const velk::TransferStatus& s) const noexcept {
    return velk::hashing::Hasher{}
        .add(s.id)
        .add(s.clipName)
        .add(static_cast<std::int64_t>(s.phase))
        .add(s.completedBytes)
        .add(s.totalBytes)
        .add(s.message)
        .value();
}

std::size_t std::hash<velk::CollectSourceStatus>::operator()(const velk::CollectSourceStatus& s) const noexcept {
    return velk::hashing::Hasher{}
        .add(s.deviceID)
        .add(s.name)
        .add(static_cast<std::int64_t>(s.phase))
        .add(s.completedBytes)
        .add(s.totalBytes)
        .add(s.message)
        .value();
}

std::size_t std::hash<velk::TransferSessionSummary>::operator()(const velk::TransferSessionSummary& s) const noexcept {
    return velk::hashing::Hasher{}
        .add(s.deviceId)
        .add(s.deviceName)
        .add(s.sessionId)
        .add(s.expiresAt)
        .add(s.fingerprint)
        .add(s.openAccess)
        .add(s.supportsProjectTrash)
        .value();
}

std::size_t std::hash<velk::ActivityEntry>::operator()(const velk::ActivityEntry& e) const noexcept {
    velk::hashing::Hasher hasher;
    for (std::uint8_t byte : e.id()) hasher.add(static_cast<std::int64_t>(byte));
    return hasher.add(e.date).add(e.message).add(e.isError).value();
}
