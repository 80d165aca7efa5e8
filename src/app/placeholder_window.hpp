#pragma once
// A plain window standing in for a window that this build does not include.

#include <QMainWindow>

namespace velk {

struct AppServices;

QMainWindow* createPlaceholderWindow(const QString& title, QSize size);

} // namespace velk
