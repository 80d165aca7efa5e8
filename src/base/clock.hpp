#pragma once
// Injectable time: wall time for expiry and dates, monotonic milliseconds for protocol timers.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace velk {

using WallTime = std::chrono::system_clock::time_point;

// Milliseconds since boot from CLOCK_MONOTONIC, as a double.
double monotonicNowMs();
// Wall-clock milliseconds since 1970; a fraction of a millisecond is cut off toward zero.
std::int64_t wallNowMs();
std::int64_t toWallMs(WallTime time);
WallTime fromWallMs(std::int64_t ms);

class Clock {
public:
    virtual ~Clock() = default;
    virtual WallTime now() const = 0;
    virtual double monotonicMs() const = 0;
};

class SystemClock final : public Clock {
public:
    WallTime now() const override { return std::chrono::system_clock::now(); }
    double monotonicMs() const override { return monotonicNowMs(); }
    static const SystemClock& shared();
};

// A clock that moves only when told to; for tests. A test thread may move it while a service
// thread reads it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(WallTime wall = WallTime{}, double monotonic = 0)
        : m_wall(wall.time_since_epoch().count()), m_monotonic(monotonic) {}
    WallTime now() const override { return WallTime(WallTime::duration(m_wall.load())); }
    double monotonicMs() const override { return m_monotonic.load(); }
    void setWall(WallTime wall) { m_wall = wall.time_since_epoch().count(); }
    void setMonotonicMs(double ms) { m_monotonic = ms; }
    // Moves both clocks; one caller at a time.
    void advanceMs(double ms) {
        m_monotonic = m_monotonic.load() + ms;
        m_wall += std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double, std::milli>(ms)).count();
    }
private:
    std::atomic<WallTime::rep> m_wall;
    std::atomic<double> m_monotonic;
};

} // namespace velk
