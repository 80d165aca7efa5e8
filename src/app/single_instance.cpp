#include "app/single_instance.hpp"

#include <system_error>

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>

#include "base/sha256.hpp"

namespace velk {
namespace {

// "raise\n", or "raise TOKEN\n" with the activation token the later launch was started with.
constexpr const char* raiseRequest = "raise";
constexpr const char* raisedAnswer = "ok\n";
constexpr const char* shownAnswer = "shown\n";
// A request longer than this is no request of ours.
constexpr qint64 longestRequest = 300;

} // namespace

LaunchOutcome launchOutcome(LockState lock, RaiseAnswer answer, const std::string& lockError) {
    switch (lock) {
    case LockState::acquired: return {true, 0, {}};
    case LockState::heldByOther:
        switch (answer) {
        case RaiseAnswer::raised: return {false, 0, LaunchText::raised};
        case RaiseAnswer::shown: return {false, 0, LaunchText::shown};
        case RaiseAnswer::none: break;
        }
        return {false, 1, LaunchText::noAnswer};
    case LockState::unavailable: return {false, 1, std::string(LaunchText::noLock) + lockError};
    }
    return {false, 1, {}};
}

SingleInstance::SingleInstance(std::filesystem::path dataFolder, QObject* parent)
    : QObject(parent), m_dataFolder(std::move(dataFolder)) {}

SingleInstance::~SingleInstance() { release(); }

void SingleInstance::release() {
    if (m_server) m_server->close();
    if (m_lock) m_lock->unlock();
}

QString SingleInstance::socketPath(const std::filesystem::path& dataFolder) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    const std::string key = Sha256::hexOf(std::filesystem::absolute(dataFolder).lexically_normal().string());
    return folder + QStringLiteral("/kestova-") + QString::fromStdString(key.substr(0, 16)) + QStringLiteral(".socket");
}

LockState SingleInstance::acquire() {
    std::error_code error;
    std::filesystem::create_directories(m_dataFolder, error);
    if (error) {
        m_lockError = m_dataFolder.string() + ": " + error.message();
        return LockState::unavailable;
    }
    m_lock = std::make_unique<QLockFile>(QString::fromStdString((m_dataFolder / lockFileName).string()));
    // The lock is stale only when its process is gone, never because it is old.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) return LockState::acquired;
    if (m_lock->error() == QLockFile::LockFailedError) return LockState::heldByOther;
    m_lockError = (m_dataFolder / lockFileName).string();
    return LockState::unavailable;
}

RaiseAnswer SingleInstance::askRunningInstanceToRaise(int timeoutMs, const std::string& activationToken) {
    QLocalSocket socket;
    // The first instance listens only once its services are up: a launch right after it retries.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        socket.connectToServer(socketPath(m_dataFolder));
        if (socket.waitForConnected(timeoutMs)) break;
        if (waited.elapsed() >= timeoutMs) return RaiseAnswer::none;
        QThread::msleep(100);
    }
    QByteArray request(raiseRequest);
    if (!activationToken.empty()) request += ' ' + QByteArray::fromStdString(activationToken);
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) return RaiseAnswer::none;
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(timeoutMs)) return RaiseAnswer::none;
        answer += socket.readAll();
        if (answer.size() > 64) return RaiseAnswer::none;
    }
    if (answer == raisedAnswer) return RaiseAnswer::raised;
    if (answer == shownAnswer) return RaiseAnswer::shown;
    return RaiseAnswer::none;
}

bool SingleInstance::listen(std::function<void(const std::string& activationToken, Answer answer)> raise) {
    const QString path = socketPath(m_dataFolder);
    // The lock is ours, so a socket file left there belongs to an instance that has gone.
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) return false;
    connect(m_server, &QLocalServer::newConnection, this, [this, raise] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, client, [client, raise] {
                if (client->bytesAvailable() > longestRequest) {
                    client->abort();
                    return;
                }
                if (!client->canReadLine()) return;
                const QByteArray line = client->readLine().chopped(1);
                const qsizetype space = line.indexOf(' ');
                if ((space < 0 ? line : line.left(space)) == raiseRequest) {
                    const std::string token = space < 0 ? std::string() : line.mid(space + 1).toStdString();
                    // One request per connection: what else it sends is not read.
                    QObject::disconnect(client, &QLocalSocket::readyRead, client, nullptr);
                    QPointer<QLocalSocket> asker(client);
                    const auto answer = [asker](bool broughtForward) {
                        if (!asker) return;
                        asker->write(broughtForward ? raisedAnswer : shownAnswer);
                        asker->flush();
                        asker->disconnectFromServer();
                    };
                    if (raise) {
                        raise(token, answer);
                    } else {
                        answer(false);
                    }
                    return;
                }
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

} // namespace velk
