#pragma once
// Writes "library.json" off the GUI thread, one state after another in the order they were
// handed over. A state not yet started is replaced by a newer one (only the last state matters),
// so a burst of edits costs one write; encoding happens here too, from an immutable snapshot.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "model/library.hpp"

namespace velk {

class LibraryWriter {
public:
    // `failed(text)` runs on the writing thread with the error of a write nobody waits for.
    LibraryWriter(std::filesystem::path file, std::function<void(const std::string&)> failed);
    // Waits for every state handed over.
    ~LibraryWriter();
    LibraryWriter(const LibraryWriter&) = delete;
    LibraryWriter& operator=(const LibraryWriter&) = delete;

    // Hands a state over and returns its number. With `awaited`, the caller will wait for it and
    // hears of its failure from waitFor instead of `failed`.
    std::uint64_t write(std::shared_ptr<const VELKLibrary> snapshot, bool awaited = false);
    // Waits until state `number` (or a later one) is on disk; the error of that write, if any.
    std::optional<std::string> waitFor(std::uint64_t number);
    // Waits until every state handed over so far is written.
    void flush();

private:
    void drain();

    const std::filesystem::path m_file;
    const std::function<void(const std::string&)> m_failed;
    std::mutex m_mutex;
    std::condition_variable m_written;
    std::shared_ptr<const VELKLibrary> m_pending;
    std::uint64_t m_pendingNumber = 0;
    std::uint64_t m_lastNumber = 0;
    std::uint64_t m_writtenNumber = 0;
    std::optional<std::string> m_lastError;
    std::uint64_t m_awaited = 0; // the highest number a caller waits for: its error is theirs
    bool m_writing = false;
};

} // namespace velk
