#pragma once
// The Settings window: a 520-wide form of the storage folders and the safety promise.

#include <QMainWindow>

namespace velk {

class AppStore;

class SettingsWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit SettingsWindow(AppStore& store, QWidget* parent = nullptr);
};

} // namespace velk
