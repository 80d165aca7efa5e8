#include <QDialog>

#include "library_window/library_commands.hpp"
#include "wifi/ui/wifi_onboarding_view.hpp"
#include "wifi/wifi_change_gate.hpp"

namespace velk {

namespace {

// The Wi-Fi QR sheet over the window's own change gate, which starts closed.
class OnboardingSheetHost final : public WiFiSheetHost {
public:
    void updateGate(bool allowed) override { m_gate->update(allowed); }
    QDialog* makeSheet(bool changeAllowed, const QString& reason, QWidget* parent) override {
        return new WiFiOnboardingView(changeAllowed, reason, m_gate, parent);
    }
    void setChangeRule(QDialog* sheet, bool changeAllowed, const QString& reason) override {
        if (auto* view = qobject_cast<WiFiOnboardingView*>(sheet)) view->setChangeRule(changeAllowed, reason);
    }

private:
    std::shared_ptr<WiFiChangeGate> m_gate = std::make_shared<WiFiChangeGate>();
};

} // namespace

std::unique_ptr<WiFiSheetHost> makeWiFiSheetHost() { return std::make_unique<OnboardingSheetHost>(); }

} // namespace velk
