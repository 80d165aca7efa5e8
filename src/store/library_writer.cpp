#include "store/library_writer.hpp"

#include "base/files.hpp"
#include "base/worker_pool.hpp"

namespace velk {

LibraryWriter::LibraryWriter(std::filesystem::path file, std::function<void(const std::string&)> failed)
    : m_file(std::move(file)), m_failed(std::move(failed)) {}

LibraryWriter::~LibraryWriter() { flush(); }

std::uint64_t LibraryWriter::write(std::shared_ptr<const VELKLibrary> snapshot, bool awaited) {
    std::unique_lock lock(m_mutex);
    m_pending = std::move(snapshot);
    const std::uint64_t number = m_pendingNumber = ++m_lastNumber;
    if (awaited) m_awaited = number;
    if (!m_writing) {
        m_writing = true;
        lock.unlock();
        // Once the workers are gone (the application is ending) the state is written here.
        if (!workers::post([this] { drain(); })) drain();
    }
    return number;
}

void LibraryWriter::drain() {
    std::unique_lock lock(m_mutex);
    while (m_pending) {
        std::shared_ptr<const VELKLibrary> snapshot = std::move(m_pending);
        const std::uint64_t number = m_pendingNumber;
        lock.unlock();
        std::optional<std::string> error;
        try {
            files::writeAtomically(m_file, encodeLibrary(*snapshot, true));
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        snapshot.reset();
        lock.lock();
        m_writtenNumber = number;
        m_lastError = error;
        const bool awaited = m_awaited >= number;
        if (error && !awaited && m_failed) {
            lock.unlock();
            m_failed(*error);
            lock.lock();
        }
        m_written.notify_all();
    }
    m_writing = false;
    m_written.notify_all();
}

std::optional<std::string> LibraryWriter::waitFor(std::uint64_t number) {
    std::unique_lock lock(m_mutex);
    m_written.wait(lock, [&] { return m_writtenNumber >= number; });
    return m_lastError;
}

void LibraryWriter::flush() {
    std::unique_lock lock(m_mutex);
    m_written.wait(lock, [&] { return !m_writing && !m_pending; });
}

} // namespace velk
