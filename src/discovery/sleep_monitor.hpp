#pragma once
// Sleep and wake of the computer, from logind's PrepareForSleep signal on the system bus.
// Without a system bus there are simply no events.

#include <functional>

#include <QObject>

namespace velk {

class SleepMonitor final : public QObject {
    Q_OBJECT
public:
    // `onSleepOrWake` runs on the monitor's thread for both edges of PrepareForSleep.
    explicit SleepMonitor(std::function<void()> onSleepOrWake, QObject* parent = nullptr);
    bool isWatching() const { return m_watching; }

private Q_SLOTS:
    void prepareForSleep(bool sleeping);

private:
    std::function<void()> m_onSleepOrWake;
    bool m_watching = false;
};

} // namespace velk
