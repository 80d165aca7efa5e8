#include "pairing/director_key_file.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include "base/files.hpp"
#include "pairing/camera_pairing_invitation.hpp"

namespace velk::DirectorKeyFile {

namespace {

constexpr std::size_t readLimit = 64;

[[noreturn]] void cannotSave() { throw CameraPairingError::invalid(CameraPairingText::cannotSaveKey); }
[[noreturn]] void cannotRead() { throw CameraPairingError::invalid(CameraPairingText::cannotReadKey); }

bool privateTo(const struct stat& info) { return info.st_uid == ::geteuid() && (info.st_mode & 077) == 0; }

// Opens the key folder, made 0700 when missing; a link, another owner's folder or one others can
// enter is refused.
files::UniqueFd openFolder(const std::filesystem::path& dataFolder) {
    std::error_code error;
    std::filesystem::create_directories(dataFolder, error);
    if (error) cannotSave();
    const std::filesystem::path folder = dataFolder / folderName;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) cannotSave();
    files::UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) cannotRead();
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode) || !privateTo(info)) cannotRead();
    return fd;
}

bool writeAll(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return ::fsync(fd) == 0;
}

// Writes a new key beside the final name and links it into place, so that a key file is whole
// or absent and an existing one is never replaced. False when another process made it first.
bool store(int folder, const Bytes& raw) {
    // The atomic writes' own temporary name, so that a crash's leftover is swept at the next start.
    const std::string temporary = files::temporaryNameFor(fileName).filename().string();
    files::UniqueFd fd(::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) cannotSave();
    const bool written = writeAll(fd.get(), raw);
    fd.reset();
    const int linked = written ? ::linkat(folder, temporary.c_str(), folder, fileName, 0) : -1;
    const int linkError = errno;
    ::unlinkat(folder, temporary.c_str(), 0);
    if (linked != 0) {
        if (written && linkError == EEXIST) return false;
        cannotSave();
    }
    ::fsync(folder);
    return true;
}

} // namespace

std::filesystem::path path(const std::filesystem::path& dataFolder) { return dataFolder / folderName / fileName; }

pairing_crypto::SigningKey loadOrCreate(const std::filesystem::path& dataFolder) {
    const files::UniqueFd folder = openFolder(dataFolder);
    for (int attempt = 0; attempt < 2; ++attempt) {
        files::UniqueFd fd(::openat(folder.get(), fileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.valid()) {
            if (errno != ENOENT) cannotRead();
            pairing_crypto::SigningKey key = pairing_crypto::SigningKey::generate();
            Bytes raw = key.rawRepresentation();
            const bool stored = store(folder.get(), raw);
            OPENSSL_cleanse(raw.data(), raw.size());
            if (stored) return key;
            continue; // made by another process meanwhile: read that one
        }
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || !privateTo(info)) cannotRead();
        Bytes raw(readLimit);
        std::size_t size = 0;
        while (size < raw.size()) {
            const ssize_t count = ::read(fd.get(), raw.data() + size, raw.size() - size);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) cannotRead();
            if (count == 0) break;
            size += static_cast<std::size_t>(count);
        }
        raw.resize(size);
        pairing_crypto::SigningKey key = pairing_crypto::SigningKey::fromRaw(raw);
        OPENSSL_cleanse(raw.data(), raw.size());
        return key;
    }
    cannotSave();
}

} // namespace velk::DirectorKeyFile
