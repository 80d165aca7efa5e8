#include "discovery/preview_decoding.hpp"

#include "base/unicode.hpp"
#include "discovery/wire_readers.hpp"

namespace velk {

namespace {

std::set<std::string> stringSet(const Json* value) {
    std::set<std::string> out;
    if (!value || !value->is_array()) return out;
    for (const Json& element : *value) {
        if (!element.is_string()) return {};
        out.insert(text::lowercased(element.get<std::string>()));
    }
    return out;
}

std::set<std::int64_t> integerSet(const Json* value) {
    std::set<std::int64_t> out;
    if (!value || !value->is_array()) return out;
    for (const Json& element : *value) {
        auto integer = wire::lenientInteger(&element);
        if (!integer) return {};
        out.insert(*integer);
    }
    return out;
}

} // namespace

std::optional<PreviewCapabilities> decodePreviewCapabilities(const Json* value) {
    if (!value || !value->is_object()) return std::nullopt;
    auto version = wire::lenientInteger(wire::member(*value, "v"));
    if (!version || *version != 1) return std::nullopt;
    const Json* link = wire::member(*value, "link");
    if (link && !link->is_object()) link = nullptr;

    PreviewCapabilities capabilities;
    capabilities.version = 1;
    capabilities.transports = stringSet(wire::member(*value, "transports"));
    capabilities.codecs = stringSet(wire::member(*value, "codecs"));
    capabilities.requestModes = integerSet(wire::member(*value, "requestModes"));
    capabilities.persistentModes = integerSet(wire::member(*value, "persistentModes"));
    if (link) {
        capabilities.wifiBandGHz = wire::lenientDouble(wire::member(*link, "bandGHz"));
        capabilities.usableMbps = wire::lenientDouble(wire::member(*link, "usableMbps"));
    }
    return capabilities;
}

std::optional<PreviewTransportStatus> decodePreviewTransport(const Json* value) {
    if (!value || !value->is_object()) return std::nullopt;
    PreviewTransportStatus status;
    status.modes = integerSet(wire::member(*value, "modes"));
    status.codec = wire::string(wire::member(*value, "codec"));
    status.policy = wire::string(wire::member(*value, "policy"));
    if (!status.codec && !status.policy && status.modes.empty()) return std::nullopt;

    if (const Json* counters = wire::member(*value, "encodeCounters"); counters && counters->is_object()) {
        for (auto it = counters->begin(); it != counters->end(); ++it) {
            auto count = wire::lenientInteger(&it.value());
            if (count) status.encodeCounters.insert(it.key() + "=" + std::to_string(*count));
        }
    }
    status.wallTargetFPS = wire::lenientInteger(wire::member(*value, "wallTargetFps"));
    status.selectedTargetFPS = wire::lenientInteger(wire::member(*value, "selectedTargetFps"));
    status.connections = wire::lenientInteger(wire::member(*value, "connections"));
    status.deliveryLimitedClients = wire::lenientInteger(wire::member(*value, "deliveryLimitedClients"));
    status.pendingEncodeJobs = wire::lenientInteger(wire::member(*value, "pendingEncodeJobs"));
    status.thermalLevel = wire::string(wire::member(*value, "thermalLevel"));
    status.band = wire::string(wire::member(*value, "band"));
    status.capacityMeasured = wire::strictBoolean(wire::member(*value, "capacityMeasured")).value_or(false);
    status.fullStream4K = wire::strictBoolean(wire::member(*value, "fullStream4K"));
    return status;
}

std::optional<PreviewGeometry> decodePreviewGeometry(const Json* value) {
    if (!value || !value->is_object()) return std::nullopt;
    auto version = wire::exactInteger(wire::member(*value, "v"));
    if (!version || *version != 1) return std::nullopt;
    auto rotation = wire::exactInteger(wire::member(*value, "rotationDegrees"));
    if (!rotation || (*rotation != 0 && *rotation != 90 && *rotation != 180 && *rotation != 270)) return std::nullopt;
    auto oriented = wire::strictBoolean(wire::member(*value, "pixelsOriented"));
    if (!oriented) return std::nullopt;
    if (*oriented && *rotation != 0) return std::nullopt;
    return PreviewGeometry{*rotation, *oriented};
}

} // namespace velk
