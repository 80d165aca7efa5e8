#include "pairing/camera_pairing_invitation.hpp"

namespace velk {

void to_json(Json& json, const CameraPairingInvitation& invitation) {
    json = Json{{"protocol", invitation.protocol},     {"v", invitation.v},
                {"directorId", invitation.directorId}, {"directorName", invitation.directorName},
                {"host", invitation.host},             {"port", invitation.port},
                {"publicKey", invitation.publicKey},   {"inviteId", invitation.inviteId},
                {"secret", invitation.secret},         {"expiresAtMs", invitation.expiresAtMs}};
}

void from_json(const Json& json, CameraPairingInvitation& invitation) {
    const Json& object = json::requireObject(json, "invitation");
    invitation.protocol = json::requireString(object, "protocol");
    invitation.v = json::requireInt64(object, "v");
    invitation.directorId = json::requireString(object, "directorId");
    invitation.directorName = json::requireString(object, "directorName");
    invitation.host = json::requireString(object, "host");
    invitation.port = json::requireInt64(object, "port");
    invitation.publicKey = json::requireString(object, "publicKey");
    invitation.inviteId = json::requireString(object, "inviteId");
    invitation.secret = json::requireString(object, "secret");
    invitation.expiresAtMs = json::requireInt64(object, "expiresAtMs");
}

std::string encodeInvitation(const CameraPairingInvitation& invitation) {
    Json value;
    to_json(value, invitation);
    return json::write(value);
}

} // namespace velk
