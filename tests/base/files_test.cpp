#include "base/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

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

    static void put(const fs::path& path, const std::string& contents) {
        std::ofstream out(path, std::ios::binary);
        out << contents;
    }
    static std::string get(const fs::path& path) { return readAll(path); }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : fs::directory_iterator(m_root)) out.insert(entry.path().filename().string());
        return out;
    }
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

TEST_F(FilesTest, AtomicWriteReplacesTheWholeFileAndLeavesNoTemporaryFile) {
    const fs::path target = m_root / "library.json";
    struct Step { std::string contents; };
    const Step steps[] = {{"first version, rather long"}, {"short"}, {""}, {std::string(200'000, 'x')}};
    for (const auto& step : steps) {
        writeAtomically(target, step.contents);
        EXPECT_EQ(get(target), step.contents);
        EXPECT_EQ(names(), std::set<std::string>{"library.json"});
    }
}

TEST_F(FilesTest, AtomicWriteKeepsThePermissionsOfTheReplacedFile) {
    const fs::path target = m_root / "trusted-cameras-v1.json";
    put(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    writeAtomically(target, "new");
    EXPECT_EQ(get(target), "new");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FilesTest, AtomicWriteFailureLeavesTheOldContentsAndNoTemporaryFile) {
    // A target that is a folder cannot be replaced by a file: the rename fails after the write.
    const fs::path folder = m_root / "taken";
    ASSERT_TRUE(fs::create_directory(folder));
    put(folder / "inside", "kept");
    EXPECT_EQ(errorOf([&] { writeAtomically(folder, "new"); }), EISDIR);
    EXPECT_EQ(get(folder / "inside"), "kept");
    EXPECT_EQ(names(), std::set<std::string>{"taken"});

    // A parent that is a regular file fails before anything is written.
    put(m_root / "plain", "old");
    EXPECT_EQ(errorOf([&] { writeAtomically(m_root / "plain" / "child", "new"); }), ENOTDIR);
    EXPECT_EQ(get(m_root / "plain"), "old");
}

TEST_F(FilesTest, AtomicWriteInReadOnlyFolderKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: folder permissions do not stop root's writes";
    const fs::path target = m_root / "library.json";
    writeAtomically(target, "old");
    fs::permissions(m_root, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(errorOf([&] { writeAtomically(target, "new"); }), EACCES);
    fs::permissions(m_root, fs::perms::owner_all);
    EXPECT_EQ(get(target), "old");
    EXPECT_EQ(names(), std::set<std::string>{"library.json"});
}

TEST_F(FilesTest, MoveNeverReplacesAnExistingDestination) {
    const fs::path from = m_root / "clip.mov.part";
    const fs::path to = m_root / "clip.mov";
    put(from, "new bytes");
    put(to, "existing bytes");
    EXPECT_EQ(errorOf([&] { moveNoReplace(from, to); }), EEXIST);
    EXPECT_EQ(get(from), "new bytes");
    EXPECT_EQ(get(to), "existing bytes");

    fs::remove(to);
    moveNoReplace(from, to);
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(get(to), "new bytes");

    EXPECT_EQ(errorOf([&] { moveNoReplace(m_root / "missing", m_root / "elsewhere"); }), ENOENT);
    EXPECT_FALSE(fs::exists(m_root / "elsewhere"));
}

TEST_F(FilesTest, ExclusiveCreationFailsOnAnExistingPath) {
    const fs::path path = m_root / "collector-id.txt";
    {
        UniqueFd fd = createExclusive(path);
        ASSERT_TRUE(fd.valid());
        ASSERT_EQ(::write(fd.get(), "abc", 3), 3);
    }
    EXPECT_EQ(get(path), "abc");
    EXPECT_EQ(errorOf([&] { createExclusive(path); }), EEXIST);
    EXPECT_EQ(get(path), "abc");
    EXPECT_EQ(errorOf([&] { createExclusive(m_root / "no-folder" / "x"); }), ENOENT);

    struct stat info {};
    UniqueFd restricted = createExclusive(m_root / "secret", 0600);
    ASSERT_EQ(::fstat(restricted.get(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(FilesTest, NewDirectoryMustNotExist) {
    const fs::path folder = m_root / "Export 1";
    makeNewDirectory(folder);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(errorOf([&] { makeNewDirectory(folder); }), EEXIST);
    put(m_root / "file", "x");
    EXPECT_EQ(errorOf([&] { makeNewDirectory(m_root / "file"); }), EEXIST);
    EXPECT_EQ(errorOf([&] { makeNewDirectory(m_root / "a" / "b"); }), ENOENT);
}

TEST_F(FilesTest, ReadAllHonoursTheLimit) {
    const fs::path path = m_root / "doc";
    put(path, "0123456789");
    EXPECT_EQ(readAll(path), "0123456789");
    EXPECT_EQ(readAll(path, 10), "0123456789");
    EXPECT_THROW(readAll(path, 9), std::length_error);
    put(m_root / "empty", "");
    EXPECT_EQ(readAll(m_root / "empty", 0), "");
    EXPECT_EQ(errorOf([&] { readAll(m_root / "missing"); }), ENOENT);
    EXPECT_EQ(errorOf([&] { readAll(m_root); }), EISDIR);
}

TEST_F(FilesTest, SyncingNeedsAnExistingFolder) {
    EXPECT_NO_THROW(syncDirectory(m_root));
    EXPECT_EQ(errorOf([&] { syncDirectory(m_root / "missing"); }), ENOENT);
    EXPECT_EQ(errorOf([] { syncFd(-1); }), EBADF);
}

TEST(UniqueFdOwnership, ClosesExactlyOnce) {
    int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        UniqueFd first(raw);
        UniqueFd second = std::move(first);
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(second.get(), raw);
        UniqueFd third;
        third = std::move(second);
        EXPECT_EQ(third.get(), raw);
        EXPECT_GE(::fcntl(raw, F_GETFD), 0);
    }
    EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);

    int other = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    UniqueFd held(other);
    int released = held.release();
    EXPECT_FALSE(held.valid());
    EXPECT_GE(::fcntl(released, F_GETFD), 0);
    ::close(released);
}

} // namespace
} // namespace velk::files
