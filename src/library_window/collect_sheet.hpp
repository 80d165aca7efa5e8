#pragma once
// The "Collect from Cameras" sheet: pick a transfer source, confirm its fingerprint and type its
// code, or load every open source; ask a live camera to share its files; follow the collection
// and return sources to Camera mode. The chosen source, code and confirmation belong to the window.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>
#include <QPointer>

#include "base/clock.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;
class QVBoxLayout;
class QWidget;

namespace velk {

class AppStore;
class LANDiscovery;
class LibraryCommands;
class LiveCameraDiscovery;

namespace library {

// What outlives the sheet while the Library window stays open.
struct PairingInputs {
    std::optional<std::string> deviceID;
    std::string code;
    bool fingerprintConfirmed = false;
};

struct CollectSheetServices {
    AppStore& store;
    LANDiscovery& discovery;
    LiveCameraDiscovery& liveDiscovery;
    std::shared_ptr<LibraryCommands> commands;
    QSettings& settings;
    const Clock& clock;
};

class CollectSheet final : public QDialog {
    Q_OBJECT
public:
    // `inputs` is owned by `parent`, the Library window.
    CollectSheet(CollectSheetServices services, PairingInputs& inputs, QWidget* parent);

    QPushButton* primaryButton() const { return m_primary; }
    QLineEdit* codeField() const { return m_code; }
    QCheckBox* requireSecureToggle() const { return m_requireSecure; }
    QCheckBox* fingerprintToggle() const { return m_fingerprint; }
    QWidget* pairingPanel() const { return m_pairingPanel; }

private:
    void createWidgets();
    void connectServices();
    void refresh();
    void rebuildSessions();
    void rebuildCollectStatus();
    void rebuildSources();
    void showChosenSource();
    void chooseSource(const std::string& id);
    void runPrimaryAction();
    void loadAllOpenSources();
    void orderTabChain();
    void setPrimaryEnabled(bool enabled);

    CollectSheetServices m_services;
    PairingInputs& m_inputs;
    QCheckBox* m_requireSecure = nullptr;
    QWidget* m_sessions = nullptr;
    QWidget* m_collectStatus = nullptr;
    QWidget* m_sources = nullptr;
    QWidget* m_pairingPanel = nullptr;
    QLabel* m_fingerprintText = nullptr;
    QCheckBox* m_fingerprint = nullptr;
    QLineEdit* m_code = nullptr;
    QPushButton* m_primary = nullptr;
    QPushButton* m_scanAgain = nullptr;
    QPushButton* m_close = nullptr;
    // What each rebuilt section last showed; a section is rebuilt only when it changes.
    std::string m_sessionsKey, m_collectKey, m_sourcesKey;
    // The source cards, which stay as a source is chosen: a screen reader hears the focus move from
    // card to card in one group, not a new group at every choice.
    struct SourceCardWidgets {
        QPointer<QPushButton> card;
        QPointer<QLabel> check;
        std::string id;
    };
    std::vector<SourceCardWidgets> m_sourceCards;
};

} // namespace library
} // namespace velk
