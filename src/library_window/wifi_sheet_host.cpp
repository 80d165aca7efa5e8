#include <atomic>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "library_window/library_commands.hpp"

namespace velk {

namespace {

// Stands in for the onboarding sheet where it is not built: says whether a change may happen now.
class PlainWiFiSheetHost final : public WiFiSheetHost {
public:
    void updateGate(bool allowed) override { m_allowed = allowed; }
    QDialog* makeSheet(bool changeAllowed, const QString& reason, QWidget* parent) override {
        auto* sheet = new QDialog(parent);
        auto* layout = new QVBoxLayout(sheet);
        auto* label = new QLabel(sheet);
        label->setObjectName(QStringLiteral("wifiRule"));
        label->setWordWrap(true);
        layout->addWidget(label);
        auto* done = new QPushButton(QStringLiteral("Done"), sheet);
        QObject::connect(done, &QPushButton::clicked, sheet, &QDialog::accept);
        layout->addWidget(done);
        setChangeRule(sheet, changeAllowed, reason);
        return sheet;
    }
    void setChangeRule(QDialog* sheet, bool changeAllowed, const QString& reason) override {
        if (auto* label = sheet->findChild<QLabel*>(QStringLiteral("wifiRule"))) label->setText(changeAllowed ? QString() : reason);
    }

private:
    std::atomic<bool> m_allowed{false};
};

} // namespace

std::unique_ptr<WiFiSheetHost> makeWiFiSheetHost() { return std::make_unique<PlainWiFiSheetHost>(); }

} // namespace velk
