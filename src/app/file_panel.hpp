#pragma once
// The application's file panels (manifest import, export folder, Wi-Fi QR image): window-modal on
// their window, opened with open(). Each acts on what the panel accepted: a panel given a typed
// path can report more than one selected item (earlier matches of the typing stay selected), and
// acting only on a single selection closed it with nothing done. Of the accepted items, the one
// the panel's name field names is used, otherwise the first. When that is not a file or folder on
// this computer, an alert says so instead.

#include <functional>
#include <optional>

#include <QList>
#include <QString>
#include <QUrl>

class QWidget;

namespace velk::FilePanel {

inline constexpr const char* refusalTitle = "Kestova";
inline constexpr const char* refusal = "Kestova can only use a file or folder on this computer. Nothing was done.";

enum class Choose { ExistingFile, Folder };

// The local path of the accepted item that `named` (the name field's path, made absolute; empty
// when there is none) names, else of the first accepted item; none when there is no item or the
// one chosen is not local.
std::optional<QString> acceptedPath(const QList<QUrl>& accepted, const QString& named = {});

// The path a panel's name field holds, absolute against the panel's folder ("~" is the home
// folder); empty when it is empty or lists several quoted names.
QString namedPath(const QString& fieldText, const QString& panelFolder, const QString& home);

// Opens a panel titled `title` over `parent` (`nameFilter` limits the files offered, empty for
// none) and calls `chosen` with the accepted path; cancelling calls nothing. The panel is deleted
// when it closes, and with `parent`.
void open(QWidget* parent, const QString& title, Choose what, const QString& nameFilter,
          std::function<void(const QString&)> chosen);

} // namespace velk::FilePanel
