// A take exported for Resolve and its own "source-manifest.json" imported back.

#include "base/sha256.hpp"
#include "export/drift_engine.hpp"
#include "store/app_store.hpp"
#include "store_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

// Every file is ten seconds of 1080p video at 30 frames per second with sound.
class SteadyMedia final : public MediaProbe {
public:
    std::unique_ptr<MediaAsset> open(const std::filesystem::path&) override { return std::make_unique<Asset>(); }

private:
    struct Asset final : MediaAsset {
        double durationSeconds() override { return 10; }
        std::vector<std::size_t> videoTracks() override { return {0}; }
        std::vector<std::size_t> audioTracks() override { return {1}; }
        MediaSize naturalSize(std::size_t) override { return {1920, 1080}; }
        MediaTransform preferredTransform(std::size_t) override { return {}; }
        float nominalFrameRate(std::size_t) override { return 30; }
    };
};

TEST(ManifestRoundTrip, ExportedManifestImportsBackWithoutLosingAnything) {
    StoreRoots roots;
    const std::filesystem::path media = roots.recordings() / "concert" / "t7";
    std::filesystem::create_directories(media);

    VELKTake recorded = take("T7");
    recorded.projectNameAtCapture = "Concert";
    recorded.projectRevisionAtCapture = 2;
    recorded.createdAt = "2025-03-01T09:30:00Z";
    recorded.referenceCameraId = "A";
    recorded.timelineFPS = "30/1";
    for (const std::string camera : {"A", "B"}) {
        const std::string content = "media of camera " + camera;
        const auto file = writeFile(media / ("clip-" + camera + ".mov"), content);
        VELKClip made = clip("clip-" + camera, camera, Sha256::hexOf(content));
        made.localPath = file.string();
        made.remoteURL = "https://phone.local:8443/velk/v1/files/clip-" + camera;
        made.sizeBytes = static_cast<std::int64_t>(content.size());
        made.hasVideo = true;
        made.hasAudio = true;
        made.mediaKind = "video";
        made.deviceId = phoneID;
        made.deviceName = "Stage Left";
        made.originCatalogRevision = 7;
        made.timingSidecarURL = "https://phone.local:8443/velk/v1/files/clip-" + camera + ".timing.json";
        made.timingSidecarSHA256 = digestC;
        made.timingSidecarLocalPath = (media / ("clip-" + camera + ".timing.json")).string();
        if (camera == "B") {
            made.anchorMeaning = "same-event-reference-media-seconds";
            for (double source : {0.5, 3.0, 5.0, 7.0, 9.5}) made.anchors.push_back({source, source + 2, 0.95, 1.0});
        }
        recorded.clips.push_back(made);
    }
    VELKLibrary library;
    library.projects = {project("p1", "Concert", 2, {recorded})};
    auto store = storeWith(roots, library);

    SteadyMedia probe;
    ExportEnvironment environment;
    environment.probe = &probe;
    std::filesystem::create_directories(roots.folder.path() / "exports");
    const std::filesystem::path package =
        DriftEngine::exportTake(library.projects[0], recorded, roots.folder.path() / "exports", environment);

    store->importManifest(package / "source-manifest.json");
    ASSERT_FALSE(store->errorMessage()) << *store->errorMessage();
    ASSERT_EQ(store->library().projects.size(), 1u);
    const VELKProject& after = store->library().projects[0];
    EXPECT_EQ(after.name, "Concert");
    EXPECT_EQ(after.revision, 2);
    ASSERT_EQ(after.takes.size(), 1u);
    VELKTake expected = recorded;
    expected.sourceManifestPath = (package / "source-manifest.json").string();
    EXPECT_EQ(after.takes[0], expected);
    EXPECT_EQ(store->activities().front().message, "Imported take T7 with 2 camera clip(s).");
}

} // namespace
} // namespace velk
