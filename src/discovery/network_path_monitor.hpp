#pragma once
// Watches the computer's network path over a netlink route socket: links and IPv4 addresses.
// Delivers one update for the path as it is at start, then one per batch of kernel changes.

#include <functional>

#include <QObject>

class QSocketNotifier;

namespace velk {

class NetworkPathMonitor final : public QObject {
    Q_OBJECT
public:
    // `onUpdate` runs on the monitor's thread. A monitor that cannot open its socket still
    // delivers the initial update and then stays quiet.
    explicit NetworkPathMonitor(std::function<void()> onUpdate, QObject* parent = nullptr);
    ~NetworkPathMonitor() override;

    void start();
    void cancel();

private:
    void drain();

    std::function<void()> m_onUpdate;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace velk
