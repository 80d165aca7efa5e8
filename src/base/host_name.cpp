#include "base/host_name.hpp"

#include <atomic>
#include <fstream>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSysInfo>
#include <QVariantMap>

#include "base/unicode.hpp"

namespace velk::host_name {

namespace {

constexpr int systemBusTimeoutMs = 1000;
const char* const defaultSystemBusAddress = "unix:path=/var/run/dbus/system_bus_socket";

// PRETTY_HOSTNAME of an environment-style file, its quotes removed.
std::string prettyNameInFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("PRETTY_HOSTNAME=")) continue;
        std::string value = line.substr(16);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

} // namespace

std::optional<std::string> userFacingName(const HostNames& names) {
    for (const std::string* name : {&names.pretty, &names.staticName, &names.kernel}) {
        std::string trimmed = text::trimmedWhitespace(*name);
        if (!trimmed.empty()) return trimmed;
    }
    return std::nullopt;
}

HostNames readHostNames(const QString& busAddress, const std::filesystem::path& machineInfo, int timeoutMs) {
    HostNames names;
    names.kernel = QSysInfo::machineHostName().toStdString();
    // A connection of its own, closed again at once: the name is asked for only now and then.
    static std::atomic<int> connections{0};
    const QString connectionName = QStringLiteral("velk-hostname-%1").arg(++connections);
    bool answered = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName);
        if (bus.isConnected()) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.hostname1"), QStringLiteral("/org/freedesktop/hostname1"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
            call << QStringLiteral("org.freedesktop.hostname1");
            const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
                names.pretty = properties.value(QStringLiteral("PrettyHostname")).toString().toStdString();
                names.staticName = properties.value(QStringLiteral("StaticHostname")).toString().toStdString();
                answered = true;
            }
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    if (!answered) names.pretty = prettyNameInFile(machineInfo);
    return names;
}

std::optional<std::string> computerName() {
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS", QString::fromLatin1(defaultSystemBusAddress));
    return userFacingName(readHostNames(address, "/etc/machine-info", systemBusTimeoutMs));
}

} // namespace velk::host_name
