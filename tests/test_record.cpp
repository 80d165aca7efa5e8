#include "test_record.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace velk::test_record {

namespace {

std::string programPath() {
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path);
    return size > 0 ? std::string(path, static_cast<std::size_t>(size)) : std::string("unknown");
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\t' || c == '\r') c = ' ';
    return text;
}

// One line per case: program, suite.case, outcome, reason. Each process writes its own file with
// O_APPEND, so parallel runs and child runs never mix their lines.
void write(const std::string& caseName, const char* outcome, const std::string& reason) {
    const char* folder = std::getenv("VELK_TEST_RECORD");
    if (folder == nullptr || *folder == '\0') return;
    const std::string file = std::string(folder) + "/" + std::to_string(::getpid()) + ".tsv";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string line = programPath() + "\t" + caseName + "\t" + outcome + "\t" + oneLine(reason) + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

class Recorder final : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override {
        const ::testing::TestResult& result = *info.result();
        const std::string name = std::string(info.test_suite_name()) + "." + info.name();
        if (!result.Skipped()) return write(name, result.Failed() ? "failed" : "passed", "");
        std::string reason;
        for (int i = 0; i < result.total_part_count(); ++i)
            if (result.GetTestPartResult(i).skipped()) reason += result.GetTestPartResult(i).message();
        write(name, "skipped", reason);
    }
};

[[maybe_unused]] const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new Recorder);
    return true;
}();

} // namespace

std::string filterFor(const std::vector<std::string>& suites) {
    std::string filter = "--gtest_filter=";
    for (const std::string& suite : suites) filter += (filter.back() == '=' ? "" : ":") + suite + ".*";
    return filter;
}

int caseCount(const std::vector<std::string>& suites) {
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    int count = 0;
    for (int i = 0; i < unit.total_test_suite_count(); ++i)
        for (const std::string& name : suites)
            if (name == unit.GetTestSuite(i)->name()) count += unit.GetTestSuite(i)->total_test_count();
    return count;
}

void skipSuites(const std::vector<std::string>& suites, const std::string& reason) {
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    for (int i = 0; i < unit.total_test_suite_count(); ++i) {
        const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
        for (const std::string& name : suites) {
            if (name != suite.name()) continue;
            for (int j = 0; j < suite.total_test_count(); ++j)
                write(name + "." + suite.GetTestInfo(j)->name(), "skipped", reason);
        }
    }
}

} // namespace velk::test_record
