#include <string>

#include <gtest/gtest.h>

#include "discovery/snapshot_order_filter.hpp"

namespace velk {
namespace {

const std::string firstSession = "6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b";
const std::string secondSession = "11111111-2222-4333-8444-555555555555";

LiveCameraPacket sessionPacket(const std::string& session, Json seq, const std::string& id = "cam") {
    LiveCameraPacket packet;
    packet.type = "status";
    packet.sender = id;
    packet.payload = Json::object();
    packet.hasSessionID = true;
    packet.sessionID = session;
    packet.hasSequence = true;
    packet.sequence = std::move(seq);
    return packet;
}

LiveCameraPacket legacyPacket(std::optional<Json> sentMs, const std::string& id = "cam") {
    LiveCameraPacket packet;
    packet.type = "status";
    packet.sender = id;
    packet.payload = Json::object();
    packet.hasSentMs = sentMs.has_value();
    packet.sentMs = std::move(sentMs);
    return packet;
}

TEST(SnapshotOrderSameSession, OnlyHigherSequencesPass) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 5), 0, true, true));
    EXPECT_FALSE(order.accept(sessionPacket(firstSession, 5), 1, true, true));
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 6), 2, true, true));
    EXPECT_FALSE(order.accept(sessionPacket(firstSession, 4), 3, true, true));
    EXPECT_EQ(order.highest, 6);
    EXPECT_EQ(order.lastAccepted, 2);
}

TEST(SnapshotOrderSameSession, FirstSnapshotWithSequenceZeroIsAccepted) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 0), 0, true, true));
    EXPECT_EQ(order.session, firstSession);
}

TEST(SnapshotOrderSameSession, ProbeWithoutSwitchNeedsTheStoredSession) {
    PeerSnapshotOrder order;
    EXPECT_FALSE(order.accept(sessionPacket(firstSession, 0), 0, false, false)) << "no session adopted without permission";
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 1), 0, true, true));
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 2), 1, false, false));
    EXPECT_FALSE(order.accept(sessionPacket(secondSession, 9), 2, false, false));
    EXPECT_EQ(order.session, firstSession);
}

TEST(SnapshotOrderSessions, NewSessionRetiresTheOldForGood) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 10), 0, true, true));
    EXPECT_TRUE(order.accept(sessionPacket(secondSession, 0), 1, true, true));
    EXPECT_FALSE(order.accept(sessionPacket(firstSession, 11), 2, true, true));
    EXPECT_EQ(order.retired.count(firstSession), 1u);
}

TEST(SnapshotOrderSessions, OldestOfSeventeenRetiredSessionsIsForgotten) {
    PeerSnapshotOrder order;
    auto session = [](int i) {
        char text[37];
        std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", i);
        return std::string(text);
    };
    for (int i = 0; i <= 17; ++i) ASSERT_TRUE(order.accept(sessionPacket(session(i), 0), i, true, true)) << i;
    EXPECT_EQ(order.retiredOrder.size(), 16u);
    EXPECT_EQ(order.retired.size(), 16u);
    EXPECT_FALSE(order.retired.count(session(0)));
    EXPECT_TRUE(order.accept(sessionPacket(session(0), 0), 100, true, true)) << "forgotten session is new again";
    EXPECT_FALSE(order.accept(sessionPacket(session(2), 50), 101, true, true)) << "still retired";
}

TEST(SnapshotOrderSessions, CapitalSessionIsCanonicalisedToLowerCase) {
    PeerSnapshotOrder order;
    std::string upper = "6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B";
    EXPECT_TRUE(order.accept(sessionPacket(upper, 1), 0, true, true));
    EXPECT_EQ(order.session, firstSession);
    EXPECT_FALSE(order.accept(sessionPacket(firstSession, 1), 1, true, true));
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 2), 1, true, true));
}

TEST(SnapshotOrderSessions, MalformedSessionOrSequenceIsRefused) {
    struct Case {
        const char* name;
        Json session;
        std::optional<Json> seq;
    };
    const Case cases[] = {
        {"NoHyphens", "6f1c2a3b4d5e4f608a7b9c0d1e2f3a4b", Json(1)},
        {"Braces", "{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}", Json(1)},
        {"NumberSession", Json(5), Json(1)},
        {"SeqMissing", Json(firstSession), std::nullopt},
        {"SeqString", Json(firstSession), Json("1")},
        {"SeqFraction", Json(firstSession), Json(1.5)},
        {"SeqNegative", Json(firstSession), Json(-1)},
        {"SeqTooLarge", Json(firstSession), Json(9007199254740992.0)},
        {"SeqBoolean", Json(firstSession), Json(true)},
    };
    for (const Case& c : cases) {
        LiveCameraPacket packet = sessionPacket("", 0);
        packet.sessionID = c.session;
        packet.hasSequence = c.seq.has_value();
        packet.sequence = c.seq;
        PeerSnapshotOrder order;
        EXPECT_FALSE(order.accept(packet, 0, true, true)) << c.name;
        EXPECT_EQ(order.session, std::nullopt) << c.name;
    }
}

TEST(SnapshotOrderSessions, LargestSafeSequenceIsAccepted) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, Json(9007199254740991LL)), 0, true, true));
}

TEST(SnapshotOrderLegacy, SentMsMayNotGoBackWithinTheQuietPeriod) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(legacyPacket(Json(1000)), 0, true, true));
    EXPECT_FALSE(order.accept(legacyPacket(Json(900)), 6500, true, true));
    EXPECT_TRUE(order.accept(legacyPacket(Json(1000)), 6500, true, true)) << "equal counts as newer";
    EXPECT_TRUE(order.accept(legacyPacket(Json(900)), 13001, true, true)) << "reset after more than 6500 ms";
    EXPECT_EQ(order.legacySent, 900);
}

TEST(SnapshotOrderLegacy, ProbeCannotResetTheLegacyClock) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(legacyPacket(Json(1000)), 0, true, true));
    EXPECT_FALSE(order.accept(legacyPacket(Json(900)), 20000, false, false));
}

TEST(SnapshotOrderLegacy, WithoutAnyOrderKeyOnlyUdpIsAccepted) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(legacyPacket(std::nullopt), 0, true, true));
    EXPECT_TRUE(order.accept(legacyPacket(std::nullopt), 1, true, true));
    EXPECT_FALSE(order.accept(legacyPacket(std::nullopt), 2, false, false));
}

TEST(SnapshotOrderLegacy, SequenceWithoutSessionAndMistypedSentMsAreRefused) {
    PeerSnapshotOrder order;
    LiveCameraPacket withSequence = legacyPacket(Json(5));
    withSequence.hasSequence = true;
    withSequence.sequence = Json(1);
    EXPECT_FALSE(order.accept(withSequence, 0, true, true));
    EXPECT_FALSE(order.accept(legacyPacket(Json("1000")), 0, true, true));
}

TEST(SnapshotOrderLegacy, AfterASessionSessionlessSnapshotsAreRefused) {
    PeerSnapshotOrder order;
    EXPECT_TRUE(order.accept(legacyPacket(Json(1000)), 0, true, true));
    EXPECT_TRUE(order.accept(sessionPacket(firstSession, 0), 1, true, true));
    EXPECT_FALSE(order.accept(legacyPacket(Json(2000)), 10000, true, true));
}

// --- the table ---

TEST(SnapshotOrderTable, The129thCameraEvictsTheFirstAndItsRevision) {
    SnapshotOrderTable table;
    for (int i = 0; i < 128; ++i) {
        std::string id = "cam-" + std::to_string(i);
        ASSERT_TRUE(table.acceptSnapshot(sessionPacket(firstSession, 5, id), 0, true, true));
        table.recordUDPSnapshot(id);
    }
    EXPECT_TRUE(table.lastUDPRevision("cam-0"));
    ASSERT_TRUE(table.acceptSnapshot(sessionPacket(firstSession, 1, "cam-new"), 0, true, true));
    table.recordUDPSnapshot("cam-new");
    EXPECT_EQ(table.size(), 128u);
    EXPECT_EQ(table.revisionCount(), 128u);
    EXPECT_EQ(table.order("cam-0"), nullptr);
    EXPECT_FALSE(table.lastUDPRevision("cam-0"));
    // cam-0 starts fresh: a lower sequence is accepted.
    EXPECT_TRUE(table.acceptSnapshot(sessionPacket(firstSession, 1, "cam-0"), 0, true, true));
}

TEST(SnapshotOrderTable, IdOf129BytesIsRefusedBeforeAnyChange) {
    SnapshotOrderTable table;
    EXPECT_FALSE(table.acceptSnapshot(sessionPacket(firstSession, 1, std::string(129, 'x')), 0, true, true));
    EXPECT_EQ(table.size(), 0u);
}

TEST(SnapshotOrderTable, RefusedSnapshotStillCreatesTheEntry) {
    SnapshotOrderTable table;
    EXPECT_FALSE(table.acceptSnapshot(sessionPacket(firstSession, 1), 0, false, false));
    EXPECT_EQ(table.size(), 1u);
}

TEST(SnapshotOrderTable, ProbeAdmissionFollowsUdpRevisions) {
    SnapshotOrderTable table;
    using Admission = SnapshotOrderTable::ProbeAdmission;
    EXPECT_EQ(table.probeAdmission("cam", 0), Admission::sessionSwitchAllowed);
    ASSERT_TRUE(table.acceptSnapshot(sessionPacket(firstSession, 1), 0, true, true));
    table.recordUDPSnapshot("cam");
    std::uint64_t probeStart = table.udpRevision();
    EXPECT_EQ(table.probeAdmission("cam", probeStart), Admission::sameSessionOnly);
    ASSERT_TRUE(table.acceptSnapshot(sessionPacket(firstSession, 2), 0, true, true));
    table.recordUDPSnapshot("cam");
    EXPECT_EQ(table.probeAdmission("cam", probeStart), Admission::dropped);
}

} // namespace
} // namespace velk
