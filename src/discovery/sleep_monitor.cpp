#include "discovery/sleep_monitor.hpp"

#include "base/executor.hpp"
#include "base/system_bus.hpp"

namespace velk {

namespace {

constexpr const char* prepareForSleepRule =
    "type='signal',sender='org.freedesktop.login1',path='/org/freedesktop/login1',"
    "interface='org.freedesktop.login1.Manager',member='PrepareForSleep'";

} // namespace

SleepMonitor::SleepMonitor(std::function<void()> onSleepOrWake, std::optional<std::string> busAddress, QObject* parent)
    : QObject(parent), m_onSleepOrWake(std::move(onSleepOrWake)) {
    system_bus::Watch::Handlers handlers;
    handlers.matches.emplace_back(prepareForSleepRule);
    // The watch ends before this object does, so nothing is posted to it afterwards.
    handlers.signal = [this](system_bus::Connection&, sd_bus_message*) {
        postTo(this, [this] {
            if (m_onSleepOrWake) m_onSleepOrWake();
        });
    };
    m_watch = std::make_unique<system_bus::Watch>(system_bus::systemAddress(busAddress),
                                                  std::move(handlers));
}

SleepMonitor::~SleepMonitor() = default;

} // namespace velk
