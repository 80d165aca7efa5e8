#pragma once
// systemd-hostnamed as python-dbusmock plays it, on a private bus that the test starts and stops.
// While it lives, DBUS_SYSTEM_BUS_ADDRESS names that bus, so nothing reaches the system bus. The bus
// and the mock are started with fork and exec, so a ThreadSanitizer run still sees the test's own
// threads afterwards.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>
#include <QVariantMap>

#include "support/child_process.hpp"

namespace velk::test {

class HostnamedMock {
public:
    // `pretty` and `staticName` are the PrettyHostname and StaticHostname it answers with.
    HostnamedMock(const QString& pretty, const QString& staticName) {
        m_savedAddress = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        m_hadAddress = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS");
        m_bus = std::make_unique<ChildProcess>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", true);
        const std::optional<std::string> printed = m_bus->readLine(5000);
        if (!printed) return;
        address = QString::fromStdString(*printed).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        m_mock = std::make_unique<ChildProcess>(
            std::vector<std::string>{"env", "DBUS_SESSION_BUS_ADDRESS=" + address.toStdString(), "/usr/bin/python3", "-m",
                                     "dbusmock", "--session", service.toStdString(), path.toStdString(),
                                     service.toStdString()},
            "");
        m_connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "hostnamed-mock"));
        QDeadlineTimer deadline(20000);
        while (!m_connection->interface()->isServiceRegistered(service).value()) {
            if (deadline.hasExpired()) return;
            QThread::msleep(20); // the mock is another process; nothing here needs the event loop
        }
        QDBusMessage add = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", "AddProperties");
        add << service << QVariantMap{{"PrettyHostname", pretty}, {"StaticHostname", staticName}, {"Hostname", "localhost"}};
        ready = m_connection->call(add).type() == QDBusMessage::ReplyMessage;
    }

    ~HostnamedMock() {
        m_connection.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("hostnamed-mock"));
        m_mock.reset();
        m_bus.reset();
        if (m_hadAddress) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_savedAddress);
        } else {
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
    }

    void setPrettyName(const QString& pretty) {
        QDBusMessage set = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Set");
        set << service << QStringLiteral("PrettyHostname") << QVariant::fromValue(QDBusVariant(pretty));
        m_connection->call(set);
    }

    static inline const QString service = QStringLiteral("org.freedesktop.hostname1");
    static inline const QString path = QStringLiteral("/org/freedesktop/hostname1");
    QString address;
    bool ready = false;

private:
    QByteArray m_savedAddress;
    bool m_hadAddress = false;
    std::unique_ptr<ChildProcess> m_bus;
    std::unique_ptr<ChildProcess> m_mock;
    std::unique_ptr<QDBusConnection> m_connection;
};

} // namespace velk::test
