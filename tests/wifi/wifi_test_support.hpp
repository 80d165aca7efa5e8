#pragma once
// Shared by the Wi-Fi tests: a GUI application on the offscreen platform, waiting on the event
// loop, the sentence of a failure, and a Wi-Fi backend whose system answers the test decides.

#include <atomic>
#include <functional>
#include <mutex>

#include <QDeadlineTimer>
#include <QGuiApplication>

#include "wifi/wifi_backend.hpp"

namespace velk::test {

// The sheet's tests pass QApplication.
template <class Application = QGuiApplication>
void ensureApplication() {
    static int argc = 1;
    static char name[] = "velk_wifi_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    new Application(argc, argv);
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// The sentence of the WiFiQRError that `operation` throws; empty when it throws nothing.
inline std::string failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

inline WifiNetwork network(const std::string& ssid, std::vector<WifiSecurity> securities, int signal,
                           const std::string& id) {
    return WifiNetwork{std::vector<std::uint8_t>(ssid.begin(), ssid.end()), std::move(securities), signal, id};
}

class FakeWifiBackend final : public WifiBackend {
public:
    // Set by the test before a join.
    WifiPermission status = WifiPermission::authorized;
    std::optional<std::string> wifiInterface = "wlan0";
    std::optional<std::vector<WifiNetwork>> scanResult = std::vector<WifiNetwork>{};
    bool associateSucceeds = true;
    std::function<void()> duringScan; // runs on the worker inside the scan

    // Recorded.
    std::function<void(WifiPermission)> permissionAnswer;
    std::atomic<int> permissionRequests{0};
    std::atomic<int> scans{0};
    std::atomic<int> associations{0};

    std::string associatedID() const {
        std::lock_guard guard(m_lock);
        return m_associatedID;
    }
    std::optional<std::string> associatedPassword() const {
        std::lock_guard guard(m_lock);
        return m_associatedPassword;
    }

    WifiPermission permissionStatus() override { return status; }
    void requestPermission(std::function<void(WifiPermission)> answer) override {
        ++permissionRequests;
        permissionAnswer = std::move(answer);
    }
    std::optional<std::string> interface() override { return wifiInterface; }
    std::optional<std::vector<WifiNetwork>> scan(const std::string&, const std::vector<std::uint8_t>&) override {
        ++scans;
        if (duringScan) duringScan();
        return scanResult;
    }
    bool associate(const std::string&, const WifiNetwork& chosen, const std::optional<std::string>& password) override {
        ++associations;
        std::lock_guard guard(m_lock);
        m_associatedID = chosen.id;
        m_associatedPassword = password;
        return associateSucceeds;
    }

private:
    mutable std::mutex m_lock;
    std::string m_associatedID;
    std::optional<std::string> m_associatedPassword;
};

} // namespace velk::test
