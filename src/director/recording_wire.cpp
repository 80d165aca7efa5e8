#include "director/recording_wire.hpp"

#include <algorithm>
#include <cmath>

#include "base/unicode.hpp"
#include "base/uuid.hpp"

namespace velk::RecordingWire {

namespace {

constexpr const char* commandType = "command";

} // namespace

std::optional<std::vector<std::uint8_t>> packet(const std::string& sender, const Json& payload, std::int64_t wallMs) {
    if (!uuid::isValid(sender)) return std::nullopt;
    if (!payload.is_object()) return std::nullopt;
    Json envelope = Json::object();
    envelope["v"] = 1;
    envelope["type"] = commandType;
    envelope["sender"] = sender;
    envelope["sentMs"] = wallMs;
    envelope["payload"] = payload;
    std::string bytes;
    try {
        // The writer refuses non-finite numbers and ill-formed text rather than writing null.
        bytes = json::write(envelope);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (bytes.size() > maximumDatagramBytes) return std::nullopt;
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::optional<ReceivedCommand> command(std::span<const std::uint8_t> datagram) {
    return command(std::string_view(reinterpret_cast<const char*>(datagram.data()), datagram.size()));
}

std::optional<ReceivedCommand> command(std::string_view datagram) {
    if (datagram.size() > maximumDatagramBytes) return std::nullopt;
    std::optional<Json> parsed = json::tryParse(datagram);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const Json& envelope = *parsed;

    if (integer(envelope, "v") != 1) return std::nullopt;
    if (text(envelope, "type") != commandType) return std::nullopt;
    std::optional<std::string> sender = text(envelope, "sender");
    if (!sender || !identifier(*sender, identifierLimit)) return std::nullopt;
    const Json* payload = field(envelope, "payload");
    if (!payload || !payload->is_object()) return std::nullopt;
    if (!text(*payload, "action")) return std::nullopt;

    ReceivedCommand result;
    if (const Json* session = field(envelope, "sessionId")) {
        if (!session->is_string()) return std::nullopt;
        result.session = session->get<std::string>();
    }
    result.sender = std::move(*sender);
    result.payload = *payload;
    return result;
}

const Json* field(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<double> number(const Json* value) {
    if (!value || !value->is_number()) return std::nullopt;
    const double result = value->get<double>();
    if (!std::isfinite(result)) return std::nullopt;
    return result;
}

std::optional<std::int64_t> integer(const Json* value) {
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        const auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(maximumInteger)) return std::nullopt;
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value->is_number_integer()) {
        const auto signedValue = value->get<std::int64_t>();
        if (signedValue < 0 || signedValue > maximumInteger) return std::nullopt;
        return signedValue;
    }
    if (value->is_number_float()) {
        const double floatValue = value->get<double>();
        if (!std::isfinite(floatValue) || floatValue < 0 || floatValue > static_cast<double>(maximumInteger)) return std::nullopt;
        if (floatValue != std::round(floatValue)) return std::nullopt;
        return static_cast<std::int64_t>(floatValue);
    }
    return std::nullopt;
}

std::optional<bool> boolean(const Json* value) {
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<std::string> text(const Json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

bool identifier(std::string_view candidate, std::size_t limit) {
    if (candidate.empty()) return false;
    if (candidate.size() > limit) return false;
    if (text::trimmedWhitespace(candidate) != candidate) return false;
    const std::vector<char32_t> scalars = text::scalars(candidate);
    return std::none_of(scalars.begin(), scalars.end(),
                        [](char32_t scalar) { return text::isControl(scalar) || text::isFormat(scalar); });
}

Json clockPing(const std::string& requestID, double t1) {
    return Json{{"action", "CLOCK_PING"}, {"requestId", requestID}, {"t1", t1}};
}

Json stopTake(const std::string& takeID, const std::string& requestID) {
    return Json{{"action", "STOP_TAKE"}, {"takeId", takeID}, {"requestId", requestID}};
}

Json legacyStop(const std::string& target) {
    return Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", target}, {"name", ""}};
}

Json legacyBroadcast(const std::vector<std::string>& safeStopTargets) {
    std::vector<std::string> sorted = safeStopTargets;
    std::sort(sorted.begin(), sorted.end());
    Json payload = legacyStop("");
    payload["safeStopTargets"] = sorted;
    return payload;
}

Json cancelTake(const std::string& takeID) {
    return Json{{"action", "CANCEL_TAKE"}, {"takeId", takeID}};
}

} // namespace velk::RecordingWire
