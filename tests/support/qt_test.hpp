#pragma once
// Shared by the test programs: one Qt application on the offscreen platform, waiting on its event
// loop, and the sentence an operation throws.

#include <exception>
#include <functional>
#include <string>

#include <QDeadlineTimer>
#include <QGuiApplication>

namespace velk::test {

// Widget tests pass QApplication.
template <class Application = QGuiApplication>
void ensureApplication() {
    if (QCoreApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "velk-tests";
    static char* argv[] = {name, nullptr};
    new Application(argc, argv);
}

// Runs events until `done()` holds or the time is up; returns `done()`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

inline void runFor(int ms) { waitUntil([] { return false; }, ms); }

// The sentence of what `operation` throws; empty when it throws nothing.
inline std::string thrownWhat(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

} // namespace velk::test
