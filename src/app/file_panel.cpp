#include "app/file_panel.hpp"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QToolButton>

#include "app/symbols.hpp"

#include "app/window_modal.hpp"

namespace velk::FilePanel {
namespace {

// The panel's folders, files and places as the application's symbols, in the palette's text
// colour: Qt draws its own from the icon theme untinted, and a theme of another ink than the
// palette's (or none at all) leaves them unseen. The icons are made once, on the GUI thread, and
// only copied out, also by the panel's folder model on its own thread.
class PanelIcons final : public QFileIconProvider {
public:
    PanelIcons()
        : m_folder(Symbols::icon("folder")),
          m_file(Symbols::icon("doc")),
          m_drive(Symbols::icon("internaldrive")),
          m_computer(Symbols::icon("desktopcomputer")),
          m_trash(Symbols::icon("trash")),
          m_network(Symbols::icon("network")) {}

    QIcon icon(IconType type) const override {
        switch (type) {
        case Computer: return m_computer;
        case Drive: return m_drive;
        case Trashcan: return m_trash;
        case Network: return m_network;
        case Desktop:
        case Folder: return m_folder;
        case File: return m_file;
        }
        return m_file;
    }
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot()) return m_drive;
        return info.isDir() ? m_folder : m_file;
    }

private:
    QIcon m_folder, m_file, m_drive, m_computer, m_trash, m_network;
};

// The panel's tool buttons, by the names Qt gives them, and their symbols.
void tintToolButtons(QFileDialog& panel) {
    const std::pair<const char*, const char*> buttons[] = {
        {"backButton", "chevron.backward"},  {"forwardButton", "chevron.forward"},
        {"toParentButton", "arrow.up"},      {"newFolderButton", "folder.badge.plus"},
        {"listModeButton", "list.bullet"},   {"detailModeButton", "list.bullet.rectangle"},
    };
    for (const auto& [name, symbol] : buttons) {
        if (auto* button = panel.findChild<QToolButton*>(QString::fromUtf8(name))) button->setIcon(Symbols::icon(symbol));
    }
}

} // namespace

std::optional<QString> acceptedPath(const QList<QUrl>& accepted, const QString& named) {
    if (!named.isEmpty()) {
        for (const QUrl& item : accepted) {
            if (item.isLocalFile() && QDir::cleanPath(item.toLocalFile()) == QDir::cleanPath(named)) return item.toLocalFile();
        }
    }
    if (accepted.isEmpty() || !accepted.front().isLocalFile()) return std::nullopt;
    QString path = accepted.front().toLocalFile();
    if (path.isEmpty()) return std::nullopt;
    return path;
}

QString namedPath(const QString& fieldText, const QString& panelFolder, const QString& home) {
    if (fieldText.isEmpty() || fieldText.contains(u'"')) return {};
    QString path = fieldText;
    if (path == u'~' || path.startsWith(QStringLiteral("~/"))) path = home + path.mid(1);
    return QDir::cleanPath(QDir(panelFolder).absoluteFilePath(path));
}

void open(QWidget* parent, const QString& title, Choose what, const QString& nameFilter,
          std::function<void(const QString&)> chosen) {
    auto* panel = new QFileDialog(parent, title);
    panel->setObjectName(QStringLiteral("filePanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    if (what == Choose::Folder) {
        panel->setFileMode(QFileDialog::Directory);
        panel->setOption(QFileDialog::ShowDirsOnly);
    } else {
        panel->setFileMode(QFileDialog::ExistingFile);
    }
    if (!nameFilter.isEmpty()) panel->setNameFilter(nameFilter);
    static PanelIcons icons; // made on the first panel, after the icon theme; outlives every panel
    panel->setIconProvider(&icons);
    tintToolButtons(*panel);
    // accepted, not fileSelected: the latter is sent only when exactly one item is selected.
    QObject::connect(panel, &QDialog::accepted, panel, [panel, parent = QPointer<QWidget>(parent),
                                                        chosen = std::move(chosen)] {
        const auto* field = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString named =
            field ? namedPath(field->text(), panel->directory().absolutePath(), QDir::homePath()) : QString();
        if (const std::optional<QString> path = acceptedPath(panel->selectedUrls(), named)) {
            chosen(*path);
            return;
        }
        auto* alert = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(refusalTitle), {}, QMessageBox::Ok,
                                      parent.data());
        alert->setObjectName(QStringLiteral("filePanelRefusal"));
        alert->setTextFormat(Qt::PlainText);
        alert->setText(QString::fromUtf8(refusal));
        alert->setAttribute(Qt::WA_DeleteOnClose);
        openWindowModal(*alert);
    });
    openWindowModal(*panel);
}

} // namespace velk::FilePanel
