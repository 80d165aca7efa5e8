#include <sys/stat.h>

#include "export_support.hpp"

namespace velk {
namespace {

using testing::TempFolder;

TEST(FileDigest, PublishedVectorsAndReadsAroundTheBufferSize) {
    struct Case { std::string content; std::string digest; };
    std::vector<Case> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    // One buffer less a byte, one buffer, one buffer and a byte, several buffers: the digest of the
    // bytes held in memory.
    for (std::size_t size : {1'048'575u, 1'048'576u, 1'048'577u, 3 * 1'048'576u + 17}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
        cases.push_back({content, Sha256::hexOf(content)});
    }
    TempFolder folder;
    for (const Case& c : cases) {
        files::writeAtomically(folder / "file.bin", c.content);
        EXPECT_EQ(DriftEngine::sha256(folder / "file.bin"), c.digest) << c.content.size() << " bytes";
    }
}

TEST(FileDigest, UnopenablePathsAreReportedAsMissingNeverHashedAsEmpty) {
    TempFolder folder;
    files::writeAtomically(folder / "plain.txt", "x");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    const std::filesystem::path paths[] = {
        folder / "absent.mov",
        folder.path,                           // a folder opens for reading but is not a file
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
    if (::geteuid() != 0) { // file permissions do not stop root's reads
        files::writeAtomically(folder / "locked.mov", "secret");
        std::filesystem::permissions(folder / "locked.mov", std::filesystem::perms::none);
        EXPECT_THROW(DriftEngine::sha256(folder / "locked.mov"), DriftExportError);
    }
}

TEST(FileDigest, FailingReadThrowsTheSystemError) {
    // Reading the first page of a process's own memory map fails with EIO.
    if (!std::filesystem::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc";
    EXPECT_THROW(DriftEngine::sha256("/proc/self/mem"), std::system_error);
}

} // namespace
} // namespace velk
