#include "transfer/disk_reservations.hpp"

#include <algorithm>
#include <utility>

namespace velk {

void DiskReservations::Ledger::add(dev_t device, std::int64_t bytes) {
    if (bytes == 0) return;
    const std::int64_t now = outstanding[device] += bytes;
    if (now == 0) outstanding.erase(device);
}

DiskReservations::Reservation::Reservation(Reservation&& other) noexcept
    : m_ledger(std::move(other.m_ledger)), m_device(other.m_device), m_reserved(other.m_reserved), m_written(other.m_written) {}

DiskReservations::Reservation& DiskReservations::Reservation::operator=(Reservation&& other) noexcept {
    if (this == &other) return *this;
    release();
    m_ledger = std::move(other.m_ledger);
    m_device = other.m_device;
    m_reserved = other.m_reserved;
    m_written = other.m_written;
    return *this;
}

DiskReservations::Reservation::~Reservation() { release(); }

void DiskReservations::Reservation::written(std::int64_t bytes) {
    if (!m_ledger) return;
    std::lock_guard lock(m_ledger->mutex);
    const std::int64_t now = std::clamp<std::int64_t>(bytes, m_written, m_reserved);
    m_ledger->add(m_device, -(now - m_written));
    m_written = now;
}

void DiskReservations::Reservation::release() {
    if (!m_ledger) return;
    {
        std::lock_guard lock(m_ledger->mutex);
        m_ledger->add(m_device, -(m_reserved - m_written));
    }
    m_ledger.reset();
}

DiskReservations::DiskReservations(SpaceOf spaceOf) : m_spaceOf(std::move(spaceOf)) {}

DiskReservations::Answer DiskReservations::reserve(const std::filesystem::path& folder, std::int64_t bytes) {
    bytes = std::max<std::int64_t>(bytes, 0);
    std::lock_guard lock(m_ledger->mutex);
    const std::optional<files::DiskSpace> space = m_spaceOf(folder);
    if (!space) return Answer{};
    const auto found = m_ledger->outstanding.find(space->device);
    const std::int64_t others = found == m_ledger->outstanding.end() ? 0 : found->second;
    Answer answer;
    answer.available = std::max<std::int64_t>(space->freeBytes - others, 0);
    answer.fits = bytes <= *answer.available;
    if (!answer.fits || bytes == 0) return answer;
    m_ledger->add(space->device, bytes);
    answer.reservation = Reservation(m_ledger, space->device, bytes);
    return answer;
}

std::int64_t DiskReservations::outstanding(const std::filesystem::path& folder) const {
    std::lock_guard lock(m_ledger->mutex);
    const std::optional<files::DiskSpace> space = m_spaceOf(folder);
    if (!space) return 0;
    const auto found = m_ledger->outstanding.find(space->device);
    return found == m_ledger->outstanding.end() ? 0 : found->second;
}

DiskReservations& DiskReservations::downloads() {
    static DiskReservations ledger;
    return ledger;
}

} // namespace velk
