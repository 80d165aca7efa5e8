#include "app/placeholder_window.hpp"

#include <QLabel>

namespace velk {

QMainWindow* createPlaceholderWindow(const QString& title, QSize size) {
    auto* window = new QMainWindow;
    window->setWindowTitle(title);
    auto* label = new QLabel(title + QStringLiteral(" is not part of this build."), window);
    label->setAlignment(Qt::AlignCenter);
    window->setCentralWidget(label);
    window->resize(size);
    return window;
}

} // namespace velk
