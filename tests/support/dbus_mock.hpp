#pragma once
// python-dbusmock on a private bus that the test starts and stops (a dbus-daemon of its own), with
// a Qt connection of the test's to drive the mock. Both are started with fork and exec, so a
// ThreadSanitizer run still sees the test's own threads afterwards. Nothing reaches the system bus.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>

#include "support/child_process.hpp"

namespace velk::test {

class DbusMock {
public:
    // Runs `python3 -m dbusmock --session ARGUMENTS...` on the new bus; ready once `service` is on it.
    // With `busConfig`, the bus follows that configuration file (its policy can be changed and
    // reloaded) and writes what it logs, refusals among them, to `busLog`.
    DbusMock(const std::vector<std::string>& arguments, const QString& service, const QString& connectionName,
             const std::string& busConfig = {}, const std::string& busLog = {})
        : m_connectionName(connectionName) {
        std::vector<std::string> bus{"dbus-daemon", "--session", "--nofork", "--print-address=1"};
        if (!busConfig.empty()) {
            bus = {"sh", "-c", "exec dbus-daemon --config-file=\"$0\" --nofork --nosyslog --print-address=1 2>\"$1\"",
                   busConfig, busLog};
        }
        m_bus = std::make_unique<ChildProcess>(bus, "", true);
        const std::optional<std::string> printed = m_bus->readLine(5000);
        if (!printed) return;
        address = QString::fromStdString(*printed).trimmed();
        std::vector<std::string> mock{"env", "DBUS_SESSION_BUS_ADDRESS=" + address.toStdString(), "/usr/bin/python3",
                                      "-m", "dbusmock", "--session"};
        mock.insert(mock.end(), arguments.begin(), arguments.end());
        m_mock = std::make_unique<ChildProcess>(mock, "");
        m_connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, m_connectionName));
        QDeadlineTimer deadline(20000);
        while (!m_connection->interface()->isServiceRegistered(service).value()) {
            if (deadline.hasExpired()) return;
            QThread::msleep(20); // the mock is another process; nothing here needs the event loop
        }
        ready = true;
    }

    ~DbusMock() {
        m_connection.reset();
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_mock.reset();
        m_bus.reset();
    }

    DbusMock(const DbusMock&) = delete;
    DbusMock& operator=(const DbusMock&) = delete;

    QDBusMessage call(const QDBusMessage& message) { return m_connection->call(message); }

    QString address;
    bool ready = false;

private:
    QString m_connectionName;
    std::unique_ptr<ChildProcess> m_bus;
    std::unique_ptr<ChildProcess> m_mock;
    std::unique_ptr<QDBusConnection> m_connection;
};

} // namespace velk::test
