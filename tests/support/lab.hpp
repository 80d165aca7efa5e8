#pragma once
// Cases that run in the project's network lab (scripts/lab, root only): an outer case starts this
// program again in the lab's desk with a role variable set, and the desk case drives simulated
// phones, each in its own network namespace.

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "base/json.hpp"
#include "support/build_paths.hpp"
#include "support/child_process.hpp"

namespace velk::test {

inline std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

inline bool isLabDesk(const char* roleVariable) { return environment(roleVariable) == "lab-desk"; }

// Runs this program's cases matching `filter` in the desk of a lab with `phones` phones and
// `roleVariable` set to "lab-desk", and checks that they passed. Gives the reason to skip, if any.
inline std::optional<std::string> runInLabDesk(const char* roleVariable, const QString& filter, int phones,
                                               int timeoutMs) {
    if (!environment(roleVariable).empty()) return "part of another run";
    if (geteuid() != 0) return "the network lab needs root";
    QTemporaryDir folder;
    const std::string outputPath = folder.filePath("desk.log").toStdString();
    ChildProcess child({"env", std::string(roleVariable) + "=lab-desk", test::sourcePath("scripts/lab"), "run",
                        "--phones", std::to_string(phones), "--",
                        std::filesystem::read_symlink("/proc/self/exe").string(), "--gtest_filter=" + filter.toStdString()},
                       outputPath);
    std::optional<int> status = child.wait(timeoutMs);
    const bool finished = status.has_value();
    if (!finished) {
        ::kill(child.pid(), SIGTERM); // the lab script tears its lab down on TERM
        child.wait(20'000);
    }
    child.stop();
    std::ifstream in(outputPath);
    const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (finished && *status == 77) return output;
    EXPECT_TRUE(finished) << output;
    EXPECT_EQ(status.value_or(-1), 0) << output;
    EXPECT_EQ(output.find("[  FAILED  ]"), std::string::npos) << output;
    EXPECT_NE(output.find("[       OK ]"), std::string::npos) << output; // ran, not skipped
    return std::nullopt;
}

// A simulated phone (tests/sim/sim_camera.py) in the lab's namespace phone<number>, at
// 10.77.0.<10 + number>, logging its events to `log` when one is given.
class LabPhone {
public:
    LabPhone(int number, QStringList arguments, QString log = {})
        : m_number(number), m_arguments(std::move(arguments)), m_log(std::move(log)) {
        if (!m_log.isEmpty()) m_arguments << "--log" << m_log;
        start();
    }
    ~LabPhone() { kill(); }
    void start() {
        std::vector<std::string> argv = {environment("VELK_LAB_SCRIPT"),
                                         "exec",
                                         environment("VELK_LAB"),
                                         "phone" + std::to_string(m_number),
                                         "--",
                                         "/usr/bin/python3",
                                         test::sourcePath("tests/sim/sim_camera.py"),
                                         "--address",
                                         host(),
                                         "--desk",
                                         environment("VELK_LAB_DESK")};
        for (const QString& argument : m_arguments) argv.push_back(argument.toStdString());
        m_process = std::make_unique<ChildProcess>(argv, "");
    }
    // Ends the phone at once, mid-stream if it streams.
    void kill() {
        if (!m_process) return;
        if (m_process->pid() > 0) ::kill(m_process->pid(), SIGKILL);
        m_process.reset();
    }
    std::string host() const { return "10.77.0." + std::to_string(10 + m_number); }
    std::vector<Json> events(const std::string& kind) const {
        std::vector<Json> found;
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly)) return found;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const std::optional<Json> entry = json::tryParse(line.toStdString());
            if (entry && entry->is_object() && entry->value("event", "") == kind) found.push_back(*entry);
        }
        return found;
    }

private:
    int m_number;
    QStringList m_arguments;
    QString m_log;
    std::unique_ptr<ChildProcess> m_process;
};

} // namespace velk::test
