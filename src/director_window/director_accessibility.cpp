#include "director_window/director_accessibility.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeySequence>

#include "app/accessibility.hpp"
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

// A region the keyboard reaches to scroll, whose labels its page reads out as the focus comes into
// the page: a section, which a screen reader names as it reaches it without reading them again (a
// panel would read out every label beneath it once more).
class ReadWithItsPageAccessible final : public QAccessibleWidget {
public:
    explicit ReadWithItsPageAccessible(QWidget* region) : QAccessibleWidget(region, QAccessible::Section) {}
};

} // namespace

void drawnForTheEyeOnly(QWidget& label) {
    Accessibility::presentAs(label, [](QWidget* widget) -> QAccessibleInterface* { return new DrawnForTheEyeOnlyAccessible(widget); });
}

void readWithItsPage(QWidget& region) {
    Accessibility::presentAs(region, [](QWidget* widget) -> QAccessibleInterface* { return new ReadWithItsPageAccessible(widget); });
}

void installDirectorAccessibility() {
    static const bool installed = [] {
        Accessibility::presentClassAs(CameraWallCell::staticMetaObject, [](QWidget* cell) -> QAccessibleInterface* {
            return new WallCellAccessible(static_cast<CameraWallCell*>(cell));
        });
        const auto asText = [](QWidget* widget) -> QAccessibleInterface* {
            return new QAccessibleWidget(widget, QAccessible::StaticText);
        };
        Accessibility::presentClassAs(AudioMeter::staticMetaObject, asText);
        Accessibility::presentClassAs(PreviewStatusRow::staticMetaObject, asText);
        return true;
    }();
    (void)installed;
}

} // namespace velk
