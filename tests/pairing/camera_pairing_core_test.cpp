#include <cstdio>
#include <fstream>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "pairing_test_support.hpp"

namespace velk {
namespace {

using pairing_test::Hello;

using pairing_test::camera;
using pairing_test::director;
const WallTime wall = fromWallMs(1'700'000'000'123) + std::chrono::microseconds(900);

class PairingCore : public testing::Test {
protected:
    void SetUp() override { core.begin(director, "Studio Mac", "10.77.0.1", 1000, wall, pairing_test::secret()); }
    Hello hello() const { return Hello(*core.invitation()); }
    bool accepted(const std::string& datagram, const std::string& host = camera, double now = 1001) {
        core.receive(datagram, host, now);
        return core.candidate().has_value();
    }
    CameraPairingCore core{pairing_test::directorKey()};
};

TEST_F(PairingCore, BeginMakesTheInvitation) {
    const CameraPairingInvitation invitation = *core.invitation();
    EXPECT_EQ(invitation.protocol, "velk-pair");
    EXPECT_EQ(invitation.port, 45454);
    EXPECT_TRUE(CameraPairingWire::uuid(invitation.inviteId));
    EXPECT_EQ(invitation.expiresAtMs, 1'700'000'000'123 + 120'000);
    const Json encoded = json::parse(encodeInvitation(invitation));
    EXPECT_EQ(encoded.size(), 10u);
    CameraPairingInvitation decoded;
    from_json(encoded, decoded);
    EXPECT_EQ(decoded, invitation);

    core.begin("6F9619FF-8B86-4011-B42D-00C04FC964FF", "Studio Mac", "10.0.0.1", 0, wall);
    EXPECT_EQ(core.invitation()->directorId, director);
    EXPECT_NE(core.invitation()->inviteId, invitation.inviteId);
    EXPECT_NE(core.invitation()->secret, invitation.secret);
}

TEST_F(PairingCore, ExpiryCutsAPartOfAMillisecondTowardZero) {
    using std::chrono::microseconds;
    const std::pair<WallTime, std::int64_t> cases[] = {
        {fromWallMs(0), 120'000},
        {fromWallMs(1'700'000'000'123) + microseconds(999), 1'700'000'000'123 + 120'000},
        {fromWallMs(0) - microseconds(400), 120'000},                  // just before 1970
        {fromWallMs(-1) - microseconds(500), -1 + 120'000},            // -1.5 ms
        {fromWallMs(-315'619'200'000) - microseconds(700), -315'619'200'000 + 120'000}, // 1960
    };
    for (const auto& [at, expiresAtMs] : cases) {
        core.begin(director, "Studio Mac", "10.77.0.1", 1000, at, pairing_test::secret());
        EXPECT_EQ(core.invitation()->expiresAtMs, expiresAtMs) << toWallMs(at);
    }
}

TEST_F(PairingCore, BeginRefusalsLeaveTheInvitation) {
    const CameraPairingInvitation before = *core.invitation();
    const struct { std::string id, name, host; std::optional<Bytes> secret; const char* sentence; } cases[] = {
        {"{6f9619ff-8b86-4011-b42d-00c04fc964ff}", "Mac", "10.0.0.1", {}, CameraPairingText::noNetwork},
        {director, std::string(65, 'a'), "10.0.0.1", {}, CameraPairingText::noNetwork},
        {director, "", "10.0.0.1", {}, CameraPairingText::noNetwork},
        {director, "a\nb", "10.0.0.1", {}, CameraPairingText::noNetwork},
        {director, "Mac", "8.8.8.8", {}, CameraPairingText::noNetwork},
        {director, "Mac", "10.0.0.1", Bytes(31), "Invalid invitation key."},
        {director, "Mac", "10.0.0.1", Bytes(33), "Invalid invitation key."},
        {director, "Mac", "10.0.0.1", Bytes(), "Invalid invitation key."},
    };
    for (const auto& c : cases) {
        try {
            core.begin(c.id, c.name, c.host, 5, wall, c.secret);
            ADD_FAILURE() << c.name;
        } catch (const CameraPairingError& error) {
            EXPECT_STREQ(error.what(), c.sentence);
        }
        EXPECT_EQ(*core.invitation(), before);
    }
    EXPECT_STREQ(CameraPairingText::noNetwork, "Connect this computer to a local Wi-Fi or Ethernet network first.");
    EXPECT_NO_THROW(core.begin(director, std::string(64, 'a'), "10.0.0.1", 5, wall));
}

TEST(PairingCoreHost, LANHostRule) {
    for (const char* yes : {"10.0.0.1", "172.16.0.1", "172.31.255.255", "192.168.1.20"})
        EXPECT_TRUE(CameraPairingCore::isLANHost(yes)) << yes;
    for (const char* no : {"172.15.0.1", "172.32.0.1", "192.169.1.1", "127.0.0.1", "169.254.1.1", "8.8.8.8", "10.0.0",
                           "10.0.0.1.5", "10.0.0.256", "010.0.0.1", "10..0.1", "10.0.0.1 ", "+10.0.0.1", "10.-0.0.1",
                           "camera.local", "::1", "fe80::1", ""})
        EXPECT_FALSE(CameraPairingCore::isLANHost(no)) << no;
}

// Each case breaks one rule of a valid hello, checked in the order the receive chain tests them.
TEST_F(PairingCore, EveryRuleRefusesItsMutation) {
    const Hello base = hello();
    auto sig = [&](const Hello& h) { return h.signer.sign(h.transcript()); };
    // A signature short enough that one more byte stays within 72.
    auto shortSignature = [&](const Hello& h) {
        for (;;) {
            Bytes s = sig(h);
            if (s.size() <= 70) return s;
        }
    };
    Bytes offCurve(65, 0x01);
    offCurve[0] = 0x04;
    Bytes hybrid = pairing_test::cameraKey().publicKey();
    hybrid[0] = static_cast<std::uint8_t>(0x06 | (hybrid[64] & 1));
    Bytes compressed(hybrid.begin(), hybrid.begin() + 33);
    compressed[0] = static_cast<std::uint8_t>(0x02 | (hybrid[64] & 1));

    const struct { const char* rule; std::function<void(Hello&)> mutate; std::string host = camera; } cases[] = {
        {"oversized", [](Hello& h) { h.edit = [](Json& r) { r["pad"] = std::string(8192, ' '); }; }},
        {"public host", [](Hello&) {}, "8.8.8.8"},
        {"loopback host", [](Hello&) {}, "127.0.0.1"},
        {"array", [](Hello& h) { h.edit = [](Json& r) { r = Json::array({r}); }; }},
        {"v true", [](Hello& h) { h.edit = [](Json& r) { r["v"] = true; }; }},
        {"v text", [](Hello& h) { h.edit = [](Json& r) { r["v"] = "1"; }; }},
        {"v 2", [](Hello& h) { h.edit = [](Json& r) { r["v"] = 2; }; }},
        {"type case", [](Hello& h) { h.edit = [](Json& r) { r["type"] = "PAIR-HELLO"; }; }},
        {"sender missing", [](Hello& h) { h.edit = [](Json& r) { r.erase("sender"); }; }},
        {"sender 129 bytes", [](Hello& h) { h.sender = std::string(129, 'c'); }},
        {"sender tab", [](Hello& h) { h.sender = "cam\tA"; }},
        {"payload array", [](Hello& h) { h.edit = [](Json& r) { r["payload"] = Json::array(); }; }},
        {"director upper case", [](Hello& h) { h.director = "6F9619FF-8B86-4011-B42D-00C04FC964FF"; }},
        {"invite braces", [](Hello& h) { h.invite = "{" + h.invite + "}"; }},
        {"request number", [](Hello& h) { h.edit = [](Json& r) { r["payload"]["requestId"] = 7; }; }},
        {"name 65 bytes", [](Hello& h) { h.name = std::string(65, 'n'); }},
        {"name zero width", [](Hello& h) { h.name = "Cam\xE2\x80\x8B"; }},
        {"key compressed", [&](Hello& h) { h.key = CameraPairingWire::base64(compressed); }},
        {"key 64 bytes", [&](Hello& h) { h.key = CameraPairingWire::base64(Bytes(hybrid.begin() + 1, hybrid.end())); }},
        {"key hybrid", [&](Hello& h) { h.key = CameraPairingWire::base64(hybrid); }},
        {"key off curve", [&](Hello& h) { h.key = CameraPairingWire::base64(offCurve); }},
        {"key padded", [](Hello& h) { h.key += "="; }},
        {"proof 31 bytes", [](Hello& h) { h.edit = [](Json& r) { r["payload"]["proof"] = CameraPairingWire::base64(Bytes(31)); }; }},
        {"signature 73 bytes", [](Hello& h) { h.signatureBytes = Bytes(73, 0x30); }},
        {"signature BER length", [&](Hello& h) {
             Bytes s = shortSignature(h);
             s.insert(s.begin() + 1, 0x81);
             h.signatureBytes = s;
         }},
        {"signature trailing byte", [&](Hello& h) {
             Bytes s = shortSignature(h);
             s.push_back(0);
             h.signatureBytes = s;
         }},
        {"earlier invitation", [](Hello& h) { h.invite = "0f8fad5b-d9cb-469f-a165-70867728950e"; }},
        {"other director", [](Hello& h) { h.director = "0f8fad5b-d9cb-469f-a165-70867728950e"; }},
        {"other secret", [](Hello& h) { h.macKey = pairing_test::sequence(0x41, 32); }},
        {"other signer", [](Hello& h) { h.signer = pairing_crypto::SigningKey::generate(); }},
        {"other transcript", [&](Hello& h) {
             Hello other = h;
             other.name = "Camera B";
             h.signatureBytes = sig(other);
         }},
    };
    for (const auto& c : cases) {
        Hello h = base;
        c.mutate(h);
        EXPECT_EQ(core.receive(h.build(), c.host, 1001), std::nullopt) << c.rule;
        EXPECT_FALSE(core.candidate()) << c.rule;
    }
    // Unknown fields, a float version and padding up to 8192 bytes are accepted.
    Hello padded = base;
    padded.edit = [](Json& root) {
        root["v"] = 1.0;
        root["extra"] = 1;
        root["payload"]["extra"] = "x";
        root["pad"] = "";
        root["pad"] = std::string(8192 - root.dump().size(), ' ');
    };
    ASSERT_EQ(padded.build().size(), 8192u);
    EXPECT_TRUE(accepted(padded.build()));
}

TEST_F(PairingCore, FirstCandidateStaysAndInvitationServesOnce) {
    Hello second = hello();
    second.sender = "cam-B";
    second.signer = pairing_crypto::SigningKey::generate();
    second.key = CameraPairingWire::base64(second.signer.publicKey());
    ASSERT_TRUE(accepted(hello().build()));
    core.receive(second.build(), "10.77.0.12", 1002);
    EXPECT_EQ(core.candidate()->id, "cam-A");
    core.approve(1003, wall);
    core.receive(second.build(), "10.77.0.12", 1004);
    EXPECT_FALSE(core.candidate());
    EXPECT_THROW(core.approve(1005, wall), CameraPairingError);
}

TEST_F(PairingCore, ExpiresAtExactly120Seconds) {
    const std::string valid = hello().build();
    core.expire(1119.999);
    EXPECT_TRUE(core.invitation());
    EXPECT_EQ(core.receive(valid, camera, 1120), std::nullopt);
    EXPECT_FALSE(core.invitation());
    EXPECT_FALSE(core.candidate());
    try {
        core.approve(1120, wall);
        ADD_FAILURE();
    } catch (const CameraPairingError& error) {
        EXPECT_STREQ(error.what(), "Invitation expired. Show a new QR code.");
    }
}

std::string fileOf(const QTemporaryDir& dir, const char* name, const Bytes& bytes) {
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

TEST_F(PairingCore, ApprovalSignsTheAcceptAndRepliesToRepeats) {
    const Hello valid = hello();
    const std::string datagram = valid.build();
    ASSERT_TRUE(accepted(datagram));
    const std::string code = core.candidate()->verificationCode();
    const CameraPairingInvitation invitation = *core.invitation();
    EXPECT_EQ(core.candidate()->transcript, valid.transcript());
    const CameraPairingCore::Approval approval = core.approve(1002, wall);
    EXPECT_EQ(approval.host, camera);
    EXPECT_EQ(approval.identity, (TrustedCameraIdentity{"cam-A", "Camera A", valid.key, wall}));
    EXPECT_FALSE(core.invitation());

    const Json accept = json::parse(approval.datagram);
    EXPECT_EQ(accept["v"], 1);
    EXPECT_EQ(accept["type"], "pair-accept");
    EXPECT_EQ(accept["sender"], director);
    const Json& p = accept["payload"];
    EXPECT_EQ(p.size(), 8u);
    EXPECT_EQ(p["target"], "cam-A");
    EXPECT_EQ(p["inviteId"], invitation.inviteId);
    EXPECT_EQ(p["requestId"], valid.request);
    EXPECT_EQ(p["directorName"], "Studio Mac");
    EXPECT_EQ(p["directorPublicKey"], invitation.publicKey);
    EXPECT_EQ(p["cameraPublicKey"], valid.key);
    EXPECT_EQ(p["verificationCode"], code);
    const Bytes signature = *CameraPairingWire::bytes(p["signature"].get<std::string>());
    const Bytes transcript = CameraPairingWire::acceptTranscript(valid.transcript(), "Studio Mac", invitation.publicKey);
    auto key = pairing_crypto::publicKey(*CameraPairingWire::bytes(invitation.publicKey));
    EXPECT_TRUE(pairing_crypto::verify(key->get(), signature, transcript));

    // The openssl command line agrees (P-256 SubjectPublicKeyInfo prefix + the 65-byte point).
    QTemporaryDir dir;
    Bytes spki = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                  0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
    const Bytes point = *CameraPairingWire::bytes(invitation.publicKey);
    spki.insert(spki.end(), point.begin(), point.end());
    const std::string command = "openssl dgst -sha256 -keyform DER -verify " + fileOf(dir, "key.der", spki) +
                                " -signature " + fileOf(dir, "sig.der", signature) + " " +
                                fileOf(dir, "data", transcript) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_TRUE(read);
    EXPECT_STREQ(line, "Verified OK\n");

    for (int copy = 1; copy <= 32; ++copy) EXPECT_EQ(core.receive(datagram, camera, 1003), approval.datagram) << copy;
    EXPECT_EQ(core.receive(datagram, camera, 1003), std::nullopt);
    EXPECT_THROW(core.approve(1004, wall), CameraPairingError);
}

TEST_F(PairingCore, RepeatNeedsSameHostSameBytesAndTime) {
    const Hello valid = hello();
    const std::string datagram = valid.build();
    ASSERT_TRUE(accepted(datagram));
    const std::string reply = core.approve(1002, wall).datagram;
    EXPECT_EQ(core.receive(datagram, "10.77.0.12", 1003), std::nullopt);
    // A fresh signature over the same transcript is not a repeat.
    EXPECT_EQ(core.receive(valid.build(), camera, 1003), std::nullopt);
    EXPECT_EQ(core.receive(datagram, camera, 1121.9), reply);
    EXPECT_EQ(core.receive(datagram, camera, 1122), std::nullopt);
}

} // namespace
} // namespace velk
