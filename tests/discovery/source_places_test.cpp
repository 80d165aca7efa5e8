#include "discovery/source_places.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "discovery/lan_discovery.hpp"

namespace velk {
namespace {

// Eight phones P1 … P8 are listed, then each step comes: "+NAME" resolved, "*NAME" resolved with its
// service found on a return after a gap, "-NAME" removed.
struct PlacesCase {
    const char* name;
    std::vector<std::string> steps;
    std::set<std::string> listed;
};

void PrintTo(const PlacesCase& row, std::ostream* out) { *out << row.name; }

class SourcePlacesRule : public testing::TestWithParam<PlacesCase> {};

TEST_P(SourcePlacesRule, AFreedPlaceGoesToTheFirstPhoneWaitingSinceAReturn) {
    lan::SourcePlaces places(LANDiscovery::maximumTransferSources);
    DiscoveredDevice device;
    device.serviceType = lan::transferServiceType;
    const auto step = [&](const std::string& text) {
        device.serviceName = text.substr(1);
        if (text[0] == '-') return void(places.removed(device.serviceType, device.serviceName));
        places.resolved(device, text[0] == '*');
    };
    for (int i = 1; i <= 8; ++i) step("+P" + std::to_string(i));
    for (const auto& text : GetParam().steps) step(text);
    std::set<std::string> listed;
    for (const auto& source : places.devices()) listed.insert(source.serviceName);
    EXPECT_EQ(listed, GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourcePlacesRule,
    testing::Values(
        // The daemon goes again inside the round: New is found on the second return too.
        PlacesCase{"OneGoneOneNewWithASecondReturn",
                   {"*New", "*P1", "*New", "*P1", "-P8"},
                   {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "New"}},
        // P8's first look-up is refused, so the round ends with it found again; the next finds it gone.
        PlacesCase{"RefusedThenNotFound",
                   {"*New", "+P8", "+New", "-P8"},
                   {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "New"}},
        // P8's look-up is never answered: its round ends with it kept, and P7 is found gone.
        PlacesCase{"NoAnswer", {"*New", "+P8", "-P7"}, {"P1", "P2", "P3", "P4", "P5", "P6", "P8", "New"}},
        // The first reported takes the one place, whatever the order of their names; the other waits on.
        PlacesCase{"TwoNewAndOnePlace", {"*B", "*A", "-P8", "-Other"}, {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "B"}},
        PlacesCase{"NewWithdrawsBeforeAPlaceFrees", {"*New", "-New", "-P8"}, {"P1", "P2", "P3", "P4", "P5", "P6", "P7"}}),
    [](const testing::TestParamInfo<PlacesCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace velk
