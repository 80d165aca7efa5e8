#include "app/accessibility.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QListView>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVariant>
#include <QWidget>

#include "app/accessible_events.hpp"
#include "app/accessible_widgets.hpp"
#include "app/key_repeat.hpp"

namespace velk::Accessibility {
namespace {

constexpr const char* presentedByProperty = "velkPresentedBy";
constexpr const char* presentedProperty = "velkPresented";

QHash<QString, AccessibleMaker>& classMakers() {
    static QHash<QString, AccessibleMaker> makers;
    return makers;
}

// The application's one factory of accessible objects: a widget presented by a maker of its own,
// then a class presented so, then the standard widgets the application answers for itself.
QAccessibleInterface* factory(const QString& key, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    AccessibleMaker make = nullptr;
    if (const QVariant own = object->property(presentedByProperty); own.isValid())
        make = reinterpret_cast<AccessibleMaker>(own.value<quintptr>());
    else
        make = classMakers().value(key);
    if (make) {
        object->setProperty(presentedProperty, true);
        return make(widget);
    }
    return standardWidgetAccessible(key, object);
}

constexpr const char* clickAndSpaceOnlyProperty = "velkClickAndSpaceOnly";
constexpr const char* returnOncePerPressProperty = "velkReturnOncePerPress";

// What the button would do had it ignored the key: its parents, up to its window, get it in turn.
void handOnToParents(QWidget& button, const QKeyEvent& key) {
    if (button.isWindow() || !button.parentWidget()) return;
    QKeyEvent copy(key.type(), key.key(), key.modifiers(), key.nativeScanCode(), key.nativeVirtualKey(),
                   key.nativeModifiers(), key.text(), key.isAutoRepeat(), key.count());
    copy.setTimestamp(key.timestamp());
    QCoreApplication::sendEvent(button.parentWidget(), &copy);
}

// Return and Enter, whatever the modifiers held with them, press the focused push or tool button,
// once per press. A push button that presses itself on Return (the default or auto-default button
// of a dialog) is left to do so; check boxes and radio buttons answer Space only, as on every Linux
// desktop, and so does a button that grants trust or removes something. Some platform themes
// (GNOME's among them) have every focused button press itself on Return, with or without Shift,
// Ctrl or Alt: a button that must not answer it hands the key on to its window, as it does where
// buttons ignore Return.
class ReturnPressesFocusedButton final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button || !button->hasFocus() || !button->isEnabled() || !button->isVisible()) return false;
        if (!button->property(returnOncePerPressProperty).toBool()) {
            if (button->property(clickAndSpaceOnlyProperty).toBool() || qobject_cast<QCheckBox*>(button) ||
                qobject_cast<QRadioButton*>(button)) {
                handOnToParents(*button, *key);
                return true;
            }
            if (auto* push = qobject_cast<QPushButton*>(button); push && (push->autoDefault() || push->isDefault()))
                return false;
        }
        if (!KeyRepeat::isRepeat(*key)) button->click();
        return true;
    }
};

void installFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

} // namespace

void install() {
    KeyRepeat::install();
    installFactory();
    // In front of whatever handled the events before, if anything did.
    if (const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(handleEvent); previous != handleEvent)
        setHandledAfter(previous);
    // The filter belongs to the application object, so a new application gets a new one.
    static QPointer<QObject> filter;
    if (!filter && QCoreApplication::instance()) {
        filter = new ReturnPressesFocusedButton(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(filter);
    }
}

void presentAs(QWidget& widget, AccessibleMaker make) {
    installFactory();
    widget.setProperty(presentedByProperty, QVariant::fromValue(reinterpret_cast<quintptr>(make)));
    // One Qt made before gives way.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget); made && !widget.property(presentedProperty).toBool())
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void presentClassAs(const QMetaObject& widgetClass, AccessibleMaker make) {
    installFactory();
    classMakers().insert(QString::fromLatin1(widgetClass.className()), make);
}

void answerClickAndSpaceOnly(QAbstractButton& button) {
    button.setProperty(clickAndSpaceOnlyProperty, true);
    if (auto* push = qobject_cast<QPushButton*>(&button)) {
        push->setAutoDefault(false);
        push->setDefault(false);
    }
}

void answerReturnOncePerPress(QAbstractButton& button) {
    button.setProperty(returnOncePerPressProperty, true);
    button.setProperty(clickAndSpaceOnlyProperty, false);
}

void readAsTable(QListView& list) {
    list.setProperty(readAsTableProperty, true);
}

void setTabChain(const std::vector<QWidget*>& widgets) {
    QWidget* previous = nullptr;
    for (QWidget* widget : widgets) {
        if (!widget) continue;
        if (previous) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

} // namespace velk::Accessibility
