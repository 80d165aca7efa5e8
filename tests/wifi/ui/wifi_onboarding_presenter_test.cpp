#include <random>

#include <gtest/gtest.h>

#include "base/unicode.hpp"
#include "wifi/ui/wifi_onboarding_presenter.hpp"

namespace velk {
namespace {

using Security = WiFiNetworkDetails::Security;

const std::string kEnter = "Enter the actual network name, security, and password, then confirm them.";
const std::string kCheck =
    "Check the network name and password. Personal passwords must be 8–63 printable ASCII characters.";

TEST(WiFiSharePanelArea, ShowsAQROnlyForConfirmedDetailsThatReadBackSafely) {
    struct Case {
        std::string ssid;
        Security security;
        std::string password;
        bool confirmed;
        std::string placeholder; // empty: the QR display
    };
    const Case cases[] = {
        {"Home", Security::wpa, "password1", false, kEnter},
        {"", Security::wpa, "password1", true, kCheck},
        {"Home", Security::wpa, "passwd7", true, kCheck},
        {std::string(33, 'n'), Security::open, "", true, kCheck},
        {"Home", Security::wpa, "password1", true, ""},
        {"a;b:c", Security::open, "", true, ""},
        {"a;\u0301b", Security::open, "", true, kCheck}, // ";" fused with a mark
        {"\u0301ab", Security::open, "", true, kCheck},  // the mark would fuse with "S:"
    };
    for (const auto& c : cases) {
        const auto area = WiFiOnboarding::shareArea(c.ssid, c.security, c.password, false, c.confirmed);
        EXPECT_EQ(area.placeholderDetail, c.placeholder) << c.ssid;
        EXPECT_EQ(area.details.has_value(), c.placeholder.empty()) << c.ssid;
        EXPECT_EQ(area.image.isNull(), !c.placeholder.empty()) << c.ssid;
    }
}

// How a reader that walks code points rather than characters reads the text: it splits at every
// unescaped ";" and unescapes per code point.
std::optional<WiFiNetworkDetails> readByCodePoint(const std::string& qr) {
    const auto scalars = text::scalars(qr.substr(5, qr.size() - 7));
    std::map<std::string, std::string> fields;
    std::vector<char32_t> current;
    const auto finish = [&] {
        const auto colon = std::find(current.begin(), current.end(), U':');
        if (colon == current.end()) return;
        std::vector<char32_t> value;
        for (auto it = colon + 1; it != current.end(); ++it) {
            if (*it == U'\\' && it + 1 != current.end()) ++it;
            value.push_back(*it);
        }
        fields[text::fromScalars({current.begin(), colon})] = text::fromScalars(value);
        current.clear();
    };
    for (std::size_t i = 0; i < scalars.size(); ++i) {
        if (scalars[i] == U'\\' && i + 1 < scalars.size()) {
            current.push_back(scalars[i]);
            current.push_back(scalars[++i]);
        } else if (scalars[i] == U';') {
            finish();
        } else {
            current.push_back(scalars[i]);
        }
    }
    finish();
    const auto security = WiFiNetworkDetails::securityFromRawValue(fields["T"]);
    if (!security) return std::nullopt;
    return WiFiNetworkDetails{fields["S"], *security, fields["P"], fields["H"] == "true"};
}

TEST(WiFiSharePanelArea, AShownQRNamesTheSameNetworkForReadersThatSplitByCodePoint) {
    const std::vector<std::string> alphabet{"a", " ", ";", ":", ",", "\"", "\\", "é", "\u0301", "\u20DD", "日"};
    std::mt19937 random(7);
    int shareable = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string ssid;
        for (int n = std::uniform_int_distribution(1, 8)(random); n > 0; --n) {
            ssid += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
        }
        WiFiNetworkDetails details;
        try {
            details = WiFiQRCodec::make(ssid, Security::open, "", false);
        } catch (const WiFiQRError&) {
            continue;
        }
        if (!WiFiOnboarding::isShareable(details)) continue;
        ++shareable;
        EXPECT_EQ(readByCodePoint(WiFiQRCodec::encode(details)), details) << ssid;
    }
    EXPECT_GT(shareable, 300);
}

TEST(WiFiOnboardingPresenter, OpensTheFirstSettingsProgramThatStarts) {
    QStringList tried;
    const auto startOnly = [&](const QString& which) {
        return [&, which](const QString& program, const QStringList& arguments) {
            tried << (program + " " + arguments.join(' ')).trimmed();
            return program == which;
        };
    };
    EXPECT_TRUE(WiFiOnboarding::openWiFiSettings(startOnly("gnome-control-center")));
    EXPECT_EQ(tried, QStringList{"gnome-control-center wifi"});
    tried.clear();
    EXPECT_TRUE(WiFiOnboarding::openWiFiSettings(startOnly("nm-connection-editor")));
    EXPECT_EQ(tried, (QStringList{"gnome-control-center wifi", "nm-connection-editor"}));
    EXPECT_FALSE(WiFiOnboarding::openWiFiSettings(startOnly("none")));
}

TEST(WiFiOnboardingPresenter, TheCardNeverShowsThePassword) {
    const auto personal = WiFiOnboarding::card({"Home", Security::sae, "a-very-long-password", true});
    EXPECT_EQ(personal.password, "••••••••");
    EXPECT_EQ(personal.hidden, "Yes");
    EXPECT_TRUE(personal.showsCopyPassword);
    const auto open = WiFiOnboarding::card({"Cafe", Security::open, "", false});
    EXPECT_EQ(open.password, "None");
    EXPECT_FALSE(open.showsCopyPassword);
    EXPECT_EQ(WiFiOnboarding::confirmationTitle(std::nullopt), "Join this network?");
}

} // namespace
} // namespace velk
