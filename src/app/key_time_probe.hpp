#pragma once
// For the soak benchmark: when VELK_REPORT_KEYS is set, every key press the application handles
// writes "key NAME MS" on standard output once its handling has finished, MS being the monotonic
// clock in milliseconds (CLOCK_MONOTONIC, the clock a driver on the same machine reads). Under a
// screen reader's bridge a press can be seen twice (before the bridge holds it and when it is sent
// again); the last line of a press is when it took effect.

class QObject;

namespace velk {

void reportKeyTimesIfAsked(QObject* application);

} // namespace velk
