#pragma once
// The long-lived services every window receives. They are created once, in this order, when the
// application starts (see Application) and live until it quits; windows only borrow them.

#include <memory>

namespace velk {

class AppStore;
class CancellationToken;
class LANDiscovery;
class LiveCameraDiscovery;
class CameraPairingStore;
class WindowRegistry;

struct AppServices {
    AppStore& store;
    LANDiscovery& catalogDiscovery;
    LiveCameraDiscovery& liveDiscovery;
    // The trusted-camera store; null in builds without camera pairing. No window reads it yet.
    CameraPairingStore* pairing = nullptr;
    // Opens the other windows by id ("director", "library", "settings").
    WindowRegistry& windows;
    // Cancelled when the application starts to quit, so that waits of work it no longer needs (a
    // Wi-Fi join's NetworkManager waits) end at once instead of holding the process back.
    std::shared_ptr<const CancellationToken> quitting;
};

} // namespace velk
