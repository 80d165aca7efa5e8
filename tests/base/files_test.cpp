#include "base/files.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "support/refused_calls.hpp"

namespace velk::files {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "velk-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_root, ignored);
    }

    static void put(const fs::path& path, const std::string& contents) { std::ofstream(path, std::ios::binary) << contents; }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : fs::directory_iterator(m_root)) out.insert(entry.path().filename().string());
        return out;
    }
    // The errno of the std::system_error that `action` throws; 0 when it succeeds.
    static int errorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const std::system_error& error) {
            return error.code().value();
        }
        return 0;
    }

    fs::path m_root;
};

TEST_F(FilesTest, AtomicWriteReplacesTheWholeFileOrNothing) {
    const fs::path target = m_root / "library.json";
    for (const std::string& contents : {std::string("first version, rather long"), std::string("short"),
                                        std::string(), std::string(200'000, 'x')}) {
        writeAtomically(target, contents);
        EXPECT_EQ(readAll(target), contents);
        EXPECT_EQ(names(), std::set<std::string>{"library.json"}); // no temporary file is left
    }
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    writeAtomically(target, "new");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // A folder cannot be replaced by a file: the rename fails after the write.
    ASSERT_TRUE(fs::create_directory(m_root / "taken"));
    put(m_root / "taken" / "inside", "kept");
    EXPECT_EQ(errorOf([&] { writeAtomically(m_root / "taken", "new"); }), EISDIR);
    EXPECT_EQ(readAll(m_root / "taken" / "inside"), "kept");
    // A parent that is a regular file fails before anything is written.
    EXPECT_EQ(errorOf([&] { writeAtomically(target / "child", "other"); }), ENOTDIR);
    EXPECT_EQ(readAll(target), "new");
    EXPECT_EQ(names(), (std::set<std::string>{"library.json", "taken"}));

    if (::geteuid() != 0) { // folder permissions do not stop root's writes
        fs::permissions(m_root, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(errorOf([&] { writeAtomically(target, "refused"); }), EACCES);
        fs::permissions(m_root, fs::perms::owner_all);
        EXPECT_EQ(readAll(target), "new");
        EXPECT_EQ(names(), (std::set<std::string>{"library.json", "taken"}));
    }
}

// A write killed half way leaves its temporary file; the sweep of that file's folder removes such
// files and nothing that merely looks like one.
TEST_F(FilesTest, StaleTemporariesOfOneFileGoAndLookAlikesStay) {
    const fs::path target = m_root / "library.json";
    put(target, "{}");
    // A real interrupted write: the file size limit kills the writer in the middle of its write.
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            writeAtomically(target, std::string(1 << 20, 'x'));
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    const std::set<std::string> afterKill = names();
    ASSERT_EQ(afterKill.size(), 2u);
    const std::string interrupted = *afterKill.begin(); // "." sorts before "l"
    ASSERT_TRUE(isTemporaryNameFor(interrupted, "library.json")) << interrupted;

    const std::string hex = "0123456789abcdef";
    put(m_root / ("outside-" + hex), "target of a link");
    struct Item {
        std::string name;
        char kind; // f: file, d: folder, l: link to a file outside
        bool stays;
    };
    const std::vector<Item> items = {
        {".library.json.tmp-" + hex, 'f', false},
        {".library.json.tmp-ffffffffffffffff", 'f', false},
        {".library.json.tmp-0123456789ABCDEF", 'f', true}, // the helper writes lower case only
        {".library.json.tmp-0123456789abcde", 'f', true},
        {".library.json.tmp-0123456789abcdef0", 'f', true},
        {".library.json.tmp-0123456789abcdeg", 'f', true},
        {"library.json.tmp-" + hex, 'f', true},
        {".library.json.tmp" + hex, 'f', true},
        {".library.jsonXtmp-" + hex, 'f', true},
        {".library.json.new-" + hex, 'f', true},
        {".collector-id.txt.tmp-" + hex, 'f', true}, // another file's write
        {".library.json.tmp-aaaaaaaaaaaaaaaa", 'd', true},
        {".library.json.tmp-bbbbbbbbbbbbbbbb", 'l', true},
    };
    for (const Item& item : items) {
        const fs::path path = m_root / item.name;
        if (item.kind == 'f') put(path, "x");
        if (item.kind == 'd') fs::create_directory(path);
        if (item.kind == 'l') fs::create_symlink(m_root / ("outside-" + hex), path);
    }

    EXPECT_EQ(removeStaleTemporaries(target), 3u);
    for (const Item& item : items) {
        EXPECT_EQ(fs::exists(fs::symlink_status(m_root / item.name)), item.stays) << item.name;
    }
    EXPECT_FALSE(fs::exists(m_root / interrupted));
    EXPECT_EQ(readAll(target), "{}");
    EXPECT_EQ(readAll(m_root / ("outside-" + hex)), "target of a link");
    // Nothing to do, and no folder at all, are no failures.
    EXPECT_EQ(removeStaleTemporaries(target), 0u);
    EXPECT_EQ(removeStaleTemporaries(m_root / "missing" / "library.json"), 0u);
}

TEST_F(FilesTest, MoveNeverReplacesAnExistingDestination) {
    const fs::path from = m_root / "clip.mov.part";
    const fs::path to = m_root / "clip.mov";
    put(from, "new bytes");
    put(to, "existing bytes");
    EXPECT_EQ(errorOf([&] { moveNoReplace(from, to); }), EEXIST);
    EXPECT_EQ(readAll(from), "new bytes");
    EXPECT_EQ(readAll(to), "existing bytes");

    fs::remove(to);
    moveNoReplace(from, to);
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(readAll(to), "new bytes");
    EXPECT_EQ(errorOf([&] { moveNoReplace(m_root / "missing", m_root / "elsewhere"); }), ENOENT);
    EXPECT_FALSE(fs::exists(m_root / "elsewhere"));
}

TEST_F(FilesTest, AFolderMovesWholeAndNeverReplacesAnotherOne) {
    const fs::path from = m_root / ".package.tmp";
    fs::create_directory(from);
    put(from / "timeline.fcpxml", "whole");
    // Not even an empty folder or a link is replaced.
    fs::create_directory(m_root / "empty");
    fs::create_directory_symlink(m_root / "empty", m_root / "link");
    for (const char* taken : {"empty", "link"}) {
        EXPECT_EQ(errorOf([&] { moveNoReplace(from, m_root / taken); }), EEXIST) << taken;
        EXPECT_EQ(readAll(from / "timeline.fcpxml"), "whole");
    }
    EXPECT_TRUE(fs::is_empty(m_root / "empty"));
    moveNoReplace(from, m_root / "package");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(readAll(m_root / "package" / "timeline.fcpxml"), "whole");
}

// Runs `action` on a thread of its own on which renameat2 fails with EINVAL, as on a file system
// that has no exclusive rename (network shares, many FUSE file systems).
void withoutExclusiveRename(const std::function<void()>& action) {
    test::withRefusedCalls({{SYS_renameat2, EINVAL}}, [&] {
        ASSERT_NE(::syscall(SYS_renameat2, AT_FDCWD, "/nonexistent-a", AT_FDCWD, "/nonexistent-b", 1), 0);
        ASSERT_EQ(errno, EINVAL);
        action();
    });
}

TEST_F(FilesTest, WithoutAnExclusiveRenameFilesAndFoldersStillMoveOnlyToNewNames) {
    withoutExclusiveRename([&] {
        put(m_root / "clip.mov.part", "new bytes");
        put(m_root / "clip.mov", "existing bytes");
        EXPECT_EQ(errorOf([&] { moveNoReplace(m_root / "clip.mov.part", m_root / "clip.mov"); }), EEXIST);
        EXPECT_EQ(readAll(m_root / "clip.mov"), "existing bytes");
        moveNoReplace(m_root / "clip.mov.part", m_root / "clip-2.mov");
        EXPECT_EQ(readAll(m_root / "clip-2.mov"), "new bytes");

        const fs::path from = m_root / ".package.tmp";
        fs::create_directory(from);
        put(from / "timeline.fcpxml", "whole");
        fs::create_directory(m_root / "empty");
        EXPECT_EQ(errorOf([&] { moveNoReplace(from, m_root / "empty"); }), EEXIST);
        EXPECT_EQ(readAll(from / "timeline.fcpxml"), "whole");
        EXPECT_TRUE(fs::is_empty(m_root / "empty"));
        moveNoReplace(from, m_root / "package");
        EXPECT_FALSE(fs::exists(from));
        EXPECT_EQ(readAll(m_root / "package" / "timeline.fcpxml"), "whole");
        EXPECT_EQ(names(), (std::set<std::string>{"clip-2.mov", "clip.mov", "empty", "package"}));
    });
}

TEST_F(FilesTest, ExclusiveFilesAndNewFoldersFailOnAnExistingPath) {
    const fs::path path = m_root / "collector-id.txt";
    {
        UniqueFd fd = createExclusive(path);
        ASSERT_EQ(::write(fd.get(), "abc", 3), 3);
    }
    EXPECT_EQ(errorOf([&] { createExclusive(path); }), EEXIST);
    EXPECT_EQ(readAll(path), "abc");
    EXPECT_EQ(errorOf([&] { createExclusive(m_root / "no-folder" / "x"); }), ENOENT);
    struct stat info {};
    ASSERT_EQ(::fstat(createExclusive(m_root / "secret", 0600).get(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    makeNewDirectory(m_root / "Export 1");
    EXPECT_TRUE(fs::is_directory(m_root / "Export 1"));
    EXPECT_EQ(errorOf([&] { makeNewDirectory(m_root / "Export 1"); }), EEXIST);
    EXPECT_EQ(errorOf([&] { makeNewDirectory(path); }), EEXIST);
    EXPECT_EQ(errorOf([&] { makeNewDirectory(m_root / "a" / "b"); }), ENOENT);
}

TEST_F(FilesTest, ReadingHonoursTheLimitAndSyncingNeedsAnExistingFolder) {
    put(m_root / "doc", "0123456789");
    put(m_root / "empty", "");
    EXPECT_EQ(readAll(m_root / "doc"), "0123456789");
    EXPECT_EQ(readAll(m_root / "doc", 10), "0123456789");
    EXPECT_THROW(readAll(m_root / "doc", 9), std::length_error);
    EXPECT_EQ(readAll(m_root / "empty", 0), "");
    EXPECT_EQ(errorOf([&] { readAll(m_root / "missing"); }), ENOENT);
    EXPECT_EQ(errorOf([&] { readAll(m_root); }), EISDIR);

    EXPECT_EQ(errorOf([&] { syncDirectory(m_root); }), 0);
    EXPECT_EQ(errorOf([&] { syncDirectory(m_root / "missing"); }), ENOENT);
    EXPECT_EQ(errorOf([] { syncFd(-1); }), EBADF);
}

TEST(UniqueFdOwnership, ClosesExactlyOnce) {
    const int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        UniqueFd first(raw);
        UniqueFd second = std::move(first);
        EXPECT_FALSE(first.valid());
        UniqueFd third;
        third = std::move(second);
        EXPECT_EQ(third.get(), raw);
        EXPECT_GE(::fcntl(raw, F_GETFD), 0);
    }
    EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);

    UniqueFd held(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int released = held.release();
    EXPECT_FALSE(held.valid());
    EXPECT_GE(::fcntl(released, F_GETFD), 0);
    ::close(released);
}

} // namespace
} // namespace velk::files
