#include "store/file_viewer.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include "base/desktop_program.hpp"

namespace velk {

namespace {

// xdg-open that finds nothing to open a folder with ends with an error at once; one that found a
// file manager has handed the folder on, or runs it, by then.
constexpr int kLauncherSettleMs = 2'000;

class DesktopFileViewer final : public FileViewer {
public:
    void reveal(const std::vector<std::filesystem::path>& files, std::function<void(bool)> shown) override {
        if (files.empty()) return shown(false);
        QStringList uris;
        for (const auto& file : files) uris << QUrl::fromLocalFile(QString::fromStdString(file.string())).toString();
        const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(files.front().parent_path().string()));
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return openFolder(folder, std::move(shown));
        QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                           "org.freedesktop.FileManager1", "ShowItems");
        call << uris << QString();
        // Asked without waiting, so the window never stalls on a slow or absent file manager.
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5'000), QCoreApplication::instance());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                         [folder, shown = std::move(shown)](QDBusPendingCallWatcher* finished) {
                             if (finished->isError()) {
                                 openFolder(folder, shown);
                             } else {
                                 shown(true);
                             }
                             finished->deleteLater();
                         });
    }

private:
    static void openFolder(const QUrl& folder, std::function<void(bool)> shown) {
        // Opening a URL needs the GUI platform; a headless process has nothing to show it with.
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return shown(false);
        // Started and watched without waiting: Qt's own launch counts a launcher that found no file
        // manager as opened.
        if (!QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
            return startDesktopProgram(QStringLiteral("xdg-open"), {folder.toString()}, kLauncherSettleMs,
                                       QCoreApplication::instance(), std::move(shown));
        }
        shown(QDesktopServices::openUrl(folder));
    }
};

} // namespace

std::shared_ptr<FileViewer> makeDesktopFileViewer() { return std::make_shared<DesktopFileViewer>(); }

} // namespace velk
