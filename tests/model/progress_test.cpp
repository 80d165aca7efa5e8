#include "model/progress.hpp"

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(ProgressRows, ProgressIsAQuotientCappedAtOne) {
    struct Case {
        std::int64_t completed, total;
        double expected;
    };
    const Case cases[] = {{500, 1000, 0.5}, {10, 0, 0.0},  {10, -5, 0.0}, {2000, 1000, 1.0},
                          {0, 1000, 0.0},   {1000, 1000, 1.0}, {-100, 1000, -0.1}};
    for (const Case& c : cases) {
        TransferStatus row{.id = "r", .clipName = "A001.mov", .phase = TransferPhase::downloading,
                           .completedBytes = c.completed, .totalBytes = c.total};
        EXPECT_DOUBLE_EQ(row.progress(), c.expected) << c.completed << "/" << c.total;
        CollectSourceStatus source{.deviceID = "d", .name = "Phone", .phase = CollectSourcePhase::downloading,
                                   .completedBytes = c.completed, .totalBytes = c.total};
        EXPECT_DOUBLE_EQ(source.progress(), c.expected);
    }
}

TEST(ProgressRows, TransferPhaseRawValuesAreDisplayTexts) {
    const std::pair<TransferPhase, const char*> cases[] = {{TransferPhase::queued, "Queued"},
                                                           {TransferPhase::downloading, "Downloading"},
                                                           {TransferPhase::verifying, "Verifying"},
                                                           {TransferPhase::ready, "Ready"},
                                                           {TransferPhase::failed, "Failed"}};
    for (auto [phase, text] : cases) {
        EXPECT_EQ(rawValue(phase), text);
        EXPECT_EQ(transferPhaseFromRawValue(text), phase);
        Json json = phase;
        EXPECT_EQ(json, text);
        EXPECT_EQ(json.get<TransferPhase>(), phase);
    }
    for (const char* text : {"queued", "QUEUED", " Queued", "", "Needs retry"})
        EXPECT_FALSE(transferPhaseFromRawValue(text).has_value()) << text;
}

TEST(ProgressRows, TransferPhaseJsonIsStrict) {
    TransferPhase phase = TransferPhase::ready;
    for (const char* text : {R"("queued")", "1", "null", R"(["Queued"])"})
        EXPECT_THROW(from_json(Json::parse(text), phase), JsonError) << text;
    EXPECT_EQ(phase, TransferPhase::ready);
}

TEST(ProgressRows, CollectSourcePhaseRawValuesAreDisplayTexts) {
    const std::pair<CollectSourcePhase, const char*> cases[] = {
        {CollectSourcePhase::discovered, "Discovered"},   {CollectSourcePhase::loading, "Loading catalog"},
        {CollectSourcePhase::ready, "Ready"},             {CollectSourcePhase::downloading, "Downloading"},
        {CollectSourcePhase::verifying, "Verifying"},     {CollectSourcePhase::complete, "Complete"},
        {CollectSourcePhase::failed, "Needs retry"},      {CollectSourcePhase::returning, "Returning to camera"},
        {CollectSourcePhase::ended, "Camera mode requested"}};
    for (auto [phase, text] : cases) {
        EXPECT_EQ(rawValue(phase), text);
        EXPECT_EQ(collectSourcePhaseFromRawValue(text), phase);
    }
    EXPECT_FALSE(collectSourcePhaseFromRawValue("Failed").has_value());
    EXPECT_FALSE(collectSourcePhaseFromRawValue("needs retry").has_value());
    EXPECT_FALSE(collectSourcePhaseFromRawValue("Loading").has_value());
}

TEST(ProgressRows, RowsDifferingOnlyInMessageAreUnequal) {
    TransferStatus a{.id = "r", .clipName = "c", .phase = TransferPhase::failed, .completedBytes = 1, .totalBytes = 2};
    TransferStatus b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<TransferStatus>{}(a), std::hash<TransferStatus>{}(b));
    b.message = "Digest mismatch";
    EXPECT_NE(a, b);
    EXPECT_EQ(a.message, "");
    CollectSourceStatus s{.deviceID = "d", .name = "n", .phase = CollectSourcePhase::ready};
    CollectSourceStatus t = s;
    t.message = "x";
    EXPECT_NE(s, t);
    EXPECT_EQ(s.id(), "d");
    EXPECT_EQ(s.completedBytes, 0);
}

TEST(ProgressRows, SessionSummaryIdentityIsTheDevice) {
    TransferSessionSummary summary{.deviceId = "dev", .deviceName = "Phone", .sessionId = "s",
                                   .expiresAt = WallTime{} + std::chrono::hours(1), .fingerprint = "ab"};
    EXPECT_EQ(summary.id(), "dev");
    EXPECT_FALSE(summary.openAccess);
    EXPECT_FALSE(summary.supportsProjectTrash);
    TransferSessionSummary other = summary;
    EXPECT_EQ(std::hash<TransferSessionSummary>{}(summary), std::hash<TransferSessionSummary>{}(other));
    other.expiresAt += std::chrono::seconds(1);
    EXPECT_NE(summary, other);
}

TEST(ActivityEntries, EveryEntryIsDistinct) {
    const WallTime date = WallTime{} + std::chrono::seconds(5);
    ActivityEntry a(date, "Imported manifest");
    ActivityEntry b(date, "Imported manifest");
    EXPECT_FALSE(a.isError);
    EXPECT_NE(a, b);
    EXPECT_NE(a.id(), b.id());
    ActivityEntry copy = a;
    EXPECT_EQ(copy, a);
    EXPECT_EQ(std::hash<ActivityEntry>{}(copy), std::hash<ActivityEntry>{}(a));
    ActivityEntry error(date, "Resolve export failed: x", true);
    EXPECT_TRUE(error.isError);
}

} // namespace
} // namespace velk
