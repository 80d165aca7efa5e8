#pragma once
// systemd-hostnamed as python-dbusmock plays it, on a private bus that the test starts and stops.
// While it lives, DBUS_SYSTEM_BUS_ADDRESS names that bus, so nothing reaches the system bus.

#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

#include "support/dbus_mock.hpp"

namespace velk::test {

class HostnamedMock {
public:
    // `pretty` and `staticName` are the PrettyHostname and StaticHostname it answers with.
    HostnamedMock(const QString& pretty, const QString& staticName) {
        m_savedAddress = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        m_hadAddress = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS");
        if (m_mock.address.isEmpty()) return;
        address = m_mock.address;
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        if (!m_mock.ready) return;
        QDBusMessage add = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", "AddProperties");
        add << service << QVariantMap{{"PrettyHostname", pretty}, {"StaticHostname", staticName}, {"Hostname", "localhost"}};
        ready = m_mock.call(add).type() == QDBusMessage::ReplyMessage;
    }

    ~HostnamedMock() {
        if (m_hadAddress) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_savedAddress);
        } else {
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
    }

    void setPrettyName(const QString& pretty) {
        QDBusMessage set = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Set");
        set << service << QStringLiteral("PrettyHostname") << QVariant::fromValue(QDBusVariant(pretty));
        m_mock.call(set);
    }

    static inline const QString service = QStringLiteral("org.freedesktop.hostname1");
    static inline const QString path = QStringLiteral("/org/freedesktop/hostname1");
    QString address;
    bool ready = false;

private:
    QByteArray m_savedAddress;
    bool m_hadAddress = false;
    DbusMock m_mock{{service.toStdString(), path.toStdString(), service.toStdString()}, service, "hostnamed-mock"};
};

} // namespace velk::test
