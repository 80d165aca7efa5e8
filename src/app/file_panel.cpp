#include "app/file_panel.hpp"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>

#include "app/window_modal.hpp"

namespace velk::FilePanel {

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
