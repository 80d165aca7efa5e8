#include "transfer/clip_files.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "base/files.hpp"
#include "base/unicode.hpp"
#include "base/uuid.hpp"

namespace velk::ClipFiles {

namespace {

constexpr std::size_t readBufferBytes = 1u << 20;
constexpr std::int64_t bytesPerMiB = 1 << 20;

[[noreturn]] void throwErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// Symbolic links resolved as far as the path exists, ".." and "." removed, no trailing separator.
std::string resolvedText(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path result = std::filesystem::weakly_canonical(path, error);
    if (error) result = std::filesystem::absolute(path, error);
    std::string text = result.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

// "40.0 MiB": tenths of a MiB, rounded up or down, in ASCII digits whatever the locale.
std::string mebibytes(std::int64_t bytes, bool roundUp) {
    bytes = std::max<std::int64_t>(bytes, 0);
    const std::int64_t remainder = (bytes % bytesPerMiB) * 10;
    std::int64_t tenths = bytes / bytesPerMiB * 10 + remainder / bytesPerMiB;
    if (roundUp && remainder % bytesPerMiB != 0) ++tenths;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MiB";
}

} // namespace

std::string safeFolderName(std::string_view identifier) {
    std::string folded;
    for (const std::string& character : text::graphemeClusters(text::lowercased(identifier))) {
        const std::vector<char32_t> scalars = text::scalars(character);
        const char32_t first = scalars.empty() ? U'\0' : scalars.front();
        // A letter may carry marks, and a prepended letter may even carry a "/" in one character;
        // a folder name never holds a separator.
        const bool letterOrNumber = (text::isAlphabetic(first) || text::hasNumericType(first)) &&
                                    character.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
        if (character == "-" || character == "_" || letterOrNumber) {
            folded += character;
        } else {
            folded += '-';
        }
    }
    const std::size_t begin = folded.find_first_not_of('-');
    if (begin == std::string::npos) return {};
    const std::size_t end = folded.find_last_not_of('-');
    return folded.substr(begin, end - begin + 1);
}

bool isUsableFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= maximumFileNameBytes &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

void writeAll(int fd, const std::uint8_t* data, std::size_t size, const std::filesystem::path& file) {
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::write(fd, data + written, std::min(size - written, maximumWriteBytes));
        if (count < 0) {
            if (errno == EINTR) continue;
            throwErrno(file.string());
        }
        written += static_cast<std::size_t>(count);
    }
}

std::filesystem::path partialOf(const std::filesystem::path& destination) {
    std::filesystem::path partial = destination;
    partial += ".part";
    return partial;
}

namespace {

// Removes a partial file of `destination` that an interrupted attempt left: the one name, and the
// older names "<name>.<UUID>.part". Only plain files; a link is removed, never followed.
void removeLeftPartials(const std::filesystem::path& destination, const std::filesystem::path& partial) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    const std::string prefix = destination.filename().string() + ".";
    constexpr std::string_view suffix = ".part";
    constexpr std::size_t uuidLength = 36;
    std::error_code listing;
    for (std::filesystem::directory_iterator entry(destination.parent_path(), listing), end; !listing && entry != end;
         entry.increment(listing)) {
        const std::string name = entry->path().filename().string();
        if (name.size() != prefix.size() + uuidLength + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) continue;
        if (!uuid::isValid(std::string_view(name).substr(prefix.size(), uuidLength))) continue;
        struct stat item {};
        if (::lstat(entry->path().c_str(), &item) == 0 && (S_ISREG(item.st_mode) || S_ISLNK(item.st_mode))) {
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

} // namespace

void placeNewFile(const std::filesystem::path& destination, const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path partial = partialOf(destination);
    removeLeftPartials(destination, partial);
    try {
        files::UniqueFd out = files::createExclusive(partial);
        writeAll(out.get(), data, size, partial);
        files::syncFd(out.get());
        out.reset();
        files::moveNoReplace(partial, destination);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        throw;
    }
}

bool isInside(const std::filesystem::path& file, const std::filesystem::path& root) {
    std::string prefix = resolvedText(root);
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    const std::string candidate = resolvedText(file);
    return candidate.size() > prefix.size() && candidate.compare(0, prefix.size(), prefix) == 0;
}

std::filesystem::path pathOf(int fd) {
    std::error_code error;
    auto target = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    if (error) throw std::system_error(error, "/proc/self/fd");
    return target;
}

void hashRange(int fd, std::int64_t from, std::int64_t to, Sha256& hasher, const CancellationToken* cancellation) {
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(readBufferBytes);
    std::int64_t offset = from;
    while (offset < to) {
        if (cancellation && cancellation->isCancelled()) throw OperationCancelledError();
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(to - offset, readBufferBytes));
        const ssize_t count = ::pread(fd, buffer.get(), wanted, offset);
        if (count < 0) {
            if (errno == EINTR) continue;
            throwErrno("Cannot read the file being hashed");
        }
        if (count == 0) break;
        hasher.update(buffer.get(), static_cast<std::size_t>(count));
        offset += count;
    }
}

std::string sha256Of(int fd, const CancellationToken* cancellation) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Sha256 hasher;
    hashRange(fd, 0, INT64_MAX, hasher, cancellation);
    return hexLower(hasher.finish());
}

std::string notEnoughSpace(std::int64_t neededBytes, std::int64_t freeBytes) {
    return "Not enough free space on the recordings disk: " + mebibytes(neededBytes, true) + " needed, " +
           mebibytes(freeBytes, false) + " free.";
}

std::string notEnoughSpaceFor(std::int64_t neededBytes, const std::filesystem::path& folder) {
    const std::optional<files::DiskSpace> space = files::diskSpace(folder);
    return notEnoughSpace(std::max<std::int64_t>(neededBytes, 1), space ? space->freeBytes : 0);
}

std::optional<std::string> diskRefusal(const std::system_error& error, std::int64_t neededBytes,
                                       const std::filesystem::path& folder) {
    const std::optional<files::DiskRefusal> refusal = files::diskRefusalOf(error, neededBytes, folder);
    if (!refusal) return std::nullopt;
    switch (*refusal) {
    case files::DiskRefusal::noSpace:
        return notEnoughSpaceFor(neededBytes, folder);
    case files::DiskRefusal::noFiles:
        return std::string(noRoomForFiles);
    case files::DiskRefusal::quota:
        return std::string(quotaUsedUp);
    }
    return std::nullopt;
}

NewFolders NewFolders::make(const std::filesystem::path& folder) {
    constexpr int maximumAttempts = 4;
    NewFolders made;
    const auto isFolder = [](const std::filesystem::path& path) {
        struct stat item {};
        return ::stat(path.c_str(), &item) == 0 && S_ISDIR(item.st_mode);
    };
    for (int attempt = 1;; ++attempt) {
        std::vector<std::filesystem::path> missing;
        for (std::filesystem::path level = folder; !isFolder(level) && level != level.parent_path(); level = level.parent_path()) {
            missing.push_back(level);
        }
        bool parentGone = false;
        for (auto level = missing.rbegin(); level != missing.rend() && !parentGone; ++level) {
            if (::mkdir(level->c_str(), 0777) == 0) {
                made.m_made.push_back(*level);
                continue;
            }
            const int error = errno;
            if (error == EEXIST && isFolder(*level)) continue;
            parentGone = error == ENOENT && attempt < maximumAttempts;
            if (!parentGone) throw std::system_error(error, std::generic_category(), "Cannot create the folder " + level->string());
        }
        if (!parentGone) return made;
    }
}

NewFolders::~NewFolders() {
    for (auto folder = m_made.rbegin(); folder != m_made.rend(); ++folder) ::rmdir(folder->c_str());
}

} // namespace velk::ClipFiles
