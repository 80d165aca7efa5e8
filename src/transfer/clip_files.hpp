#pragma once
// The local-file rules of every clip copy, whichever road makes it: folder and file names, whole
// writes, the folders made for a clip, the disk's refusals in words, the inside-the-recordings
// check and SHA-256 read from an open descriptor.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/sha256.hpp"
#include "transfer/https_session.hpp"

namespace velk::ClipFiles {

inline constexpr std::size_t maximumFileNameBytes = 255;

// The folder name made from an identifier: lower-cased; letters and numbers of every script, "-"
// and "_" kept; every other character one "-"; hyphens at both ends removed. May be empty.
std::string safeFolderName(std::string_view identifier);

// A name the catalog gave that stays one entry of its folder.
bool isUsableFileName(std::string_view name);

// The most one write() of a copy hands the kernel. Copied into fresh page-cache pages, a whole
// 8 MiB range in one call holds the writer longer than the next range takes to arrive; the same
// bytes in slices go in several times faster.
inline constexpr std::size_t maximumWriteBytes = 256 * 1024;

// Writes every byte, in slices of at most maximumWriteBytes, or throws std::system_error naming
// `file`.
void writeAll(int fd, const std::uint8_t* data, std::size_t size, const std::filesystem::path& file);
// The one name a new file is written under before it is moved into place: its own name with
// ".part" appended, in its folder.
std::filesystem::path partialOf(const std::filesystem::path& destination);
// Writes the bytes into partialOf(destination), made new, flushes them to the disk and moves the
// file to `destination`, never replacing a file there. A partial file that an interrupted attempt
// left is removed first (also one of the older names, with a UUID between the name and ".part").
// On any failure the partial file is removed and the error goes on; a full disk is a
// std::system_error that diskRefusal words.
void placeNewFile(const std::filesystem::path& destination, const std::uint8_t* data, std::size_t size);

// True when `file`, with links resolved as far as it exists, lies strictly below `root`.
bool isInside(const std::filesystem::path& file, const std::filesystem::path& root);
// Where an open descriptor's file lies now, whatever path it was opened by.
std::filesystem::path pathOf(int fd);

// Feeds the bytes [from, to) of the descriptor's file to `hasher` (positional reads; the file
// offset is left alone). Throws std::system_error, or OperationCancelledError when cancelled.
void hashRange(int fd, std::int64_t from, std::int64_t to, Sha256& hasher, const CancellationToken* cancellation = nullptr);
// SHA-256 of everything the descriptor's file holds, as 64 lower-case hexadecimal characters.
std::string sha256Of(int fd, const CancellationToken* cancellation = nullptr);

// "Not enough free space on the recordings disk: 40.0 MiB needed, 20.0 MiB free." What is needed
// is rounded up and what is free down, to a tenth of a MiB, so the two never read alike.
std::string notEnoughSpace(std::int64_t neededBytes, std::int64_t freeBytes);
// The same sentence for a write that found the disk full while `neededBytes` (at least one) were
// still to go into `folder`, with what is free there now.
std::string notEnoughSpaceFor(std::int64_t neededBytes, const std::filesystem::path& folder);
// A new file or folder refused with the bytes to spare: the disk's table of files is used up.
inline constexpr std::string_view noRoomForFiles = "The recordings disk has no room for more files.";
// A write refused for the user's disk quota. A quota shows in no free-space figure, so the
// sentence names none.
inline constexpr std::string_view quotaUsedUp = "The disk quota for the recordings folder is used up.";
// The sentence for a new file, a new folder or a write that the disk refused while `neededBytes`
// were still to go into `folder` (files::diskRefusalOf): short of bytes in notEnoughSpaceFor's words,
// out of files as noRoomForFiles, the quota as quotaUsedUp. None for every other error.
std::optional<std::string> diskRefusal(const std::system_error& error, std::int64_t neededBytes,
                                       const std::filesystem::path& folder);

// The folders made for one clip's copy: `folder` and every folder above it that was missing. Unless
// kept, those this value made are removed again when it goes, deepest first and each only while it
// is empty; so a clip that fails leaves no empty folders, and a folder another clip has put
// anything in stays.
class NewFolders {
public:
    // Makes the folders. One that another clip's failure removes meanwhile, just above a folder
    // this is about to make, is made again. Throws std::system_error naming the folder that could
    // not be made, after removing those made so far.
    static NewFolders make(const std::filesystem::path& folder);

    NewFolders(NewFolders&& other) noexcept : m_made(std::move(other.m_made)) { other.m_made.clear(); }
    NewFolders& operator=(NewFolders&&) = delete;
    NewFolders(const NewFolders&) = delete;
    NewFolders& operator=(const NewFolders&) = delete;
    ~NewFolders();

    // The clip's copy goes on in them: they stay.
    void keep() { m_made.clear(); }

private:
    NewFolders() = default;
    std::vector<std::filesystem::path> m_made; // from the top down
};

} // namespace velk::ClipFiles
