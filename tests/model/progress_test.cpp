#include "model/progress.hpp"

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(ProgressRows, ProgressIsAQuotientCappedAtOne) {
    struct Case { std::int64_t completed, total; double expected; };
    const Case cases[] = {{500, 1000, 0.5}, {10, 0, 0.0},       {10, -5, 0.0},       {2000, 1000, 1.0},
                          {0, 1000, 0.0},   {1000, 1000, 1.0}, {-100, 1000, -0.1}};
    for (const Case& c : cases) {
        TransferStatus row{.completedBytes = c.completed, .totalBytes = c.total};
        CollectSourceStatus source{.completedBytes = c.completed, .totalBytes = c.total};
        EXPECT_DOUBLE_EQ(row.progress(), c.expected) << c.completed << "/" << c.total;
        EXPECT_DOUBLE_EQ(source.progress(), c.expected) << c.completed << "/" << c.total;
    }
}

TEST(ProgressPhases, RawValuesAreDisplayTextsMatchedExactly) {
    const std::pair<TransferPhase, const char*> transfer[] = {
        {TransferPhase::queued, "Queued"}, {TransferPhase::downloading, "Downloading"},
        {TransferPhase::verifying, "Verifying"}, {TransferPhase::ready, "Ready"}, {TransferPhase::failed, "Failed"}};
    for (auto [phase, text] : transfer) {
        EXPECT_EQ(rawValue(phase), text);
        EXPECT_EQ(transferPhaseFromRawValue(text), phase);
        Json json = phase;
        EXPECT_EQ(json, text);
        EXPECT_EQ(json.get<TransferPhase>(), phase);
    }
    for (const char* text : {"queued", "QUEUED", " Queued", "", "Needs retry"})
        EXPECT_FALSE(transferPhaseFromRawValue(text).has_value()) << text;

    const std::pair<CollectSourcePhase, const char*> collect[] = {
        {CollectSourcePhase::discovered, "Discovered"}, {CollectSourcePhase::loading, "Loading catalog"},
        {CollectSourcePhase::ready, "Ready"},           {CollectSourcePhase::downloading, "Downloading"},
        {CollectSourcePhase::verifying, "Verifying"},   {CollectSourcePhase::complete, "Complete"},
        {CollectSourcePhase::failed, "Needs retry"},    {CollectSourcePhase::returning, "Returning to camera"},
        {CollectSourcePhase::ended, "Camera mode requested"}};
    for (auto [phase, text] : collect) {
        EXPECT_EQ(rawValue(phase), text);
        EXPECT_EQ(collectSourcePhaseFromRawValue(text), phase);
    }
    for (const char* text : {"Failed", "needs retry", "Loading"})
        EXPECT_FALSE(collectSourcePhaseFromRawValue(text).has_value()) << text;
}

TEST(ProgressPhases, TransferPhaseJsonIsStrict) {
    TransferPhase phase = TransferPhase::ready;
    for (const char* text : {R"("queued")", "1", "null", R"(["Queued"])"})
        EXPECT_THROW(from_json(Json::parse(text), phase), JsonError) << text;
    EXPECT_EQ(phase, TransferPhase::ready);
}

} // namespace
} // namespace velk
