#include "app/atspi_property_change.hpp"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QWidget>

namespace velk::AtspiPropertyChange {

namespace {

// The name of the bridge's connection to the accessibility bus, and the paths it gives objects.
const QString bridgeConnection = QStringLiteral("a11y");
const QString objectPaths = QStringLiteral("/org/a11y/atspi/accessible/");

QString pathOf(QAccessibleInterface& object) {
    if (object.role() == QAccessible::Application) return objectPaths + QStringLiteral("root");
    return objectPaths + QString::number(QAccessible::uniqueId(&object));
}

} // namespace

bool tell(QAccessibleEvent& event) {
    const bool name = event.type() == QAccessible::NameChanged;
    if (!name && event.type() != QAccessible::DescriptionChanged) return false;
    // Only the focus widget's, which a screen reader speaks, and a combo box's, whose description
    // tells its choice (app/accessible_values.hpp): the text sent sets the name or description its
    // library keeps for the object, which it reads as the focus comes back.
    if (event.child() >= 0 || !event.object()) return false;
    if (event.object() != QApplication::focusWidget() && !qobject_cast<QComboBox*>(event.object())) return false;
    QAccessibleInterface* object = event.accessibleInterface();
    if (!object || !object->isValid()) return false;
    QDBusConnection bus(bridgeConnection);
    if (!bus.isConnected()) return false;
    // The event's arguments as the bridge sends them, the new text in place of the object: the
    // property, two unused numbers, the text, and the application that sends it.
    QDBusArgument application;
    application.beginStructure();
    application << bus.baseService() << QDBusObjectPath(objectPaths + QStringLiteral("root"));
    application.endStructure();
    QDBusMessage changed = QDBusMessage::createSignal(pathOf(*object), QStringLiteral("org.a11y.atspi.Event.Object"),
                                                      QStringLiteral("PropertyChange"));
    changed << (name ? QStringLiteral("accessible-name") : QStringLiteral("accessible-description")) << 0 << 0
            << QVariant::fromValue(QDBusVariant(object->text(name ? QAccessible::Name : QAccessible::Description)))
            << QVariant::fromValue(application);
    return bus.send(changed);
}

} // namespace velk::AtspiPropertyChange
