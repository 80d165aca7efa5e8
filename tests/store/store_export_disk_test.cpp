// "Export for Resolve" into a folder whose disk refuses the package: the user reads which way the
// destination disk refused it, and nothing of the package is left there.

#include <system_error>

#include "base/sha256.hpp"
#include "store_phone_fixture.hpp"
#include "support/small_disk.hpp"

namespace velk {
namespace {

using namespace velk::testing;
namespace fs = std::filesystem;

const std::vector<std::string> kDestinationSuites = {"ExportOntoARefusingDisk"};

TEST(ExportDestinationDisk, RunsTheRefusedExportCasesOnATmpfsOfFewFiles) {
    if (!test::smallDisk().empty()) GTEST_SKIP() << "part of another run";
    if (auto skip = test::runOnSmallDisk(kDestinationSuites, 64)) VELK_SKIP_CHILD_RUN(kDestinationSuites, *skip);
}

class ExportOntoARefusingDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::smallDisk().empty()) GTEST_SKIP() << "runs only on the small disk of a child run";
        ensureApplication();
        // The recordings lie elsewhere; only the chosen folder is on the small disk.
        VELKTake recorded{.id = "T7", .referenceCameraId = "A", .timelineFPS = "30"};
        const std::string content = "media of camera A";
        recorded.clips.push_back(VELKClip{.id = "clip-A", .cameraId = "A", .fileName = "clip-A.mov",
                                          .localPath = writeFile(roots.recordings() / "clip-A.mov", content).string(),
                                          .sha256 = Sha256::hexOf(content)});
        store = storeWith(roots, {project("p1", "Concert", 2, {recorded})});
        store->setFileViewer(viewer);
    }
    void TearDown() override {
        store.reset();
        if (!test::smallDisk().empty()) test::emptySmallDisk();
    }

    StoreRoots roots;
    std::unique_ptr<AppStore> store;
    std::shared_ptr<FakeFileViewer> viewer = std::make_shared<FakeFileViewer>();
    SteadyMedia probe;
};

TEST_F(ExportOntoARefusingDisk, EachRefusalIsSaidAboutTheDestinationAndLeavesNothing) {
    struct Case {
        const char* what;
        std::function<void()> refuse; // makes the disk refuse
        bool quota;                   // the documents' writes are refused for the quota
        std::string error;
    };
    const std::vector<Case> cases{
        {"full", [] { test::fillSmallDiskLeaving(0); }, false,
         "Resolve export failed: Not enough free space on the destination disk."},
        {"out of files", [] { test::useUpSmallDiskFilesLeaving(0); }, false,
         "Resolve export failed: The destination disk has no room for more files."},
        {"quota used up", [] {}, true, "Resolve export failed: The disk quota for the destination folder is used up."},
    };
    const fs::path parent = test::smallDisk() / "exports";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directory(parent);
        ExportEnvironment environment{&probe, std::chrono::system_clock::from_time_t(1772600767), {}};
        if (c.quota) {
            environment.writeFile = [](const fs::path&, std::string_view) {
                throw std::system_error(EDQUOT, std::generic_category(), "write");
            };
        }
        store->setExportEnvironment(environment);
        c.refuse();

        bool finished = false;
        store->exportSelectedTake(parent, [&] { finished = true; });
        ASSERT_TRUE(runUntil([&] { return finished; }));
        expectError(*store, c.error);
        EXPECT_TRUE(fs::is_empty(parent));
        EXPECT_TRUE(viewer->revealed.empty());
        test::emptySmallDisk();
    }
}

} // namespace
} // namespace velk
