#include "export/drift_engine.hpp"

#include <sys/stat.h>
#include <system_error>

#include <gtest/gtest.h>

#include "export_test_support.hpp"

namespace velk {
namespace {

using testing::TempFolder;

TEST(FileDigest, PublishedVectors) {
    struct Case { std::string content; const char* digest; };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        const auto file = folder / "vector.bin";
        testing::writeBytes(file, c.content);
        EXPECT_EQ(DriftEngine::sha256(file), c.digest) << c.content.size() << " bytes";
    }
}

TEST(FileDigest, ReadsAroundTheBufferSizeMatchOneShotDigests) {
    TempFolder folder;
    for (std::size_t size : {std::size_t{1'048'575}, std::size_t{1'048'576}, std::size_t{1'048'577},
                             std::size_t{3 * 1'048'576 + 17}}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
        const auto file = folder / ("size-" + std::to_string(size));
        testing::writeBytes(file, content);
        EXPECT_EQ(DriftEngine::sha256(file), testing::oneShotSha256(content)) << size;
    }
}

TEST(FileDigest, TextIsSixtyFourLowerCaseHexCharacters) {
    TempFolder folder;
    const auto file = folder / "high-bytes.bin";
    testing::writeBytes(file, std::string(300, '\xFF'));
    const std::string digest = DriftEngine::sha256(file);
    ASSERT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
}

TEST(FileDigest, UnopenablePathsAreReportedAsMissingNeverHashedAsEmpty) {
    TempFolder folder;
    testing::writeBytes(folder / "plain.txt", "x");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    const std::filesystem::path paths[] = {
        folder / "absent.mov",
        folder.path(),                         // a folder opens for reading but is not a file
        folder / "plain.txt" / "below-a-file", // ENOTDIR
        folder / "pipe",                       // no writer: must not block
        "/dev/zero",                           // would never end
    };
    for (const auto& path : paths) {
        try {
            DriftEngine::sha256(path);
            ADD_FAILURE() << "hashed " << path;
        } catch (const DriftExportError& error) {
            EXPECT_EQ(error.errorCase(), DriftExportError::Case::missing);
            EXPECT_EQ(std::string(error.what()), "Cannot open " + path.string() + ".");
        }
    }
}

TEST(FileDigest, UnreadableFileIsMissingWhenPermissionsApply) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not stop reads";
    TempFolder folder;
    const auto file = folder / "locked.mov";
    testing::writeBytes(file, "secret");
    std::filesystem::permissions(file, std::filesystem::perms::none);
    EXPECT_THROW(DriftEngine::sha256(file), DriftExportError);
}

TEST(FileDigest, FailingReadThrowsTheSystemError) {
    // Reading the first page of a process's own memory map fails with EIO.
    const std::filesystem::path memory = "/proc/self/mem";
    if (!std::filesystem::exists(memory)) GTEST_SKIP() << "no /proc";
    try {
        DriftEngine::sha256(memory);
        ADD_FAILURE() << "a failing read produced a digest";
    } catch (const std::system_error& error) {
        EXPECT_NE(error.code().value(), 0);
    }
}

} // namespace
} // namespace velk
