#include "discovery/source_places.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "discovery/lan_discovery.hpp"

namespace velk {
namespace {

// Eight phones P1 … P8 are listed, then each step comes: "+NAME" found and resolved, "=NAME" resolved
// (an answer), "!NAME" not resolved, "-NAME" removed; "@SESSION" after the name gives the answer's
// session ("s1" otherwise). `asked` names the resolutions asked, in order; `listed` the sources the
// list took after the first eight, as NAME@SESSION, in order.
struct PlacesCase {
    const char* name;
    std::vector<std::string> steps;
    std::string asked;
    std::string listed;
};

void PrintTo(const PlacesCase& row, std::ostream* out) { *out << row.name; }

class SourcePlacesRule : public testing::TestWithParam<PlacesCase> {};

TEST_P(SourcePlacesRule, AFreedPlaceGoesToTheFirstWaitingPhoneThatAnswersInTurn) {
    lan::SourcePlaces places(LANDiscovery::maximumTransferSources, lan::resolutionsAtOnce);
    std::string asked;
    std::string listed;
    const auto step = [&](const std::string& text) {
        const auto at = text.find('@');
        DiscoveredDevice device;
        device.serviceType = lan::transferServiceType;
        device.serviceName = text.substr(1, at == std::string::npos ? std::string::npos : at - 1);
        device.sessionId = at == std::string::npos ? "s1" : text.substr(at + 1);
        const std::vector<DiscoveredDevice> before = places.devices();
        lan::SourcePlaces::Change change;
        switch (text[0]) {
        case '+': places.found(device.serviceType, device.serviceName); [[fallthrough]];
        case '=': change = places.resolved(device); break;
        case '!': change = places.notResolved(device.serviceType, device.serviceName); break;
        default: change = places.removed(device.serviceType, device.serviceName);
        }
        for (const auto& name : change.toResolve) asked += (asked.empty() ? "" : " ") + name;
        for (const auto& source : places.devices()) {
            const auto same = [&](const DiscoveredDevice& d) { return d.serviceName == source.serviceName; };
            if (std::none_of(before.begin(), before.end(), same)) {
                listed += (listed.empty() ? "" : " ") + source.serviceName + "@" + source.sessionId.value_or("-");
            }
        }
    };
    for (int i = 1; i <= 8; ++i) step("+P" + std::to_string(i));
    listed.clear();
    for (const auto& text : GetParam().steps) step(text);
    EXPECT_EQ(asked, GetParam().asked);
    EXPECT_EQ(listed, GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourcePlacesRule,
    testing::Values(
        // The daemon goes again inside the round: New and P1 are found on both returns.
        PlacesCase{"OneGoneOneNewWithASecondReturn", {"+New", "+P1", "+New", "+P1", "-P8", "=New"}, "New", "New@s1"},
        // P8's first look-up is refused, so the round ends with it found again; the next finds it gone.
        PlacesCase{"RefusedThenNotFound", {"+New", "+P8", "+New", "-P8", "=New"}, "New", "New@s1"},
        // P8's look-up is never answered: its round ends with it kept, and P7 is found gone.
        PlacesCase{"NoAnswer", {"+New", "+P8", "-P7", "=New"}, "New", "New@s1"},
        // B came first: A's answer, though it comes first, waits for B's, and B takes the one place.
        PlacesCase{"TwoWaitingAndOnePlace", {"+B", "+A", "-P8", "=A", "=B", "-Other"}, "B A", "B@s1"},
        PlacesCase{"NewWithdrawsBeforeAPlaceFrees", {"+New", "-New", "-P8"}, "", ""},
        // Found during a return, and reported after the return's "all reported": each takes a place in turn.
        PlacesCase{"ReportedAfterTheReturnsAllReported",
                   {"+During", "+Late", "-P8", "=During", "-P7", "=Late"},
                   "During Late",
                   "During@s1 Late@s1"},
        // New re-published while it waited: its card shows what it answers when the place frees.
        PlacesCase{"WaitingPhoneRepublishedWithNewValues", {"+New@old", "-P8", "=New@new"}, "New", "New@new"},
        PlacesCase{"WaitingPhoneRepublishedRemovedAndFoundAgain",
                   {"+New@old", "-New", "+New@new", "-P8", "=New@new"},
                   "New",
                   "New@new"},
        PlacesCase{"NinthOutsideAGap", {"+P9", "-P1", "=P9"}, "P9", "P9@s1"},
        PlacesCase{"WithdrawnWhileWaiting", {"+New", "-P8", "-New", "=New"}, "New", ""},
        // A does not answer: B, answered meanwhile, takes the place; A keeps its turn for the next one.
        PlacesCase{"OneThatDoesNotAnswerKeepsItsTurn",
                   {"+A", "+B", "-P8", "=B", "!A", "-P7", "=A"},
                   "A B A",
                   "B@s1 A@s1"},
        PlacesCase{"AFewAtATime", {"+W1", "+W2", "+W3", "+W4", "+W5", "-P8", "=W1"}, "W1 W2 W3", "W1@s1"},
        // E, F and G answer unasked (found again, say) while two places are being filled: D, behind
        // the three asked, is still asked once A has taken a place.
        PlacesCase{"AnswersNobodyAskedForHoldBackNoAsk",
                   {"+A", "+B", "+C", "+D", "+E", "+F", "+G", "-P8", "-P7", "=E", "=F", "=G", "=A", "!B", "!C"},
                   "A B C D",
                   "A@s1"}),
    [](const testing::TestParamInfo<PlacesCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace velk
