#pragma once
// Helpers shared by the discovery tests that run an event loop or start child runs of this
// program (inside a private network namespace, the lab, or without a system bus).

#include <cstdlib>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcessEnvironment>

namespace velk::discovery_test {

inline std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A Qt application for the cases that need an event loop, unless one exists.
class EventLoop {
public:
    EventLoop() {
        if (!QCoreApplication::instance()) m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
    }
    // Runs events until `done()` holds or the time is up; returns `done()`.
    template <class Done>
    bool runUntil(Done done, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    void runFor(int ms) {
        runUntil([] { return false; }, ms);
    }

private:
    int m_argc = 1;
    char m_name[16] = "discovery-test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};

struct ChildRun {
    bool finished = false;
    int status = -1;
    std::string output;
};

// Runs a child process to its end; one still running after `timeoutMs` is sent TERM (the lab
// script tears its lab down on TERM), then KILL.
ChildRun runChild(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
                  int timeoutMs);

// This test program, for child runs of it.
std::string thisProgram();

} // namespace velk::discovery_test
