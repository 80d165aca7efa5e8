#include "discovery_test_support.hpp"

#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include <unistd.h>

#include <QTemporaryDir>

#include "support/child_process.hpp"

namespace velk::discovery_test {

ChildRun runChild(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
                  int timeoutMs) {
    // The child gets exactly `env`: env(1) clears the inherited one and sets each variable.
    std::vector<std::string> argv = {"env", "-i"};
    for (const QString& variable : env.toStringList()) argv.push_back(variable.toStdString());
    argv.push_back(program.toStdString());
    for (const QString& argument : arguments) argv.push_back(argument.toStdString());
    QTemporaryDir folder;
    const std::string outputPath = folder.filePath("output").toStdString();
    test::ChildProcess child(argv, outputPath);
    ChildRun run;
    const std::optional<int> status = child.wait(timeoutMs);
    run.finished = status.has_value();
    if (!run.finished) {
        ::kill(child.pid(), SIGTERM);
        child.wait(20'000);
    }
    child.stop();
    run.status = status.value_or(-1);
    std::ifstream in(outputPath);
    run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

std::string thisProgram() { return "/proc/" + std::to_string(getpid()) + "/exe"; }

} // namespace velk::discovery_test
