#pragma once

#include <QApplication>

#include "app/accessibility.hpp"

namespace velk {

// The application these tests share, with the application's accessibility rules installed, made by
// whichever test needs it first.
inline QApplication& accessibleApplication() {
    static int argc = 1;
    static char name[] = "velk_app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        auto* created = QCoreApplication::instance() ? static_cast<QApplication*>(QCoreApplication::instance())
                                                     : new QApplication(argc, argv);
        Accessibility::install();
        return created;
    }();
    return *application;
}

} // namespace velk
