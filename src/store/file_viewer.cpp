#include "store/file_viewer.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QStringList>
#include <QUrl>

namespace velk {

namespace {

class DesktopFileViewer final : public FileViewer {
public:
    void reveal(const std::vector<std::filesystem::path>& files) override {
        if (files.empty()) return;
        QStringList uris;
        for (const auto& file : files) uris << QUrl::fromLocalFile(QString::fromStdString(file.string())).toString();
        const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(files.front().parent_path().string()));
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return openFolder(folder);
        QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                           "org.freedesktop.FileManager1", "ShowItems");
        call << uris << QString();
        // Asked without waiting, so the window never stalls on a slow or absent file manager.
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5'000), QCoreApplication::instance());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder](QDBusPendingCallWatcher* finished) {
            if (finished->isError()) openFolder(folder);
            finished->deleteLater();
        });
    }

private:
    static void openFolder(const QUrl& folder) {
        // Opening a URL needs the GUI platform; a headless process has nothing to show it with.
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
        QDesktopServices::openUrl(folder);
    }
};

} // namespace

std::shared_ptr<FileViewer> makeDesktopFileViewer() { return std::make_shared<DesktopFileViewer>(); }

} // namespace velk
