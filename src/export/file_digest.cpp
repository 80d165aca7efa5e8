#include "export/drift_engine.hpp"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "base/files.hpp"
#include "base/sha256.hpp"

namespace velk::DriftEngine {

namespace {
constexpr std::size_t kReadBufferBytes = 1'048'576;
}

std::string sha256(const std::filesystem::path& file) {
    // A file that cannot be opened must never hash as empty: callers compare the digest with a
    // catalogue and would report a mismatch where the truth is that nothing was read.
    // Only regular files: a folder has no content, and a pipe or a device could block or never end.
    // Opening without blocking keeps a pipe with no writer from holding the caller forever.
    files::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw DriftExportError::missing("Cannot open " + file.string() + ".");
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    Sha256 hasher;
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBufferBytes);
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer.get(), kReadBufferBytes);
        if (count < 0) {
            if (errno == EINTR) continue;
            if (errno == 0) throw DriftExportError::invalid("Hash read failed.");
            throw std::system_error(errno, std::generic_category(), "Cannot read " + file.string());
        }
        if (count == 0) break;
        hasher.update(buffer.get(), static_cast<std::size_t>(count));
    }
    auto digest = hasher.finish();
    return hexLower(digest);
}

} // namespace velk::DriftEngine
