#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "fake_clip_source.hpp"
#include "test_peers.hpp"
#include "transfer/clip_files.hpp"

namespace velk {
namespace {

using namespace velk::testing;

// Each write() of a copy carries at most 256 KiB, so that no single call holds the writer while the
// next range waits. A packet socket keeps every write() as one message, so the slices are seen.
TEST(ClipFilesWriteAll, WritesEveryByteInSlicesOfAtMost256KiB) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    // Room for a whole range in one message, so that an unsliced write would arrive whole (without
    // the privilege the kernel caps the room, and such a write is refused instead).
    const int room = 32 << 20;
    if (::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0) {
        ::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    }
    const std::string bytes = patternBytes((8 << 20) + 12'345, 5);
    std::vector<std::size_t> messages;
    std::string received;
    std::thread reader([&] {
        std::string buffer(16 << 20, '\0');
        while (true) {
            const ssize_t count = ::recv(ends[1], buffer.data(), buffer.size(), MSG_TRUNC);
            if (count <= 0) return;
            messages.push_back(static_cast<std::size_t>(count));
            received.append(buffer.data(), std::min(static_cast<std::size_t>(count), buffer.size()));
        }
    });
    try {
        ClipFiles::writeAll(ends[0], reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), "clip.mov.part");
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
    ::shutdown(ends[0], SHUT_WR);
    reader.join();
    ::close(ends[0]);
    ::close(ends[1]);

    EXPECT_TRUE(received == bytes);
    ASSERT_FALSE(messages.empty());
    for (std::size_t size : messages) EXPECT_LE(size, 256u * 1024u);
    EXPECT_EQ(messages.size(), 33u); // 32 whole slices and the rest
}

std::string contentsOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A new file lands whole under its name, and never in place of one already there; either way no
// partial file is left behind.
TEST(ClipFilesPlaceNewFile, LandsWholeAndNeverReplaces) {
    TempDir folder;
    const std::string first = "{\"first\":1}", second = "{\"second\":2}";
    auto place = [&](const std::string& text) {
        ClipFiles::placeNewFile(folder / "t.json", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    place(first);
    EXPECT_EQ(contentsOf(folder / "t.json"), first);
    EXPECT_THROW(place(second), std::system_error);
    EXPECT_EQ(contentsOf(folder / "t.json"), first);
    EXPECT_FALSE(std::filesystem::exists(folder / "t.json.part"));
}

// What a write, a new file or a new folder that the disk refused says: a disk short of bytes how
// much is needed and free; one with the bytes to spare that it holds no more files; the user's
// quota only that it is used up (a quota shows in no free-space figure); any other error is not
// the disk's to word.
TEST(ClipFilesDiskRefusal, FullDiskAndQuotaHaveTheirOwnWords) {
    TempDir folder;
    const std::string fullDisk = "Not enough free space on the recordings disk: 4398046511104.0 MiB needed, ";
    const std::string outOfFiles = "The recordings disk has no room for more files.";
    const std::string quota = "The disk quota for the recordings folder is used up.";
    constexpr std::int64_t moreThanAnyDisk = std::int64_t{1} << 62;
    struct Case {
        std::error_code code;
        std::int64_t needed;
        std::optional<std::string> startsWith; // none: not the disk's refusal
    };
    const std::vector<Case> cases{
        {{ENOSPC, std::generic_category()}, moreThanAnyDisk, fullDisk},
        {{ENOSPC, std::system_category()}, moreThanAnyDisk, fullDisk},
        {{ENOSPC, std::generic_category()}, 100, outOfFiles},
        {{ENOSPC, std::system_category()}, 0, outOfFiles},
        {{EDQUOT, std::generic_category()}, 100, quota},
        {{EDQUOT, std::system_category()}, moreThanAnyDisk, quota},
        {{EIO, std::generic_category()}, 100, std::nullopt},
        {{EACCES, std::generic_category()}, 100, std::nullopt},
        {std::make_error_code(std::future_errc::broken_promise), 100, std::nullopt}, // another category
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code.message() + ", " + std::to_string(c.needed) + " bytes needed");
        const auto refusal = ClipFiles::diskRefusal(std::system_error(c.code, "write"), c.needed, folder.path() / "clip");
        ASSERT_EQ(refusal.has_value(), c.startsWith.has_value());
        if (refusal) {
            EXPECT_TRUE(refusal->starts_with(*c.startsWith)) << *refusal;
            if (*c.startsWith != fullDisk) {
                EXPECT_EQ(*refusal, *c.startsWith);
            }
        }
    }
}

} // namespace
} // namespace velk
