#pragma once
// What the downloads under way still have to write, per file system. A download reserves the rest
// of its clip before it writes anything, and only when that fits in what the file system has free
// less what the other downloads there still have to write; so two clips that each fit, but not
// together, never both start. Safe to use from any thread.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "base/files.hpp"

namespace velk {

class DiskReservations {
    struct Ledger {
        std::mutex mutex;
        std::map<dev_t, std::int64_t> outstanding; // by file system: what reservations still have to write
        void add(dev_t device, std::int64_t bytes);  // with the mutex held
    };

public:
    // The file system that holds a folder and what is free there; none when that cannot be told.
    using SpaceOf = std::function<std::optional<files::DiskSpace>(const std::filesystem::path&)>;

    // Holds bytes on one file system until it goes, or until they are written. `written` may come
    // from another thread than the owner's, but not while the reservation is moved.
    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;
        ~Reservation();

        // `bytes` of the reserved ones are on the disk now (a count that only grows): the free
        // space shows them from here on, so the reservation no longer does.
        void written(std::int64_t bytes);
        // Gives back what is not written yet. Also done when the reservation goes.
        void release();

    private:
        friend class DiskReservations;
        Reservation(std::shared_ptr<Ledger> ledger, dev_t device, std::int64_t bytes)
            : m_ledger(std::move(ledger)), m_device(device), m_reserved(bytes) {}

        std::shared_ptr<Ledger> m_ledger;
        dev_t m_device = 0;
        std::int64_t m_reserved = 0;
        std::int64_t m_written = 0; // changed with the ledger's mutex held
    };

    struct Answer {
        // False when the bytes do not fit; nothing is reserved then.
        bool fits = true;
        // The free space the bytes were measured against: the file system's, less what the other
        // reservations there still have to write, never below 0. None when it cannot be told, in
        // which case nothing is refused and nothing reserved.
        std::optional<std::int64_t> available;
        Reservation reservation;
    };

    explicit DiskReservations(SpaceOf spaceOf = files::diskSpace);

    // Reserves `bytes` on the file system that holds `folder` (asked of the nearest folder of the
    // path that exists) when they fit. The free space is read and compared, and the bytes
    // reserved, in one step, so of two downloads that ask at once only one can take the room.
    Answer reserve(const std::filesystem::path& folder, std::int64_t bytes);

    // What the reservations on the file system that holds `folder` still have to write.
    std::int64_t outstanding(const std::filesystem::path& folder) const;

    // The one ledger of this process's downloads.
    static DiskReservations& downloads();

private:
    SpaceOf m_spaceOf;
    std::shared_ptr<Ledger> m_ledger = std::make_shared<Ledger>();
};

} // namespace velk
