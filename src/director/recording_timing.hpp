#pragma once
// Time limits of a recorded take and the per-camera clock estimate that lets every camera start at
// one instant although each phone runs its own monotonic clock. All times are milliseconds.

#include <array>
#include <cstddef>
#include <limits>

namespace velk {

namespace RecordingTiming {

// How long the preparing phase waits for every camera's preparation proof.
inline constexpr double directorPrepare = 12000;
// How long a preparation proof holds: a start is scheduled only while proof age + startLead stays below it.
inline constexpr double reservation = 30000;
// The start instant lies this far after the moment the start is scheduled.
inline constexpr double startLead = 2500;
// Window after scheduling in which every camera must acknowledge the start.
inline constexpr double startACK = 1200;
// Elapsed times after a tracked stop at which an unacknowledged STOP_TAKE is repeated.
inline constexpr std::array<double, 4> stopRetries{250, 600, 1200, 2200};
// Elapsed time after which a still unacknowledged tracked stop is reported unconfirmed.
inline constexpr double stopACK = 3500;

// Clock pings go to every online camera this often.
inline constexpr double clockPingInterval = 1000;
// An outstanding clock ping is forgotten this long after it was sent.
inline constexpr double pingExpiry = 3000;
// Time allowed after begin for every camera clock to become usable.
inline constexpr double clockDeadline = 6000;
// PREPARE_TAKE is repeated this often until a camera has proven the assignment.
inline constexpr double prepareInterval = 250;
// START_AT goes out at these offsets after scheduling: three sends, each with the same times.
inline constexpr std::array<double, 3> startSendOffsets{0, 200, 400};
// Every camera must be seen recording within this time after the start instant.
inline constexpr double recordingConfirmation = 6500;
// CANCEL_TAKE goes out at these offsets after a cancellation: three sends in all.
inline constexpr std::array<double, 3> cancelRepeats{0, 200, 500};
// A camera whose last status is this old or older counts as offline.
inline constexpr double peerOnline = 6500;

} // namespace RecordingTiming

// One camera's clock offset from the Director's clock, from four-timestamp clock pings.
struct DirectorClockEstimate {
    // A sample whose round trip exceeds this is discarded.
    static constexpr double maximumSampleRTT = 500;
    // A gap longer than this since the last accepted sample starts a new run.
    static constexpr double runGap = 12000;
    // The kept offset may be replaced by a slower sample once it is older than this.
    static constexpr double bestSampleRefresh = 6000;
    static constexpr int maximumSamples = 20;
    static constexpr int usableSamples = 3;
    static constexpr double usableRTT = 150;
    static constexpr double usableAge = 12000;

    double offset = 0;                                          // camera clock minus Director clock
    double rtt = std::numeric_limits<double>::infinity();       // round trip of the sample that set offset
    int samples = 0;                                            // accepted samples in the current run
    double updated = -std::numeric_limits<double>::infinity();  // Director time of the last accepted sample
    double bestAt = -std::numeric_limits<double>::infinity();   // Director time offset was last set

    // t1: Director send time, t2: camera receive time, t3: camera reply time, t4: Director receive time.
    void observe(double t1, double t2, double t3, double t4);
    bool usable(double now) const;

    bool operator==(const DirectorClockEstimate&) const = default;
};

} // namespace velk
