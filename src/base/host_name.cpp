#include "base/host_name.hpp"

#include <fstream>
#include <mutex>

#include <QString>
#include <QSysInfo>

#include <systemd/sd-bus.h>

#include "base/system_bus.hpp"
#include "base/unicode.hpp"

namespace velk::host_name {

namespace {

constexpr const char* hostnamedService = "org.freedesktop.hostname1";
constexpr const char* hostnamedPath = "/org/freedesktop/hostname1";

// PRETTY_HOSTNAME of an environment-style file, its quotes removed.
std::string prettyNameInFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("PRETTY_HOSTNAME=")) continue;
        std::string value = line.substr(16);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

struct HostnamedAnswer {
    std::string pretty;
    std::string staticName;
};

// hostnamed's last answer, and the Watch that keeps it.
struct KeptAnswer {
    std::mutex mutex;
    const Watch* keeper = nullptr;
    std::optional<HostnamedAnswer> answer;
};

KeptAnswer& keptAnswer() {
    static KeptAnswer kept;
    return kept;
}

void keepAnswer(const Watch* keeper, std::optional<HostnamedAnswer> answer) {
    KeptAnswer& kept = keptAnswer();
    std::lock_guard lock(kept.mutex);
    if (kept.keeper == keeper) kept.answer = std::move(answer);
}

// Asks hostnamed for its names without waiting; the answer replaces the kept one when it comes.
// A bus without hostnamed answers with an error, and the names then come from the files again.
void askHostnamed(system_bus::Connection& bus, const Watch* keeper) {
    system_bus::Message call = bus.methodCall(hostnamedService, hostnamedPath, "org.freedesktop.DBus.Properties", "GetAll");
    if (call) sd_bus_message_append(call.get(), "s", hostnamedService);
    bus.callAsync(call, system_bus::answerTimeout, [keeper](const system_bus::Reply& reply) {
        if (!reply.answer()) return keepAnswer(keeper, std::nullopt);
        const auto properties = system_bus::readProperties(reply.answer());
        const auto property = [&](const char* name) {
            return system_bus::valueAs<std::string>(system_bus::propertyOf(properties, name));
        };
        keepAnswer(keeper, HostnamedAnswer{property("PrettyHostname"), property("StaticHostname")});
    });
}

} // namespace

std::optional<std::string> userFacingName(const HostNames& names) {
    for (const std::string* name : {&names.pretty, &names.staticName, &names.kernel}) {
        std::string trimmed = text::trimmedWhitespace(*name);
        if (!trimmed.empty()) return trimmed;
    }
    return std::nullopt;
}

HostNames currentNames(const std::filesystem::path& machineInfo) {
    HostNames names;
    names.kernel = QSysInfo::machineHostName().toStdString();
    std::optional<HostnamedAnswer> answer;
    {
        KeptAnswer& kept = keptAnswer();
        std::lock_guard lock(kept.mutex);
        answer = kept.answer;
    }
    if (answer) {
        names.pretty = answer->pretty;
        names.staticName = answer->staticName;
    } else {
        names.pretty = prettyNameInFile(machineInfo);
    }
    return names;
}

std::optional<std::string> computerName() { return userFacingName(currentNames()); }

Watch::Watch(std::optional<std::string> busAddress) {
    {
        KeptAnswer& kept = keptAnswer();
        std::lock_guard lock(kept.mutex);
        kept.keeper = this;
        kept.answer.reset();
    }
    system_bus::Watch::Handlers handlers;
    handlers.matches.push_back(std::string("type='signal',sender='") + hostnamedService + "',path='" + hostnamedPath +
                               "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'");
    handlers.connected = [this](system_bus::Connection& bus) { askHostnamed(bus, this); };
    handlers.signal = [this](system_bus::Connection& bus, sd_bus_message*) { askHostnamed(bus, this); };
    handlers.lost = [this] { keepAnswer(this, std::nullopt); };
    m_watch = std::make_unique<system_bus::Watch>(system_bus::systemAddress(busAddress),
                                                  std::move(handlers));
}

Watch::~Watch() {
    m_watch.reset();
    KeptAnswer& kept = keptAnswer();
    std::lock_guard lock(kept.mutex);
    if (kept.keeper != this) return;
    kept.keeper = nullptr;
    kept.answer.reset();
}

} // namespace velk::host_name
