#pragma once
// Widget tests: a dialog's named children, and screenshots saved as review material.

#include <QAbstractButton>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "support/build_paths.hpp"

namespace velk::test {

template <class T = QWidget>
T* child(QWidget& root, const char* name) {
    auto* widget = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}
inline void click(QWidget& root, const char* name) { child<QAbstractButton>(root, name)->click(); }
inline QString labelText(QWidget& root, const char* name) { return child<QLabel>(root, name)->text(); }
inline bool shown(QWidget& root, const char* name) { return child(root, name)->isVisible(); }

// Shows the window, makes it the active one and waits until it has the focus itself. The window
// system is asked, as a person's click would: on an X server the window has the focus only once the
// server gave it (Qt already counts a dialog active while its parent window has the focus).
inline bool activate(QWidget& window) {
    if (!window.isVisible()) window.show();
    window.raise();
    window.activateWindow();
    return QTest::qWaitFor(
        [&] { return window.windowHandle() && QGuiApplication::focusWindow() == window.windowHandle(); }, 2000);
}

// build/…/screenshots/<fileName>, after the pending events are handled.
inline bool saveScreenshot(QWidget& widget, const QString& fileName) {
    const QString folder = QString::fromStdString(test::binaryPath("screenshots"));
    QDir().mkpath(folder);
    QCoreApplication::processEvents();
    return widget.grab().save(folder + "/" + fileName);
}

} // namespace velk::test
