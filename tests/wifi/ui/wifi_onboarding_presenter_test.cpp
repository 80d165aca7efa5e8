#include <optional>
#include <random>

#include <gtest/gtest.h>

#include "base/unicode.hpp"
#include "wifi/ui/wifi_onboarding_presenter.hpp"

namespace velk {
namespace {

using Security = WiFiNetworkDetails::Security;

TEST(WiFiSharePanelArea, DrawsNoQRForDetailsThatAReaderCouldSplitElsewhere) {
    const std::string check =
        "Check the network name and password. Personal passwords must be 8–63 printable ASCII characters.";
    const std::pair<std::string, std::string> cases[] = {
        {"a;b:c", ""},
        {"a;\u0301b", check},  // ";" fused with a combining mark
        {"a,\u20DD", check},   // "," fused with an enclosing mark
        {"\u0301ab", check},   // the mark would fuse with the colon of "S:"
    };
    for (const auto& [ssid, placeholder] : cases) {
        const auto area = WiFiOnboarding::shareArea(ssid, Security::open, "", false, true);
        EXPECT_EQ(area.placeholderDetail, placeholder) << ssid;
        EXPECT_EQ(area.image.isNull(), !placeholder.empty()) << ssid;
    }
}

// A reader that walks code points: it splits at every unescaped ";" and unescapes per code point.
std::optional<WiFiNetworkDetails> readByCodePoint(const std::string& qr) {
    const auto scalars = text::scalars(qr.substr(5, qr.size() - 7));
    std::map<std::string, std::string> fields;
    std::vector<char32_t> field;
    const auto finish = [&] {
        const auto colon = std::find(field.begin(), field.end(), U':');
        std::vector<char32_t> value;
        for (auto it = colon + (colon != field.end()); it < field.end(); ++it) value.push_back(*it == U'\\' ? *++it : *it);
        fields[text::fromScalars({field.begin(), colon})] = text::fromScalars(value);
        field.clear();
    };
    for (std::size_t i = 0; i < scalars.size(); ++i) {
        if (scalars[i] == U';') {
            finish();
            continue;
        }
        field.push_back(scalars[i]);
        if (scalars[i] == U'\\' && i + 1 < scalars.size()) field.push_back(scalars[++i]);
    }
    finish();
    const auto security = WiFiNetworkDetails::securityFromRawValue(fields["T"]);
    if (!security) return std::nullopt;
    return WiFiNetworkDetails{fields["S"], *security, fields["P"], fields["H"] == "true"};
}

TEST(WiFiSharePanelArea, AShownQRNamesTheSameNetworkForReadersThatSplitByCodePoint) {
    const std::vector<std::string> alphabet{"a", " ", ";", ":", ",", "\"", "\\", "é", "\u0301", "\u20DD", "日"};
    std::mt19937 random(7);
    int shown = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string ssid;
        for (int n = std::uniform_int_distribution(1, 8)(random); n > 0; --n) {
            ssid += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
        }
        const auto area = WiFiOnboarding::shareArea(ssid, Security::open, "", false, true);
        if (!area.details) continue;
        ++shown;
        EXPECT_EQ(readByCodePoint(WiFiQRCodec::encode(*area.details)), area.details) << ssid;
    }
    EXPECT_GT(shown, 300);
}

TEST(WiFiOnboardingPresenter, OpensTheFirstSettingsProgramThatStarts) {
    QStringList tried;
    const auto startOnly = [&](const QString& which) {
        return [&, which](const QString& program, const QStringList& arguments, std::function<void(bool)> done) {
            tried << (program + " " + arguments.join(' ')).trimmed();
            done(program == which);
        };
    };
    const auto open = [](const WiFiOnboarding::ProgramStarter& start) {
        std::optional<bool> opened;
        WiFiOnboarding::openWiFiSettings(start, [&](bool answer) { opened = answer; });
        return opened;
    };
    EXPECT_EQ(open(startOnly("gnome-control-center")), true);
    EXPECT_EQ(tried, QStringList{"gnome-control-center wifi"});
    tried.clear();
    EXPECT_EQ(open(startOnly("nm-connection-editor")), true);
    EXPECT_EQ(tried, (QStringList{"gnome-control-center wifi", "nm-connection-editor"}));
    tried.clear();
    EXPECT_EQ(open(startOnly("none")), false);
    EXPECT_EQ(tried, (QStringList{"gnome-control-center wifi", "nm-connection-editor"}));
}

} // namespace
} // namespace velk
