#include "base/files.hpp"

#include "base/sha256.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace velk::files {

namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

[[noreturn]] void throwErrno(const std::string& what) { throwErrno(errno, what); }

std::filesystem::path folderOf(const std::filesystem::path& path) {
    std::filesystem::path parent = path.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

void writeAll(int fd, std::string_view data) {
    const char* next = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            throwErrno("write");
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
}

// "." + name + ".tmp-" + 16 lower-case hexadecimal digits (see temporaryNameFor).
constexpr std::string_view temporaryInfix = ".tmp-";
constexpr std::size_t temporaryRandomBytes = 8;

int renameNoReplace(const char* from, const char* to) {
#ifdef SYS_renameat2
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
#else
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

UniqueFd::~UniqueFd() { reset(); }

void UniqueFd::reset(int fd) {
    if (m_fd >= 0 && m_fd != fd) ::close(m_fd);
    m_fd = fd;
}

std::filesystem::path temporaryNameFor(const std::filesystem::path& path) {
    std::string name = ".";
    name += path.filename().string();
    name += temporaryInfix;
    name += hexLower(randomBytes(temporaryRandomBytes));
    return folderOf(path) / name;
}

void writeAtomically(const std::filesystem::path& path, std::string_view data) {
    std::filesystem::path temporary;
    UniqueFd fd;
    for (int attempt = 0; attempt < 8 && !fd.valid(); ++attempt) {
        temporary = temporaryNameFor(path);
        int opened = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (opened >= 0) {
            fd.reset(opened);
        } else if (errno != EEXIST) {
            throwErrno("Cannot create a temporary file for " + path.string());
        }
    }
    if (!fd.valid()) throwErrno(EEXIST, "Cannot create a temporary file for " + path.string());

    try {
        // A rewrite keeps the permissions of the file it replaces (a private file stays private).
        struct stat existing {};
        if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
            ::fchmod(fd.get(), existing.st_mode & 07777) != 0) {
            throwErrno("Cannot set the permissions of " + path.string());
        }
        writeAll(fd.get(), data);
        syncFd(fd.get());
        int closing = fd.release();
        if (::close(closing) != 0 && errno != EINTR) throwErrno("close");
        if (::rename(temporary.c_str(), path.c_str()) != 0) throwErrno("Cannot replace " + path.string());
    } catch (...) {
        fd.reset();
        ::unlink(temporary.c_str());
        throw;
    }
    // The new contents are in place and every reader sees them: the write has succeeded. The
    // folder's flush only makes the rename survive a crash; should it fail, the next write of the
    // file flushes the folder again, and reporting this one as failed would be untrue.
    try {
        syncDirectory(folderOf(path));
    } catch (const std::system_error&) {
    }
}

bool isTemporaryNameFor(std::string_view name, std::string_view target) {
    const std::size_t prefixSize = 1 + target.size() + temporaryInfix.size();
    if (target.empty() || name.size() != prefixSize + 2 * temporaryRandomBytes) return false;
    if (name[0] != '.' || name.substr(1, target.size()) != target ||
        name.substr(1 + target.size(), temporaryInfix.size()) != temporaryInfix) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefixSize), name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::size_t removeStaleTemporaries(const std::filesystem::path& path) {
    const std::string target = path.filename().string();
    UniqueFd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid() || target.empty()) return 0;
    // The listing reads its own descriptor; removals go through the folder's.
    const int listed = ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0);
    if (listed < 0) return 0;
    DIR* listing = ::fdopendir(listed);
    if (listing == nullptr) {
        ::close(listed);
        return 0;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTemporaryNameFor(entry->d_name, target)) continue;
        struct stat item {};
        if (::fstatat(folder.get(), entry->d_name, &item, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(item.st_mode)) {
            stale.emplace_back(entry->d_name);
        }
    }
    ::closedir(listing);
    std::size_t removed = 0;
    for (const std::string& name : stale) {
        // unlinkat never follows a link: should the name have become one meanwhile, only the link goes.
        if (::unlinkat(folder.get(), name.c_str(), 0) == 0) ++removed;
    }
    return removed;
}

namespace {

// The names in the folder open as `folder`, read through a descriptor of their own; none when it
// cannot be listed.
std::optional<std::vector<std::string>> namesIn(int folder) {
    const int listed = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (listed < 0) return std::nullopt;
    DIR* listing = ::fdopendir(listed);
    if (listing == nullptr) {
        ::close(listed);
        return std::nullopt;
    }
    ::rewinddir(listing);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(listing);
    return names;
}

// Empties and removes the folder `name` inside `parent` when it holds only regular files that
// `isOwnFile` accepts and nobody holds it locked.
bool removeStaleFolder(int parent, const std::string& name, const std::function<bool(std::string_view)>& isOwnFile) {
    UniqueFd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid()) return false;
    // Held until the folder is gone: a builder that locks it meanwhile is not swept away.
    if (::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) return false;
    const std::optional<std::vector<std::string>> names = namesIn(folder.get());
    if (!names) return false;
    for (const std::string& file : *names) {
        struct stat item {};
        if (!isOwnFile(file) || ::fstatat(folder.get(), file.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(item.st_mode)) {
            return false;
        }
    }
    for (const std::string& file : *names) {
        if (::unlinkat(folder.get(), file.c_str(), 0) != 0) return false;
    }
    // Fails, leaving it, when anything appeared in it meanwhile or the name is no longer a folder.
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

} // namespace

std::size_t removeStaleFolders(const std::filesystem::path& parent,
                               const std::function<bool(std::string_view)>& isStagingName,
                               const std::function<bool(std::string_view)>& isOwnFile) {
    UniqueFd folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) return 0;
    // A folder made there now is not locked yet: nothing is swept while its maker holds the parent.
    if (::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) return 0;
    const std::optional<std::vector<std::string>> names = namesIn(folder.get());
    if (!names) return 0;
    std::size_t removed = 0;
    for (const std::string& name : *names) {
        if (isStagingName(name) && removeStaleFolder(folder.get(), name, isOwnFile)) ++removed;
    }
    return removed;
}

UniqueFd lockFolder(const std::filesystem::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) throwErrno("Cannot open the folder " + folder.string());
    if (::flock(fd.get(), LOCK_EX) != 0) throwErrno("Cannot lock the folder " + folder.string());
    return fd;
}

UniqueFd makeLockedFolder(const std::filesystem::path& folder, int mode) {
    const std::filesystem::path parent = folderOf(folder);
    UniqueFd held(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!held.valid()) throwErrno("Cannot open the folder " + parent.string());
    while (::flock(held.get(), LOCK_SH) != 0) {
        if (errno != EINTR) throwErrno("Cannot lock the folder " + parent.string());
    }
    makeNewDirectory(folder, mode);
    try {
        return lockFolder(folder);
    } catch (...) {
        ::rmdir(folder.c_str());
        throw;
    }
}

void moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (renameNoReplace(from.c_str(), to.c_str()) == 0) return;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP) throwErrno(error, "Cannot move " + from.string() + " to " + to.string());

    // The filesystem has no exclusive rename.
    struct stat source {};
    if (::lstat(from.c_str(), &source) == 0 && S_ISDIR(source.st_mode)) {
        // A folder cannot be linked, and claiming its name first would leave an empty folder there
        // should the move be cut short. rename() itself refuses a file or a folder that holds
        // anything; it could replace only an empty folder made under this name in the same instant.
        struct stat taken {};
        if (::lstat(to.c_str(), &taken) == 0) throwErrno(EEXIST, "Cannot move " + from.string() + " to " + to.string());
        if (::rename(from.c_str(), to.c_str()) != 0) {
            error = errno;
            const bool exists = error == ENOTEMPTY || error == EEXIST || error == ENOTDIR;
            throwErrno(exists && ::lstat(to.c_str(), &taken) == 0 ? EEXIST : error,
                       "Cannot move " + from.string() + " to " + to.string());
        }
        return;
    }
    // link() refuses an existing name just the same.
    if (::link(from.c_str(), to.c_str()) != 0) throwErrno("Cannot move " + from.string() + " to " + to.string());
    if (::unlink(from.c_str()) != 0) {
        error = errno;
        ::unlink(to.c_str());
        throwErrno(error, "Cannot move " + from.string() + " to " + to.string());
    }
}

std::optional<std::string> keepAsideAsUnreadable(const std::filesystem::path& file, WallTime now) {
    constexpr int maximumAttempts = 100;
    std::error_code error;
    if (std::filesystem::symlink_status(file, error).type() == std::filesystem::file_type::not_found) return std::nullopt;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file.filename().string() + ".unreadable-" + stamp;
    for (int attempt = 1; attempt <= maximumAttempts; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        try {
            moveNoReplace(file, file.parent_path() / name);
            return name;
        } catch (const std::system_error& failure) {
            if (failure.code() != std::errc::file_exists) throw;
        }
    }
    throwErrno(EEXIST, "Cannot keep " + file.string() + " aside");
}

UniqueFd createExclusive(const std::filesystem::path& path, int mode) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) throwErrno("Cannot create " + path.string());
    return UniqueFd(fd);
}

void makeNewDirectory(const std::filesystem::path& path, int mode) {
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) throwErrno("Cannot create the folder " + path.string());
}

std::string readAll(const std::filesystem::path& path, std::size_t maxBytes) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) throwErrno("Cannot open " + path.string());
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throwErrno("Cannot read " + path.string());
    if (S_ISREG(info.st_mode) && static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        throw std::length_error(path.string() + " is larger than " + std::to_string(maxBytes) + " bytes.");
    }

    std::string out;
    if (S_ISREG(info.st_mode) && info.st_size > 0) out.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throwErrno("Cannot read " + path.string());
        }
        if (got == 0) break;
        // The file may grow while it is read; the limit holds for what is actually read.
        if (static_cast<std::size_t>(got) > maxBytes - out.size()) {
            throw std::length_error(path.string() + " is larger than " + std::to_string(maxBytes) + " bytes.");
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

void syncFd(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) throwErrno("fsync");
    }
}

void syncDirectory(const std::filesystem::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) throwErrno("Cannot open the folder " + folder.string());
    while (::fsync(fd.get()) != 0) {
        // Some filesystems cannot sync a folder at all; that is no failure of ours.
        if (errno == EINVAL) return;
        if (errno != EINTR) throwErrno("Cannot sync the folder " + folder.string());
    }
}

std::optional<DiskSpace> diskSpace(const std::filesystem::path& path) {
    std::filesystem::path probe = path;
    for (;;) {
        struct statvfs disk {};
        struct stat item {};
        if (::statvfs(probe.c_str(), &disk) == 0 && ::stat(probe.c_str(), &item) == 0) {
            const unsigned long long blockBytes = disk.f_frsize;
            const unsigned long long blocks = disk.f_bavail;
            const auto limit = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
            const bool huge = blockBytes != 0 && blocks > limit / blockBytes;
            return DiskSpace{item.st_dev, huge ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(blocks * blockBytes)};
        }
        if (errno != ENOENT || !probe.has_relative_path()) return std::nullopt;
        probe = probe.parent_path();
    }
}

std::optional<DiskRefusal> diskRefusalOf(const std::system_error& error, std::int64_t neededBytes,
                                         const std::filesystem::path& folder) {
    const std::error_code& code = error.code();
    const bool errnoValue = code.category() == std::generic_category() || code.category() == std::system_category();
    if (!errnoValue) return std::nullopt;
    if (code.value() == EDQUOT) return DiskRefusal::quota;
    if (code.value() != ENOSPC) return std::nullopt;
    // With the bytes to spare, what ran out is the room for another file or folder (inodes).
    const std::optional<DiskSpace> space = diskSpace(folder);
    const bool bytesToSpare = space && space->freeBytes >= std::max<std::int64_t>(neededBytes, 1);
    return bytesToSpare ? DiskRefusal::noFiles : DiskRefusal::noSpace;
}

} // namespace velk::files
