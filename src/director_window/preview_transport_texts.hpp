#pragma once
// The texts of the Camera inspector's preview rows: how the selected camera's live preview reaches
// this computer. Each is a first-match table over the selected camera and, for the stream rows,
// the transports the preview store runs.

#include <optional>
#include <string>

#include "model/live_camera.hpp"
#include "preview/preview_network_policy.hpp"
#include "preview/preview_protocol.hpp"

namespace velk::PreviewTransportTexts {

// `camera` is the selected camera (absent when none is in Preview or it is not listed); `online`
// is its online test now.
std::string selectedLinkStatus(const LiveCamera* camera, bool online);
std::string advertisedTransportStatus(const LiveCamera* camera, bool online);
std::string previewHealthStatus(const LiveCamera* camera, bool online);
std::string h264Status(const LiveCamera* camera, bool online);
std::string fullStream4KStatus(const LiveCamera* camera, bool online);

// The "Wall" and "Selected" rows: from the Preview camera id and the transport of its running
// stream of that kind (none while no stream of that kind runs); no online test.
std::string transportStatus(VELKPreviewProfile profile, const std::optional<std::string>& previewCameraID,
                            VELKPreviewNetworkPolicy effective,
                            const std::optional<VELKPreviewClient::Transport>& transport);

// First letter of every word in upper case, the rest in lower case.
std::string capitalized(const std::string& text);

} // namespace velk::PreviewTransportTexts
