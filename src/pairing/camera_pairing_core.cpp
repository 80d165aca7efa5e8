#include "pairing/camera_pairing_core.hpp"

#include <charconv>

#include "base/json.hpp"
#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "pairing/camera_pairing_wire.hpp"

namespace velk {

namespace {

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

const std::string* stringMember(const Json& object, const char* key) {
    const Json* value = member(object, key);
    return value && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}


} // namespace

std::string CameraPairingCandidate::verificationCode() const { return CameraPairingWire::verificationCode(transcript); }

void CameraPairingCore::begin(const std::string& directorID, const std::string& name, const std::string& host,
                              double now, WallTime wall, const std::optional<Bytes>& secret) {
    const std::string director = text::lowercased(directorID);
    if (!CameraPairingWire::uuid(director) || !CameraPairingWire::bounded(name, directorNameLimit) || !isLANHost(host))
        throw CameraPairingError::invalid(CameraPairingText::noNetwork);
    const Bytes secretBytesValue = secret ? *secret : randomBytes(secretBytes);
    if (secretBytesValue.size() != secretBytes) throw CameraPairingError::invalid(CameraPairingText::invalidInvitationKey);

    CameraPairingInvitation invitation;
    invitation.protocol = "velk-pair";
    invitation.v = 1;
    invitation.directorId = director;
    invitation.directorName = name;
    invitation.host = host;
    invitation.port = port;
    invitation.publicKey = CameraPairingWire::base64(m_key.publicKey());
    invitation.inviteId = uuid::newLowercase();
    invitation.secret = CameraPairingWire::base64(secretBytesValue);
    invitation.expiresAtMs = toWallMs(wall) + static_cast<std::int64_t>(invitationLifetimeSeconds * 1000);

    m_invitation = std::move(invitation);
    m_opened = now;
    m_candidate.reset();
    m_accepted.reset();
    m_retryCount = 0;
}

void CameraPairingCore::expire(double now) {
    if (m_invitation && now - m_opened >= invitationLifetimeSeconds) {
        m_invitation.reset();
        m_candidate.reset();
    }
    if (m_accepted && now - m_accepted->at >= replyLifetimeSeconds) m_accepted.reset();
}

void CameraPairingCore::cancel() {
    m_invitation.reset();
    m_candidate.reset();
    m_accepted.reset();
}

std::optional<std::string> CameraPairingCore::receive(std::string_view datagram, const std::string& host, double now) {
    expire(now);
    if (datagram.size() > maximumDatagramBytes) return std::nullopt;
    if (!isLANHost(host)) return std::nullopt;
    const std::optional<Json> parsed = json::tryParse(datagram);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const Json& root = *parsed;

    const Json* version = member(root, "v");
    const std::optional<double> versionValue = version ? json::numberValue(*version) : std::nullopt;
    if (!versionValue || *versionValue != 1.0) return std::nullopt;
    const std::string* type = stringMember(root, "type");
    if (!type || *type != "pair-hello") return std::nullopt;
    const std::string* sender = stringMember(root, "sender");
    if (!sender || !CameraPairingWire::bounded(*sender, senderLimit)) return std::nullopt;
    const Json* payload = member(root, "payload");
    if (!payload || !payload->is_object()) return std::nullopt;

    const std::string* directorId = stringMember(*payload, "directorId");
    if (!directorId || !CameraPairingWire::uuid(*directorId)) return std::nullopt;
    const std::string* inviteId = stringMember(*payload, "inviteId");
    if (!inviteId || !CameraPairingWire::uuid(*inviteId)) return std::nullopt;
    const std::string* requestId = stringMember(*payload, "requestId");
    if (!requestId || !CameraPairingWire::uuid(*requestId)) return std::nullopt;
    const std::string* cameraName = stringMember(*payload, "cameraName");
    if (!cameraName || !CameraPairingWire::bounded(*cameraName, cameraNameLimit)) return std::nullopt;
    const std::string* cameraKeyText = stringMember(*payload, "cameraPublicKey");
    const std::optional<Bytes> cameraKey = cameraKeyText ? CameraPairingWire::bytes(*cameraKeyText) : std::nullopt;
    if (!cameraKey || cameraKey->size() != pairing_crypto::publicKeyBytes) return std::nullopt;
    const std::string* proofText = stringMember(*payload, "proof");
    const std::optional<Bytes> proof = proofText ? CameraPairingWire::bytes(*proofText) : std::nullopt;
    if (!proof || proof->size() != proofBytes) return std::nullopt;
    const std::string* signatureText = stringMember(*payload, "signature");
    const std::optional<Bytes> signature = signatureText ? CameraPairingWire::bytes(*signatureText) : std::nullopt;
    if (!signature || signature->size() > signatureLimit) return std::nullopt;

    std::optional<pairing_crypto::PKey> cameraPublicKey = pairing_crypto::publicKey(*cameraKey);
    if (!cameraPublicKey || !pairing_crypto::isStrictDERSignature(*signature)) return std::nullopt;

    Bytes transcript =
        CameraPairingWire::helloTranscript(*directorId, *inviteId, *requestId, *sender, *cameraName, *cameraKeyText);

    if (m_accepted) {
        const CameraPairingCandidate& approved = m_accepted->candidate;
        if (approved.host == host && approved.transcript == transcript && approved.proof == *proofText &&
            approved.signature == *signatureText && m_retryCount <= maximumRepeats - 1) {
            ++m_retryCount;
            return m_accepted->response;
        }
    }

    if (!m_invitation || *directorId != m_invitation->directorId || *inviteId != m_invitation->inviteId)
        return std::nullopt;
    const std::optional<Bytes> secret = CameraPairingWire::bytes(m_invitation->secret);
    if (!secret) return std::nullopt;
    const Sha256::Digest expected = pairing_crypto::hmacSHA256(*secret, transcript);
    if (!pairing_crypto::constantTimeEqual(expected, *proof)) return std::nullopt;
    if (!pairing_crypto::verify(cameraPublicKey->get(), *signature, transcript)) return std::nullopt;

    if (!m_candidate) {
        m_candidate = CameraPairingCandidate{*sender,     *cameraName,   *cameraKeyText, *requestId,
                                             host,        std::move(transcript), *proofText, *signatureText};
    }
    return std::nullopt;
}

CameraPairingCore::Approval CameraPairingCore::approve(double now, WallTime wall) {
    expire(now);
    if (!m_invitation || !m_candidate) throw CameraPairingError::invalid(CameraPairingText::invitationExpired);
    const CameraPairingInvitation& invitation = *m_invitation;
    const CameraPairingCandidate& candidate = *m_candidate;

    const Bytes transcript =
        CameraPairingWire::acceptTranscript(candidate.transcript, invitation.directorName, invitation.publicKey);
    const Bytes signature = m_key.sign(transcript);
    const Json accept = {{"v", 1},
                         {"type", "pair-accept"},
                         {"sender", invitation.directorId},
                         {"payload",
                          {{"target", candidate.id},
                           {"inviteId", invitation.inviteId},
                           {"requestId", candidate.requestID},
                           {"directorName", invitation.directorName},
                           {"directorPublicKey", invitation.publicKey},
                           {"cameraPublicKey", candidate.publicKey},
                           {"verificationCode", candidate.verificationCode()},
                           {"signature", CameraPairingWire::base64(signature)}}}};
    std::string datagram = json::write(accept);

    Approval approval{TrustedCameraIdentity{candidate.id, candidate.name, candidate.publicKey, wall}, datagram,
                      candidate.host};
    m_accepted = Accepted{candidate, std::move(datagram), now};
    m_invitation.reset();
    m_candidate.reset();
    return approval;
}

bool CameraPairingCore::isLANHost(std::string_view host) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = host.find('.', start);
        pieces.push_back(host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (pieces.size() != 4) return false;
    int values[4];
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string_view piece = pieces[i];
        // Plain decimal only: no sign, no leading zero, no space, at most 255.
        if (piece.empty() || piece.size() > 3) return false;
        if (piece.find_first_not_of("0123456789") != std::string_view::npos) return false;
        if (piece.size() > 1 && piece[0] == '0') return false;
        int value = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (error != std::errc() || end != piece.data() + piece.size() || value < 0 || value > 255) return false;
        values[i] = value;
    }
    if (values[0] == 10) return true;
    if (values[0] == 192 && values[1] == 168) return true;
    return values[0] == 172 && values[1] >= 16 && values[1] <= 31;
}

} // namespace velk
