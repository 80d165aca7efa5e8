#include "base/host_name.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSysInfo>
#include <QVariantMap>

#include "base/executor.hpp"
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

struct HostnamedAnswer {
    std::string pretty;
    std::string staticName;
};

// Connects to the bus and asks hostnamed. Both may block: libdbus waits for a new connection to be
// let in with no time limit at all, whatever the call's own time-out.
std::optional<HostnamedAnswer> askHostnamed(const QString& busAddress, int timeoutMs) {
    // A connection of its own, closed again at once: the name is asked for only now and then.
    static std::atomic<int> connections{0};
    const QString connectionName = QStringLiteral("velk-hostname-%1").arg(++connections);
    std::optional<HostnamedAnswer> answer;
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
                answer = HostnamedAnswer{
                    properties.value(QStringLiteral("PrettyHostname")).toString().toStdString(),
                    properties.value(QStringLiteral("StaticHostname")).toString().toStdString()};
            }
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return answer;
}

// One question to hostnamed on a worker. Callers wait for it only as long as they may; while it is
// under way, later callers for the same bus wait for it too instead of asking again, so a bus that
// never answers holds one worker, not one per caller.
struct Question {
    std::mutex mutex;
    std::condition_variable answered;
    std::atomic<bool> done{false}; // set once `answer` is final
    std::optional<HostnamedAnswer> answer;
};

std::shared_ptr<Question> askOnWorker(const QString& busAddress, int timeoutMs) {
    static std::mutex mutex;
    static std::map<QString, std::shared_ptr<Question>> underWay;
    std::lock_guard lock(mutex);
    if (auto found = underWay.find(busAddress); found != underWay.end()) {
        if (!found->second->done.load()) return found->second;
    }
    auto question = std::make_shared<Question>();
    underWay[busAddress] = question;
    launchWorker([question, busAddress, timeoutMs] {
        std::optional<HostnamedAnswer> answer;
        try {
            answer = askHostnamed(busAddress, timeoutMs);
        } catch (...) {
        }
        {
            std::lock_guard done(question->mutex);
            question->answer = std::move(answer);
            question->done.store(true);
        }
        question->answered.notify_all();
        std::lock_guard forget(mutex);
        if (auto found = underWay.find(busAddress); found != underWay.end() && found->second == question) {
            underWay.erase(found);
        }
    });
    return question;
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    HostNames names;
    names.kernel = QSysInfo::machineHostName().toStdString();
    const std::shared_ptr<Question> question = askOnWorker(busAddress, timeoutMs);
    std::optional<HostnamedAnswer> answer;
    {
        std::unique_lock lock(question->mutex);
        if (question->answered.wait_until(lock, deadline, [&] { return question->done.load(); })) answer = question->answer;
    }
    if (answer) {
        names.pretty = answer->pretty;
        names.staticName = answer->staticName;
    } else {
        names.pretty = prettyNameInFile(machineInfo);
    }
    return names;
}

std::optional<std::string> computerName() {
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS", QString::fromLatin1(defaultSystemBusAddress));
    return userFacingName(readHostNames(address, "/etc/machine-info", systemBusTimeoutMs));
}

} // namespace velk::host_name
