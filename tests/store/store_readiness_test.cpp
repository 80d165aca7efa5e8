// When the Library's project commands are enabled, and that refused runs touch nothing.

#include "store_phone_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

// A session with `deviceID` that never reaches a network and accepts project trash requests.
std::shared_ptr<AuthenticatedTransferClient> trashingClient(const std::string& deviceID, const Clock& clock,
                                                            bool trash = true) {
    DiscoveredDevice device;
    device.serviceName = "Phone";
    device.catalogURL = baseURL;
    device.serviceType = "_velk-transfer._tcp.";
    device.deviceId = deviceID;
    device.sessionId = "5f0c7a7e-51a1-4d5e-9a51-8f1c6b1e2d3f";
    device.certificateSHA256 = digestA;
    device.foregroundOnly = true;
    device.transferAccess = "open";
    if (trash) device.projectTrashVersion = "trash-v1";
    TransferClientEnvironment environment;
    environment.clock = &clock;
    environment.makeSession = [](std::string_view) { return std::make_unique<NoNetworkSession>(); };
    return AuthenticatedTransferClient::connectOpen(device, environment);
}

VELKClip copied(const std::string& id) {
    VELKClip made = clip(id, "cam-" + id);
    made.localPath = "/recordings/" + id + ".mov";
    made.deviceId = phoneID;
    return made;
}

class Readiness : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
    void open(std::vector<VELKClip> clips, bool trash = true) {
        VELKLibrary library;
        library.projects.push_back(project("p1", "Show", 1, {take("t1", std::move(clips))}));
        store = storeWith(roots, library, clock);
        store->setTransferClient(phoneID, trashingClient(phoneID, clock, trash));
    }
    ManualClock clock{WallTime{} + std::chrono::hours(24 * 365 * 50)};
    StoreRoots roots;
    std::unique_ptr<AppStore> store;
};

TEST_F(Readiness, SourceTrashNeedsEveryClipCopiedFromALiveSession) {
    struct Case {
        const char* name;
        std::function<void(VELKClip&)> change;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"all copied", [](VELKClip&) {}, true},
        {"no local copy", [](VELKClip& c) { c.localPath.reset(); }, false},
        {"sidecar not copied", [](VELKClip& c) { c.timingSidecarURL = "/velk/v1/files/c2.timing.json"; }, false},
        {"sidecar copied",
         [](VELKClip& c) {
             c.timingSidecarURL = "/velk/v1/files/c2.timing.json";
             c.timingSidecarLocalPath = "/recordings/c2.mov.timing.json";
         },
         true},
        {"no device", [](VELKClip& c) { c.deviceId.reset(); }, false},
        {"no session for the device", [](VELKClip& c) { c.deviceId = "fedcba9876543210"; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VELKClip second = copied("c2");
        c.change(second);
        open({copied("c1"), second});
        EXPECT_EQ(store->canTrashSelectedProjectSources(), c.expected);
    }
    open({copied("c1")}, false);
    EXPECT_FALSE(store->canTrashSelectedProjectSources()) << "source without project trash";
    open({});
    EXPECT_FALSE(store->canTrashSelectedProjectSources()) << "project without clips";
    open({copied("c1")});
    clock.advanceMs(900000);
    EXPECT_FALSE(store->canTrashSelectedProjectSources()) << "expired session";

    // Refused runs do nothing at all.
    bool finished = false;
    store->trashSelectedProjectSources([&] { finished = true; });
    EXPECT_TRUE(finished);
    EXPECT_FALSE(store->isBusy());
    EXPECT_TRUE(store->activities().empty());
    EXPECT_FALSE(store->errorMessage());
}

TEST_F(Readiness, ProjectDownloadNeedsAnUnfinishedClipWithALiveSource) {
    VELKClip pending = copied("c2");
    pending.localPath.reset();
    open({copied("c1"), pending});
    EXPECT_TRUE(store->canDownloadSelectedProject());

    VELKClip sidecarMissing = copied("c2");
    sidecarMissing.timingSidecarURL = "/velk/v1/files/c2.timing.json";
    open({copied("c1"), sidecarMissing});
    EXPECT_TRUE(store->canDownloadSelectedProject());

    open({copied("c1"), copied("c2")});
    EXPECT_FALSE(store->canDownloadSelectedProject());
    bool finished = false;
    store->downloadSelectedProject([&] { finished = true; });
    EXPECT_TRUE(finished);
    EXPECT_FALSE(store->isBusy());
    EXPECT_TRUE(store->activities().empty());

    open({pending});
    clock.advanceMs(900000);
    EXPECT_FALSE(store->canDownloadSelectedProject()) << "expired session";
    const auto before = store->transfers();
    finished = false;
    store->downloadSelectedProject([&] { finished = true; });
    EXPECT_TRUE(finished);
    EXPECT_EQ(store->transfers(), before);
    EXPECT_TRUE(store->activities().empty());
}

TEST_F(Readiness, ExportWithoutSelectionChangesNothing) {
    open({copied("c1")});
    auto viewer = std::make_shared<FakeFileViewer>();
    store->setFileViewer(viewer);
    store->setSelectedProjectID(std::nullopt);
    bool finished = false;
    store->exportSelectedTake(roots.folder.path(), [&] { finished = true; });
    EXPECT_TRUE(finished);
    EXPECT_FALSE(store->isBusy());
    EXPECT_TRUE(store->activities().empty());
    EXPECT_TRUE(viewer->revealed.empty());
}

} // namespace
} // namespace velk
