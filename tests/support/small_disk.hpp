#pragma once
// Cases on a small disk of their own: an outer case runs this program's named suites again in a
// private mount namespace (`unshare -m`, root only), where a 20 MiB tmpfs is mounted over a new
// folder; the child run finds that folder in VELK_SMALL_DISK. The mount is never seen outside the
// child run, and it goes with it. A disk of few files (a tmpfs with `nr_inodes`) runs out of files
// and folders long before it runs out of bytes.

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_record.hpp"

namespace velk::test {

inline constexpr std::int64_t smallDiskBytes = 20 << 20;

// The small disk's folder inside a child run; empty elsewhere.
inline std::filesystem::path smallDisk() {
    const char* folder = std::getenv("VELK_SMALL_DISK");
    return folder ? std::filesystem::path(folder) : std::filesystem::path();
}

// Leaves the small disk empty for the next case.
inline void emptySmallDisk() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(smallDisk(), ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

// Writes a file "filler" on the small disk until only `bytesLeft` bytes are free there, as another
// program filling the disk would.
inline void fillSmallDiskLeaving(std::int64_t bytesLeft) {
    struct statvfs disk {};
    ASSERT_EQ(::statvfs(smallDisk().c_str(), &disk), 0);
    const auto free = static_cast<std::int64_t>(disk.f_bavail * disk.f_frsize);
    ASSERT_GE(free, bytesLeft);
    std::ofstream filler(smallDisk() / "filler", std::ios::binary | std::ios::app);
    const std::string block(1 << 16, '\0');
    for (std::int64_t left = free - bytesLeft; left > 0; left -= static_cast<std::int64_t>(block.size())) {
        filler.write(block.data(), static_cast<std::streamsize>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size()))));
    }
    filler.close();
    ASSERT_TRUE(filler.good());
}

// Makes empty files in a folder "files" on the small disk until it holds no more, as another
// program's many small files would, then removes `filesLeft` of them again.
inline void useUpSmallDiskFilesLeaving(std::size_t filesLeft) {
    const std::filesystem::path folder = smallDisk() / "files";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    std::vector<std::filesystem::path> made;
    for (;;) {
        const std::filesystem::path next = folder / std::to_string(made.size());
        const int fd = ::open(next.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            ASSERT_EQ(errno, ENOSPC) << next;
            break;
        }
        ::close(fd);
        made.push_back(next);
        ASSERT_LT(made.size(), 100'000u) << "the small disk has no limit on files";
    }
    ASSERT_GE(made.size(), filesLeft);
    for (; filesLeft > 0; --filesLeft, made.pop_back()) std::filesystem::remove(made.back());
}

namespace small_disk_detail {

inline std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace small_disk_detail

// Runs the cases of `suites` on the small disk (holding at most `files` files and folders, when
// given) and checks that every one of them passed. Gives the reason to skip, if any.
inline std::optional<std::string> runOnSmallDisk(const std::vector<std::string>& suites,
                                                 std::optional<int> files = std::nullopt) {
    using small_disk_detail::shellQuoted;
    if (::geteuid() != 0) return "a private mount namespace needs root";
    std::string folder = (std::filesystem::temp_directory_path() / "velk-small-disk-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return "no temporary folder for the small disk";
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    // In the namespace: $0 the folder, $1 the program, $2 its filter.
    const std::string fileLimit = files ? ",nr_inodes=" + std::to_string(*files) : "";
    const std::string script = "mount -t tmpfs -o size=" + std::to_string(smallDiskBytes >> 20) + "m" + fileLimit +
                               ",mode=0755 velk-small-disk \"$0\" || { echo 'small disk: mount failed'; exit 77; }; "
                               "VELK_SMALL_DISK=\"$0\" exec \"$1\" \"$2\"";
    const std::string command = "unshare -m -- sh -c " + shellQuoted(script) + " " + shellQuoted(folder) + " " +
                                shellQuoted(program) + " " + shellQuoted(test_record::filterFor(suites)) + " 2>&1";
    std::string output;
    int status = -1;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
        status = ::pclose(pipe);
    }
    ::rmdir(folder.c_str());
    const bool unavailable = WIFEXITED(status) && WEXITSTATUS(status) == 77;
    if (unavailable || output.find("unshare failed") != std::string::npos) return output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_EQ(output.find("[  FAILED  ]"), std::string::npos) << output;
    const std::string passed = "[  PASSED  ] " + std::to_string(test_record::caseCount(suites)) + " test";
    EXPECT_NE(output.find(passed), std::string::npos) << "every case of the suites runs:\n" << output;
    return std::nullopt;
}

} // namespace velk::test
