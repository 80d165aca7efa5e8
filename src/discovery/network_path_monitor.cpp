#include "discovery/network_path_monitor.hpp"

#include <cerrno>

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk {

NetworkPathMonitor::NetworkPathMonitor(std::function<void()> onUpdate, QObject* parent)
    : QObject(parent), m_onUpdate(std::move(onUpdate)) {}

NetworkPathMonitor::~NetworkPathMonitor() { cancel(); }

void NetworkPathMonitor::start() {
    cancel();
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_fd >= 0) {
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    }
    QPointer<NetworkPathMonitor> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->m_onUpdate) self->m_onUpdate();
    });
}

void NetworkPathMonitor::cancel() {
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void NetworkPathMonitor::drain() {
    char buffer[16384];
    bool changed = false;
    for (;;) {
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            changed = true;
            continue;
        }
        // An overrun lost messages, which still means something changed.
        if (n < 0 && errno == ENOBUFS) {
            changed = true;
            continue;
        }
        break;
    }
    if (changed && m_onUpdate) m_onUpdate();
}

} // namespace velk
