#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "transfer/disk_reservations.hpp"

namespace velk {
namespace {

namespace fs = std::filesystem;

// Two file systems: "/disk1/..." and "/disk2/..."; what is free on each is set by the test, as
// writes would change it. Anything else cannot be told.
class Disks {
public:
    void setFree(dev_t device, std::int64_t bytes) {
        std::lock_guard lock(m_mutex);
        m_free[device] = bytes;
    }
    DiskReservations ledger() {
        return DiskReservations([this](const fs::path& folder) -> std::optional<files::DiskSpace> {
            const std::string text = folder.string();
            const dev_t device = text.starts_with("/disk1/") ? 1 : text.starts_with("/disk2/") ? 2 : 0;
            std::lock_guard lock(m_mutex);
            if (device == 0) return std::nullopt;
            return files::DiskSpace{device, m_free[device]};
        });
    }

private:
    std::mutex m_mutex;
    std::map<dev_t, std::int64_t> m_free;
};

TEST(DiskReservations, CountWhatOthersOnTheSameDiskStillHaveToWrite) {
    Disks disks;
    disks.setFree(1, 20);
    disks.setFree(2, 20);
    DiskReservations ledger = disks.ledger();

    auto first = ledger.reserve("/disk1/a", 15);
    EXPECT_TRUE(first.fits);
    EXPECT_EQ(first.available, 20);
    auto second = ledger.reserve("/disk1/b", 15);
    EXPECT_FALSE(second.fits);
    EXPECT_EQ(second.available, 5);
    EXPECT_EQ(ledger.outstanding("/disk1/x"), 15); // a refusal reserves nothing
    EXPECT_TRUE(ledger.reserve("/disk1/c", 5).fits);
    EXPECT_TRUE(ledger.reserve("/disk2/b", 15).fits); // another file system is another account
    EXPECT_EQ(ledger.outstanding("/disk2/x"), 0);     // ...and each reservation went with its answer

    // Bytes written show in the free space and leave the reservation.
    first.reservation.written(10);
    disks.setFree(1, 10);
    EXPECT_EQ(ledger.outstanding("/disk1/x"), 5);
    EXPECT_EQ(ledger.reserve("/disk1/b", 6).available, 5);
    first.reservation.written(4); // a count that only grows
    EXPECT_EQ(ledger.outstanding("/disk1/x"), 5);
    first.reservation.written(99); // never more than was reserved
    EXPECT_EQ(ledger.outstanding("/disk1/x"), 0);
}

TEST(DiskReservations, GoBackWhenTheirDownloadEndsHoweverItEnds) {
    Disks disks;
    disks.setFree(1, 20);
    DiskReservations ledger = disks.ledger();
    {
        auto failed = ledger.reserve("/disk1/a", 15);
        failed.reservation.written(3);
        EXPECT_EQ(ledger.outstanding("/disk1/a"), 12);
    }
    EXPECT_EQ(ledger.outstanding("/disk1/a"), 0);

    auto moved = ledger.reserve("/disk1/a", 8);
    DiskReservations::Reservation held = std::move(moved.reservation);
    EXPECT_EQ(ledger.outstanding("/disk1/a"), 8);
    held.written(2);
    DiskReservations::Reservation replaced = ledger.reserve("/disk1/b", 4).reservation;
    replaced = std::move(held); // the one it held goes back
    EXPECT_EQ(ledger.outstanding("/disk1/a"), 6);
    replaced.release();
    replaced.release();
    EXPECT_EQ(ledger.outstanding("/disk1/a"), 0);

    // Where the free space cannot be told nothing is refused, and nothing is held.
    auto unknown = ledger.reserve("/elsewhere", 1'000);
    EXPECT_TRUE(unknown.fits);
    EXPECT_FALSE(unknown.available);
    // Nothing to write takes no room.
    EXPECT_TRUE(ledger.reserve("/disk1/a", 0).fits);
    EXPECT_EQ(ledger.outstanding("/disk1/a"), 0);
}

// Many downloads asking at once: no more are granted than fit together.
TEST(DiskReservations, OfManyAskingAtOnceOnlyThoseThatFitTogetherGetRoom) {
    Disks disks;
    disks.setFree(1, 100);
    DiskReservations ledger = disks.ledger();
    std::atomic<int> granted = 0;
    std::vector<DiskReservations::Reservation> held(16);
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&, i] {
            auto answer = ledger.reserve("/disk1/clip" + std::to_string(i), 30);
            if (answer.fits) ++granted;
            held[static_cast<std::size_t>(i)] = std::move(answer.reservation);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(granted, 3);
    EXPECT_EQ(ledger.outstanding("/disk1/x"), 90);
    held.clear();
    EXPECT_EQ(ledger.outstanding("/disk1/x"), 0);
}

} // namespace
} // namespace velk
