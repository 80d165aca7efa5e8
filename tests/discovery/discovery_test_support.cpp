#include "discovery_test_support.hpp"

#include <unistd.h>

namespace velk::discovery_test {

ChildRun runChild(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
                  int timeoutMs) {
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(program, arguments);
    ChildRun run;
    if (!child.waitForStarted()) return run;
    run.finished = child.waitForFinished(timeoutMs);
    if (!run.finished) {
        child.terminate();
        if (!child.waitForFinished(20'000)) child.kill();
        child.waitForFinished(5'000);
    }
    run.status = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    run.output = child.readAll().toStdString();
    return run;
}

std::string thisProgram() { return "/proc/" + std::to_string(getpid()) + "/exe"; }

} // namespace velk::discovery_test
