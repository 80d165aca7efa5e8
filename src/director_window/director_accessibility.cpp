#include "director_window/director_accessibility.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeySequence>

#include "director_window/camera_wall.hpp"
#include "director_window/studio_view_kit.hpp"

namespace velk {

namespace {

using DirectorPresenters::WallCellKind;

// A wall cell: a live tile is a button pressed to choose its camera; a locked cell is text whose
// menu releases the slot; an empty cell is text alone.
class WallCellAccessible final : public QAccessibleWidget {
public:
    explicit WallCellAccessible(CameraWallCell* cell) : QAccessibleWidget(cell, QAccessible::Button) {}

    QAccessible::Role role() const override {
        return cell()->kind() == WallCellKind::live ? QAccessible::Button : QAccessible::StaticText;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (cell()->kind() == WallCellKind::live) names << pressAction();
        if (cell()->kind() == WallCellKind::lockedOffline) names << showMenuAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override {
        if (name == pressAction()) cell()->activate();
        else if (name == showMenuAction()) cell()->openMenu(cell()->mapToGlobal(cell()->rect().center()), true);
        else QAccessibleWidget::doAction(name);
    }

    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == pressAction()) return {QKeySequence(Qt::Key_Return).toString()};
        if (name == showMenuAction()) return {QKeySequence(Qt::SHIFT | Qt::Key_F10).toString()};
        return QAccessibleWidget::keyBindingsForAction(name);
    }

private:
    CameraWallCell* cell() const { return static_cast<CameraWallCell*>(widget()); }
};

constexpr const char* drawnForTheEyeOnlyProperty = "velkDrawnForTheEyeOnly";

// A label that assistive tools pass over: it says nothing and is not showing.
class DrawnForTheEyeOnlyAccessible final : public QAccessibleWidget {
public:
    explicit DrawnForTheEyeOnlyAccessible(QWidget* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text) const override { return {}; }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

constexpr const char* readWithItsPageProperty = "velkReadWithItsPage";

// A region the keyboard reaches to scroll, whose labels its page reads out as the focus comes into
// the page: a section, which a screen reader names as it reaches it without reading them again (a
// panel would read out every label beneath it once more).
class ReadWithItsPageAccessible final : public QAccessibleWidget {
public:
    explicit ReadWithItsPageAccessible(QWidget* region) : QAccessibleWidget(region, QAccessible::Section) {}
};

// Replaces the accessible object Qt made for `widget` before it was marked, if it made one (Qt
// makes one as a widget is named, whether or not an assistive tool listens).
template <typename Wanted>
void dropEarlierAccessible(QWidget& widget) {
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget);
    if (made && !dynamic_cast<Wanted*>(made)) QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

QAccessibleInterface* directorAccessibleFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    if (object->property(drawnForTheEyeOnlyProperty).toBool())
        return new DrawnForTheEyeOnlyAccessible(static_cast<QWidget*>(object));
    if (object->property(readWithItsPageProperty).toBool())
        return new ReadWithItsPageAccessible(static_cast<QWidget*>(object));
    if (className == QLatin1String(CameraWallCell::staticMetaObject.className()))
        return new WallCellAccessible(static_cast<CameraWallCell*>(object));
    if (className == QLatin1String(AudioMeter::staticMetaObject.className()) ||
        className == QLatin1String(PreviewStatusRow::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StaticText);
    return nullptr;
}

} // namespace

void drawnForTheEyeOnly(QWidget& label) {
    installDirectorAccessibility();
    label.setProperty(drawnForTheEyeOnlyProperty, true);
    // One made before, while a screen reader listened (Qt makes one as the label's text is set),
    // gives way to one that says nothing.
    if (QAccessible::isActive()) dropEarlierAccessible<DrawnForTheEyeOnlyAccessible>(label);
}

void readWithItsPage(QWidget& region) {
    installDirectorAccessibility();
    region.setProperty(readWithItsPageProperty, true);
    dropEarlierAccessible<ReadWithItsPageAccessible>(region);
}

void installDirectorAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(directorAccessibleFactory);
        return true;
    }();
    (void)installed;
}

} // namespace velk
