#include "wifi/ui/wifi_onboarding_presenter.hpp"

#include <iterator>

#include "wifi/wifi_qr_code_image.hpp"

namespace velk::WiFiOnboarding {

Card card(const WiFiNetworkDetails& details) {
    const bool open = details.security == WiFiNetworkDetails::Security::open;
    return Card{details.ssid, WiFiNetworkDetails::label(details.security), details.hidden ? "Yes" : "No",
                open ? "None" : kHiddenPassword, !open};
}

bool joinButtonsEnabled(bool joinerIsWorking, bool changeAllowed) { return !joinerIsWorking && changeAllowed; }

std::string confirmationTitle(const std::optional<WiFiNetworkDetails>& decoded) {
    return "Join " + (decoded ? decoded->ssid : std::string("this network")) + "?";
}

bool mayHandOverJoin(bool changeAllowed, bool gateAllowsChange, bool hasDecoded) {
    return changeAllowed && gateAllowsChange && hasDecoded;
}

bool isShareable(const WiFiNetworkDetails& details) {
    if (WiFiQRCodec::hasFusedReservedCharacter(details.ssid) ||
        WiFiQRCodec::hasFusedReservedCharacter(details.password)) {
        return false;
    }
    try {
        return WiFiQRCodec::parse(WiFiQRCodec::encode(details)) == details;
    } catch (const WiFiQRError&) {
        return false;
    }
}

ShareArea shareArea(const std::string& ssid, WiFiNetworkDetails::Security security, const std::string& password,
                    bool hidden, bool confirmed) {
    if (!confirmed) return ShareArea{std::nullopt, {}, kEnterDetails};
    WiFiNetworkDetails details;
    try {
        details = WiFiQRCodec::make(ssid, security, password, hidden);
    } catch (const WiFiQRError&) {
        return ShareArea{std::nullopt, {}, kCheckDetails};
    }
    if (!isShareable(details)) return ShareArea{std::nullopt, {}, kCheckDetails};
    QImage image = WiFiQRCodeImage::generate(details);
    if (image.isNull()) return ShareArea{std::nullopt, {}, kGenerationUnavailable};
    return ShareArea{details, std::move(image), {}};
}

namespace {

void openFrom(std::size_t index, const ProgramStarter& start, std::function<void(bool)> done) {
    static const std::pair<QString, QStringList> candidates[] = {
        {QStringLiteral("gnome-control-center"), {QStringLiteral("wifi")}},
        {QStringLiteral("nm-connection-editor"), {}},
    };
    if (index >= std::size(candidates)) {
        done(false);
        return;
    }
    const auto& [program, arguments] = candidates[index];
    start(program, arguments, [index, start, done](bool opened) {
        if (opened) {
            done(true);
        } else {
            openFrom(index + 1, start, done);
        }
    });
}

} // namespace

void openWiFiSettings(const ProgramStarter& start, std::function<void(bool opened)> done) {
    openFrom(0, start, std::move(done));
}

} // namespace velk::WiFiOnboarding
