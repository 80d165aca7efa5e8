#pragma once
// File operations with the guarantees the product relies on: writes that are whole or absent,
// moves that never replace an existing file, and creation that fails when the path exists.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "base/clock.hpp"

namespace velk::files {

// Owns a POSIX file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { int fd = m_fd; m_fd = -1; return fd; }
    void reset(int fd = -1);
private:
    int m_fd = -1;
};

// Writes to a temporary file in the same folder, fsyncs it, renames it over `path` and fsyncs the
// folder. On failure throws std::system_error and leaves `path` as it was; once the rename has
// happened it no longer throws (a folder that cannot be flushed does not undo a done write).
// The temporary file is named ".<name>.tmp-<16 lower-case hexadecimal digits>"; a process killed
// during the write leaves it behind.
void writeAtomically(const std::filesystem::path& path, std::string_view data);

// A new temporary name beside `path`, unguessable so that two writers never share one:
// "." + name + ".tmp-" + 16 lower-case hexadecimal digits. Files written under such names are
// removed by `removeStaleTemporaries` when a crash left them behind.
std::filesystem::path temporaryNameFor(const std::filesystem::path& path);

// Whether `name` is one of the temporary file names `writeAtomically` gives a write of the file
// named `target`.
bool isTemporaryNameFor(std::string_view name, std::string_view target);

// Removes what interrupted atomic writes of `path` left in its folder: regular files whose names
// are temporary names for it. Links (never followed), folders and every other name stay. Call it
// only while nothing else can be writing `path`. Returns how many were removed; never throws (a
// missing or unreadable folder has nothing to remove).
std::size_t removeStaleTemporaries(const std::filesystem::path& path);

// Removes what interrupted builds of folders left in `parent`: folders whose names `isStagingName`
// accepts and that hold only regular files whose names `isOwnFile` accepts. Such a folder is emptied
// and removed through descriptors, so no link is ever followed: a link in place of the folder, a
// link or any other entry inside it, or a folder that its builder still holds locked (see
// `lockFolder`) leaves it as it is. The sweep holds `parent` itself locked exclusively, and sweeps
// nothing while a folder is being made there (`makeLockedFolder`): the next sweep removes what this
// one would have. Returns how many folders were removed; never throws.
std::size_t removeStaleFolders(const std::filesystem::path& parent,
                               const std::function<bool(std::string_view)>& isStagingName,
                               const std::function<bool(std::string_view)>& isOwnFile);

// Opens a folder (never through a link) and holds an exclusive lock on it for as long as the
// descriptor stays open, so that `removeStaleFolders` leaves a folder still being built. Throws
// std::system_error.
UniqueFd lockFolder(const std::filesystem::path& folder);

// Makes a new folder (mkdir(2); EEXIST when the path exists) and returns it locked as `lockFolder`
// does. Its parent is held with a shared lock from before the folder is made until it is locked, so
// `removeStaleFolders` never finds it unlocked. Throws std::system_error.
UniqueFd makeLockedFolder(const std::filesystem::path& folder, int mode = 0755);

// Renames `from` (a file or a folder) to `to` only when `to` does not exist (renameat2
// RENAME_NOREPLACE; where the file system lacks it, link + unlink for a file, and for a folder
// rename(2) once `to` is seen missing: it never replaces a file or a folder that holds anything, only
// an empty folder made under that very name in the same instant). Throws std::system_error (EEXIST
// when the destination exists); never replaces it.
void moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Moves a file that could not be read aside in its folder, as "<name>.unreadable-<yyyyMMdd-HHmmss>"
// (local time of `now`, then "-2", "-3", ... while a name is taken), so that the next save cannot
// replace it. Returns the new file name; none when `file` does not exist. Throws std::system_error
// (EEXIST when every name is taken).
std::optional<std::string> keepAsideAsUnreadable(const std::filesystem::path& file, WallTime now);

// Creates a new file, failing with EEXIST when the path exists. Mode 0644 unless given.
UniqueFd createExclusive(const std::filesystem::path& path, int mode = 0644);

// Creates one folder with mkdir(2); throws std::system_error, EEXIST when the path exists.
void makeNewDirectory(const std::filesystem::path& path, int mode = 0755);

// Reads a whole file; throws std::system_error when it cannot be opened or read, and
// std::length_error when it is longer than maxBytes.
std::string readAll(const std::filesystem::path& path, std::size_t maxBytes = SIZE_MAX);

// fsync of an open descriptor / of a folder by path. Throw std::system_error.
void syncFd(int fd);
void syncDirectory(const std::filesystem::path& folder);

struct DiskSpace {
    dev_t device = 0;           // st_dev: the file system
    std::int64_t freeBytes = 0; // what an ordinary writer may still add there
};
// The file system that holds `path` and the bytes an ordinary writer may still add to it (statvfs:
// f_bavail × f_frsize), asked of the nearest folder of the path that exists. None when that cannot
// be told.
std::optional<DiskSpace> diskSpace(const std::filesystem::path& path);

// How a disk refused a new file, a new folder or more bytes.
enum class DiskRefusal {
    noSpace, // ENOSPC, short of bytes
    noFiles, // ENOSPC with bytes to spare: the file system can hold no more files or folders
    quota,   // EDQUOT: the user's disk quota is used up
};
// What refused a step that still had `neededBytes` to write on the disk that holds `folder`: ENOSPC
// is short of bytes while fewer than `neededBytes` (at least one) are free there (or that cannot be
// told), and with them free the disk has no room for more files. None for every other error.
std::optional<DiskRefusal> diskRefusalOf(const std::system_error& error, std::int64_t neededBytes,
                                         const std::filesystem::path& folder);

} // namespace velk::files
