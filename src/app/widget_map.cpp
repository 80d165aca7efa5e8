#include "app/widget_map.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabBar>
#include <QTimer>
#include <QWidget>

#include "app/keyboard_keeper.hpp"
#include "base/files.hpp"
#include "base/json.hpp"

namespace velk {
namespace {

constexpr int kIntervalMs = 250;

Json rectOf(const QWidget& widget, const QRect& local) {
    const QPoint topLeft = widget.mapToGlobal(local.topLeft());
    return Json::array({topLeft.x(), topLeft.y(), local.width(), local.height()});
}

// What a widget shows: its button or label text, else the texts of the labels laid on it.
std::string textOf(const QWidget& widget) {
    if (auto* button = qobject_cast<const QAbstractButton*>(&widget); button && !button->text().isEmpty())
        return button->text().toStdString();
    if (auto* label = qobject_cast<const QLabel*>(&widget)) return label->text().toStdString();
    if (auto* menu = qobject_cast<const QMenu*>(&widget)) return menu->title().toStdString();
    if (auto* edit = qobject_cast<const QLineEdit*>(&widget)) {
        const bool shown = edit->echoMode() == QLineEdit::Normal && !edit->text().isEmpty();
        return (shown ? edit->text() : edit->placeholderText()).toStdString();
    }
    std::string joined;
    if (qobject_cast<const QAbstractButton*>(&widget)) {
        for (const QLabel* label : widget.findChildren<QLabel*>()) {
            if (!label->isVisible()) continue;
            if (!joined.empty()) joined += " | ";
            joined += label->text().toStdString();
        }
    }
    return joined;
}

Json snapshot() {
    Json widgets = Json::array();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) continue;
        const std::string title = window->windowTitle().toStdString();
        QList<QWidget*> all = window->findChildren<QWidget*>();
        all.prepend(window);
        for (QWidget* widget : all) {
            if (!widget->isVisible()) continue;
            auto* label = qobject_cast<QLabel*>(widget);
            // The control with the keyboard is always listed: where the next key goes.
            const bool interesting = !widget->objectName().isEmpty() || qobject_cast<QAbstractButton*>(widget) ||
                                     qobject_cast<QLineEdit*>(widget) || qobject_cast<QMenu*>(widget) ||
                                     (label && !label->text().isEmpty()) || widget->hasFocus();
            if (!interesting || widget->objectName().startsWith(QLatin1String("qt_"))) continue;
            Json entry{{"window", title},
                       {"name", widget->objectName().toStdString()},
                       {"class", widget->metaObject()->className()},
                       {"text", textOf(*widget)},
                       {"description", widget->accessibleDescription().toStdString()},
                       {"enabled", widget->isEnabled()},
                       {"focused", widget->hasFocus()},
                       {"guarded", Keyboard::isGuarded(*widget)},
                       {"rect", rectOf(*widget, widget->rect())}};
            if (auto* box = qobject_cast<QAbstractButton*>(widget); box && box->isCheckable())
                entry["checked"] = box->isChecked();
            widgets.push_back(std::move(entry));
            if (auto* bar = qobject_cast<QTabBar*>(widget)) {
                for (int tab = 0; tab < bar->count(); ++tab) {
                    widgets.push_back(Json{{"window", title},
                                           {"name", widget->objectName().toStdString() + ".tab"},
                                           {"class", "tab"},
                                           {"text", bar->tabText(tab).toStdString()},
                                           {"enabled", bar->isTabEnabled(tab)},
                                           {"selected", tab == bar->currentIndex()},
                                           {"rect", rectOf(*bar, bar->tabRect(tab))}});
                }
            }
            if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
                QAbstractItemModel* model = view->model();
                for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
                    const QModelIndex index = model->index(row, 0, view->rootIndex());
                    const QRect visual = view->visualRect(index);
                    if (!visual.isValid() || !view->viewport()->rect().intersects(visual)) continue;
                    widgets.push_back(Json{{"window", title},
                                           {"name", widget->objectName().toStdString() + ".row"},
                                           {"class", "row"},
                                           {"text", index.data(Qt::DisplayRole).toString().toStdString()},
                                           {"enabled", true},
                                           {"selected", view->selectionModel() &&
                                                            view->selectionModel()->isSelected(index)},
                                           {"rect", rectOf(*view->viewport(), visual)}});
                }
            }
        }
    }
    return widgets;
}

} // namespace

void startWidgetMapIfAsked(QObject* context) {
    const QByteArray target = qgetenv("VELK_WIDGET_MAP");
    if (target.isEmpty()) return;
    auto* timer = new QTimer(context);
    const std::filesystem::path file = target.toStdString();
    QObject::connect(timer, &QTimer::timeout, context, [file] {
        try {
            files::writeAtomically(file, snapshot().dump(1));
        } catch (const std::exception&) {
            // A test's folder that went away: nothing to report to.
        }
    });
    timer->start(kIntervalMs);
}

} // namespace velk
