// Figures of camera pairing on the GUI thread, printed, never asserted:
//   1. a junk 8 KiB datagram through the store's receive (random bytes, and well-formed JSON that
//      fails an identifier test) against a budget of 100 us;
//   2. a valid hello (MAC and ECDSA P-256 verification) against a budget of 1 ms and against one
//      P-256 verification as `openssl speed -seconds 1 ecdsap256` measures it in the same run.
// VELK_BENCH_LONG=1 runs ten times as many rounds.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include <QCoreApplication>

#include "app/process_start.hpp"
#include "bench_support.hpp"
#include "pairing/camera_pairing_store.hpp"
#include "pairing/camera_pairing_wire.hpp"
#include "pairing/pairing_crypto.hpp"

namespace {

using namespace velk;

// Verifications per second of one P-256 verify, from `openssl speed`; 0 when it cannot be read.
double opensslVerifiesPerSecond() {
    FILE* pipe = popen("openssl speed -seconds 1 ecdsap256 2>/dev/null", "r");
    if (!pipe) return 0;
    char line[512];
    double verifies = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        const std::string text = line;
        if (text.find("nistp256") == std::string::npos || text.find("bits") == std::string::npos) continue;
        std::istringstream words(text);
        std::string word, last;
        while (words >> word) last = word;
        verifies = std::atof(last.c_str());
    }
    pclose(pipe);
    return verifies;
}

template <class Body>
double microsecondsPerCall(int rounds, Body body) {
    const double start = bench::nowSeconds();
    for (int i = 0; i < rounds; ++i) body();
    return (bench::nowSeconds() - start) * 1e6 / rounds;
}

std::string hello(const CameraPairingInvitation& invitation, const pairing_crypto::SigningKey& camera) {
    const std::string key = CameraPairingWire::base64(camera.publicKey());
    const Bytes transcript = CameraPairingWire::helloTranscript(invitation.directorId, invitation.inviteId,
                                                                "7c9e6679-7425-40de-944b-e07fc1f90ae7", "cam-A", "Camera A", key);
    const Json root = {{"v", 1},
                       {"type", "pair-hello"},
                       {"sender", "cam-A"},
                       {"payload",
                        {{"directorId", invitation.directorId},
                         {"inviteId", invitation.inviteId},
                         {"requestId", "7c9e6679-7425-40de-944b-e07fc1f90ae7"},
                         {"cameraName", "Camera A"},
                         {"cameraPublicKey", key},
                         {"proof", CameraPairingWire::base64(pairing_crypto::hmacSHA256(
                                       *CameraPairingWire::bytes(invitation.secret), transcript))},
                         {"signature", CameraPairingWire::base64(camera.sign(transcript))}}}};
    return root.dump();
}

} // namespace

int main(int argc, char** argv) {
    velk::startProcess(); // the process set up as the application sets up its own
    QCoreApplication app(argc, argv);
    const int scale = std::getenv("VELK_BENCH_LONG") ? 10 : 1;
    const std::filesystem::path folder = bench::makeTempFolder("pairing-bench");
    int status = 0;
    {
        CameraPairingStore store(folder);
        store.begin("6f9619ff-8b86-4011-b42d-00c04fc964ff", std::string("10.77.0.1"));
        if (!store.invitation()) {
            std::fprintf(stderr, "no invitation: %s\n", store.message().c_str());
            status = 1;
        } else {
            const Bytes random = randomBytes(8192);
            const std::string junk(random.begin(), random.end());
            Json shaped = {{"v", 1}, {"type", "pair-hello"}, {"sender", "cam-A"},
                           {"payload", {{"directorId", "NOT-A-UUID"}, {"pad", ""}}}};
            shaped["payload"]["pad"] = std::string(8192 - shaped.dump().size(), 'x');
            const std::string junkJson = shaped.dump();
            const std::string valid = hello(*store.invitation(), pairing_crypto::SigningKey::generate());

            const double junkUs = microsecondsPerCall(20000 * scale, [&] { store.receive(junk, "10.77.0.11"); });
            const double junkJsonUs = microsecondsPerCall(5000 * scale, [&] { store.receive(junkJson, "10.77.0.11"); });
            const double validUs = microsecondsPerCall(500 * scale, [&] { store.receive(valid, "10.77.0.11"); });
            const double verifies = opensslVerifiesPerSecond();

            std::printf("junk 8 KiB datagram (random bytes):   %8.2f us  (budget 100 us: %.3f of it)\n", junkUs, junkUs / 100);
            std::printf("junk 8 KiB datagram (JSON, bad id):   %8.2f us  (budget 100 us: %.3f of it)\n", junkJsonUs,
                        junkJsonUs / 100);
            std::printf("valid hello (MAC + ECDSA verify):     %8.2f us  (budget 1000 us: %.3f of it)\n", validUs,
                        validUs / 1000);
            if (verifies > 0) {
                const double opensslUs = 1e6 / verifies;
                std::printf("openssl speed ecdsap256 verify:       %8.2f us  (valid hello / openssl verify: %.2f)\n",
                            opensslUs, validUs / opensslUs);
            } else {
                std::printf("openssl speed ecdsap256: not available\n");
            }
        }
    }
    std::filesystem::remove_all(folder);
    return status;
}
