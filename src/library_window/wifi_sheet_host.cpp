#include <QDialog>

#include "library_window/library_commands.hpp"
#include "wifi/ui/wifi_onboarding_view.hpp"
#include "wifi/wifi_change_gate.hpp"
#include "wifi/wifi_join_coordinator.hpp"

namespace velk {

namespace {

// The Wi-Fi QR sheet over the window's own change gate, which starts closed.
class OnboardingSheetHost final : public WiFiSheetHost {
public:
    explicit OnboardingSheetHost(std::shared_ptr<const CancellationToken> quitting) : m_quitting(std::move(quitting)) {}

    void updateGate(bool allowed) override { m_gate->update(allowed); }
    QDialog* makeSheet(bool changeAllowed, const QString& reason, QWidget* parent) override {
        WiFiOnboardingPlatform platform;
        platform.joiner = std::make_shared<WiFiJoinCoordinator>(nullptr, m_quitting);
        return new WiFiOnboardingView(changeAllowed, reason, m_gate, std::move(platform), parent);
    }
    void setChangeRule(QDialog* sheet, bool changeAllowed, const QString& reason) override {
        if (auto* view = qobject_cast<WiFiOnboardingView*>(sheet)) view->setChangeRule(changeAllowed, reason);
    }

private:
    std::shared_ptr<const CancellationToken> m_quitting;
    std::shared_ptr<WiFiChangeGate> m_gate = std::make_shared<WiFiChangeGate>();
};

} // namespace

std::unique_ptr<WiFiSheetHost> makeWiFiSheetHost(std::shared_ptr<const CancellationToken> quitting) {
    return std::make_unique<OnboardingSheetHost>(std::move(quitting));
}

} // namespace velk
