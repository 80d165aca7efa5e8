#pragma once
// Every test program records how each of its cases ended when VELK_TEST_RECORD names a folder:
// run (passed or failed), or skipped and why. scripts/test then fails on any case that was neither
// run nor skipped with a reason. A case that only runs inside a child run of its program (a private
// network namespace, the lab) skips elsewhere with a text beginning "runs only ", which is no
// reason: the child run must run it, or the case that starts the child run must skip it by name.

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velk::test_record {

// "--gtest_filter=A.*:B.*" for a child run of these suites.
std::string filterFor(const std::vector<std::string>& suites);

// How many cases these suites hold in this program.
int caseCount(const std::vector<std::string>& suites);

// Records every case of these suites as skipped for `reason`; for a case that would have started
// a child run of them and cannot.
void skipSuites(const std::vector<std::string>& suites, const std::string& reason);

} // namespace velk::test_record

// Skips the current case and the child run's suites with one reason.
#define VELK_SKIP_CHILD_RUN(suites, reason)                                                        \
    do {                                                                                           \
        const std::string velkSkipReason_ = (reason);                                              \
        ::velk::test_record::skipSuites(suites, velkSkipReason_);                                  \
        GTEST_SKIP() << velkSkipReason_;                                                           \
    } while (false)
