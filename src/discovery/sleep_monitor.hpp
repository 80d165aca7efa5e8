#pragma once
// Sleep and wake of the computer, from logind's PrepareForSleep signal on the system bus. The bus
// is watched on a thread of its own, which connects whenever the bus lets it in: without a system
// bus, or with one that does not answer, there are simply no events, and making or ending the
// monitor never waits for the bus.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>

namespace velk {

namespace system_bus {
class Watch;
}

class SleepMonitor final : public QObject {
    Q_OBJECT
public:
    // `onSleepOrWake` runs on the monitor's thread for both edges of PrepareForSleep. The system
    // bus unless `busAddress` names another (tests).
    explicit SleepMonitor(std::function<void()> onSleepOrWake, std::optional<std::string> busAddress = std::nullopt,
                          QObject* parent = nullptr);
    ~SleepMonitor() override;

private:
    std::function<void()> m_onSleepOrWake;
    std::unique_ptr<system_bus::Watch> m_watch;
};

} // namespace velk
