#include <sys/stat.h>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>

#include <gtest/gtest.h>

#include "fake_clip_source.hpp"
#include "transfer_test_support.hpp"
#include "transfer/transfer_protocol.hpp"
#include "transfer/verified_project_copy.hpp"

namespace velk {
namespace {

using testing::digestOf;
using testing::writeFile;
namespace fs = std::filesystem;

const std::string deviceID = "0123456789abcdef";
const std::string projectID = "3c1d2e3f-4a5b-4c6d-8e7f-901234567890";
const std::string unreadable = "Copy is missing, outside recordings, or has an invalid size.";
const std::string changed = "Local copy changed or failed SHA-256 verification.";

std::string clipIdOf(int n) {
    char text[37];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
    return text;
}

class VerifiedCopy : public ::testing::Test {
public:
    void SetUp() override {
        // Memory-backed when the machine has it: a proof flushes every copy to storage, and ten
        // thousand flushes to a disk would take most of a minute.
        const fs::path parent = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (parent / "verified-copy-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        root = base / "Velk";
        fs::create_directories(root);
        file = root / "p" / "t" / "cam" / "clip" / "clip.mov";
        writeFile(file, bytes);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(file, fs::perms::owner_all, ignored);
        fs::remove_all(base);
    }

    std::string verify(const fs::path& path, const std::string& digest, std::optional<std::int64_t> size) {
        return testing::outcome([&] { VerifiedProjectCopy::verifyFile(path, digest, root, size); });
    }

    fs::path base;
    fs::path root;
    fs::path file;
    const std::string bytes = testing::patternBytes(5000, 40);
    const std::string digest = digestOf(bytes);
};

TEST_F(VerifiedCopy, AcceptsAPlainCopyWhateverTheDigestSpelling) {
    fs::create_directory_symlink(root, base / "linked");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const fs::path throughLink = base / "linked" / "p" / "t" / "cam" / "clip" / "clip.mov";
    const std::vector<std::tuple<fs::path, std::string, std::optional<std::int64_t>, fs::path>> cases = {
        {file, digest, 5000, root},
        {file, digest, std::nullopt, root},
        {file, testing::upper(digest), 5000, root},
        {file, testing::separatedDigest(digest), 5000, root},
        {file, digest, 5000, base / "linked"}, // a root reached through a link still holds its files
        {throughLink, digest, 5000, root},
    };
    for (const auto& [path, spelling, size, recordings] : cases) {
        EXPECT_EQ(testing::outcome([&] { VerifiedProjectCopy::verifyFile(path, spelling, recordings, size); }), "succeeded") << path << spelling;
    }
}

TEST_F(VerifiedCopy, RefusesWhatIsNotAPlainCopyInsideTheRoot) {
    fs::create_symlink(file, root / "link.mov");
    writeFile(base / "outside.mov", bytes);
    writeFile(base / "Velk-sibling" / "clip.mov", bytes);
    fs::create_directory_symlink(base, root / "escape");
    ASSERT_EQ(::mkfifo((root / "pipe.mov").c_str(), 0644), 0);
    struct Case {
        std::string name;
        fs::path path;
        std::string digest;
        std::optional<std::int64_t> size;
    };
    const std::vector<Case> cases{
        {"symbolic link inside the root", root / "link.mov", digest, 5000},
        {"folder", file.parent_path(), digest, std::nullopt},
        {"named pipe without a writer", root / "pipe.mov", digest, std::nullopt},
        {"outside the root", base / "outside.mov", digest, 5000},
        {"outside through ..", root / ".." / "outside.mov", digest, 5000},
        {"outside through a linked folder", root / "escape" / "outside.mov", digest, 5000},
        {"sibling folder sharing the root's name as prefix", base / "Velk-sibling" / "clip.mov", digest, 5000},
        {"one byte short", file, digest, 5001},
        {"one byte long", file, digest, 4999},
        {"digest not SHA-256", file, digest.substr(1), 5000},
    };
    for (const auto& c : cases) EXPECT_EQ(verify(c.path, c.digest, c.size), unreadable) << c.name;
}

TEST_F(VerifiedCopy, ChangedByteFailsAndAMissingFileIsTheSystemsOwnError) {
    std::string altered = bytes;
    altered[2500] = static_cast<char>(altered[2500] ^ 1);
    writeFile(file, altered);
    EXPECT_EQ(verify(file, digest, 5000), changed);
    try {
        VerifiedProjectCopy::verifyFile(root / "nothing.mov", digest, root, 5000);
        FAIL() << "verified a missing file";
    } catch (const TransferProtocolError&) {
        FAIL() << "a sentence instead of the system error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
}

// --- proofs ---

class ProjectProof : public VerifiedCopy {
public:
    // A source project of `count` clips whose copies all share one verified file on disk.
    void makeProject(int count, const std::string& id = projectID) {
        catalog = DeviceCatalog{};
        catalog.schemaVersion = 1;
        catalog.deviceId = deviceID;
        catalog.deviceName = "Stage Left";
        CatalogTake sourceTake;
        sourceTake.takeId = "take-1";
        project = VELKProject{};
        project.id = id;
        VELKTake localTake;
        localTake.id = "take-1";
        for (int n = count; n >= 1; --n) { // catalog order is the reverse of clip id order
            const std::string camera = "cam-" + std::to_string(n % 4);
            sourceTake.clips.push_back(CatalogClip{.clipId = clipIdOf(n), .cameraId = camera, .fileName = "clip.mov",
                                                   .sizeBytes = 5000, .sha256 = digest, .finalized = true});
            localTake.clips.push_back(VELKClip{.id = clipIdOf(n), .cameraId = camera, .fileName = "clip.mov",
                                               .localPath = file.string(), .sizeBytes = 5000, .sha256 = digest,
                                               .deviceId = deviceID});
        }
        if (id.starts_with("unassigned-")) {
            catalog.unassignedTakes = std::vector<CatalogTake>{sourceTake};
        } else {
            catalog.projects.push_back(CatalogProject{id, "Wedding", 1, {sourceTake}});
        }
        project.takes.push_back(localTake);
    }

    std::string proofSentence() {
        return testing::outcome([&] { entries = VerifiedProjectCopy::proof(project, catalog, deviceID, root); });
    }

    CatalogClip& sourceClip(int index) {
        return catalog.unassignedTakes ? (*catalog.unassignedTakes)[0].clips[index] : catalog.projects[0].takes[0].clips[index];
    }

    DeviceCatalog catalog;
    VELKProject project;
    std::vector<std::map<std::string, std::string>> entries;
};

TEST_F(ProjectProof, EntriesSortedByClipIdWithTheirDigests) {
    makeProject(3);
    const std::string timing = "{}";
    writeFile(root / "clip.mov.timing.json", timing);
    sourceClip(0).timingSidecarURL = "/velk/v1/files/" + clipIdOf(3) + ".timing.json";
    sourceClip(0).timingSidecarSHA256 = testing::upper(digestOf(timing));
    project.takes[0].clips[0].timingSidecarSHA256 = digestOf(timing);
    project.takes[0].clips[0].timingSidecarLocalPath = (root / "clip.mov.timing.json").string();

    ASSERT_EQ(proofSentence(), "succeeded");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (std::map<std::string, std::string>{{"clipId", clipIdOf(1)}, {"sha256", digest}}));
    EXPECT_EQ(entries[1], (std::map<std::string, std::string>{{"clipId", clipIdOf(2)}, {"sha256", digest}}));
    EXPECT_EQ(entries[2], (std::map<std::string, std::string>{
                              {"clipId", clipIdOf(3)}, {"sha256", digest}, {"timingSidecarSHA256", digestOf(timing)}}));
}

TEST_F(ProjectProof, TenThousandClipsProveAndOneMoreDoesNot) {
    makeProject(10'000);
    EXPECT_EQ(proofSentence(), "succeeded");
    EXPECT_EQ(entries.size(), 10'000u);
    makeProject(10'001);
    EXPECT_EQ(proofSentence(), "Every current source clip must have exactly one verified local copy.");
    makeProject(0);
    EXPECT_EQ(proofSentence(), "Every current source clip must have exactly one verified local copy.");
}

TEST_F(ProjectProof, UnassignedProjectInEitherSpelling) {
    makeProject(2, "unassigned-" + deviceID);
    EXPECT_EQ(proofSentence(), "succeeded");

    // A phone whose device id is an upper-case UUID: the store names the project with its safe form.
    const std::string upperDevice = "6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B";
    makeProject(2, "unassigned-6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b");
    catalog.deviceId = upperDevice;
    for (auto& clip : project.takes[0].clips) clip.deviceId = upperDevice;
    EXPECT_EQ(testing::outcome([&] { entries = VerifiedProjectCopy::proof(project, catalog, upperDevice, root); }), "succeeded");
    EXPECT_EQ(entries.size(), 2u);
}

TEST_F(ProjectProof, IdentityAndMembershipRules) {
    struct Case {
        std::string name;
        std::function<void(ProjectProof&)> change;
        std::string sentence;
    };
    const std::string oneCopy = "Every current source clip must have exactly one verified local copy.";
    const std::string clipChanged = "Source clip identity or copy changed.";
    const std::vector<Case> cases{
        {"catalog version", [](auto& t) { t.catalog.schemaVersion = 2; }, "Source identity changed."},
        {"other device", [](auto& t) { t.catalog.deviceId = "fedcba9876543210"; }, "Source identity changed."},
        {"project gone", [](auto& t) { t.catalog.projects[0].projectId = clipIdOf(99); }, "Project no longer exists on the source."},
        {"local copy missing", [](auto& t) { t.project.takes[0].clips.pop_back(); }, oneCopy},
        {"local clip the source no longer lists", [](auto& t) { t.catalog.projects[0].takes[0].clips.pop_back(); }, oneCopy},
        {"same clip in two takes",
         [](auto& t) {
             VELKTake again = t.project.takes[0];
             again.id = "take-2";
             again.clips.resize(1);
             t.project.takes.push_back(again);
         },
         oneCopy},
        {"source repeats a clip", [](auto& t) { t.sourceClip(1).clipId = t.sourceClip(0).clipId; }, oneCopy},
        {"not finalized", [](auto& t) { t.sourceClip(0).finalized = false; }, clipChanged},
        {"camera changed", [](auto& t) { t.project.takes[0].clips[0].cameraId = "cam-x"; }, clipChanged},
        {"size absent", [](auto& t) { t.project.takes[0].clips[0].sizeBytes.reset(); }, clipChanged},
        {"digest changed", [](auto& t) { t.project.takes[0].clips[0].sha256 = digestOf("x"); }, clipChanged},
        {"never downloaded", [](auto& t) { t.project.takes[0].clips[0].localPath.reset(); }, clipChanged},
        {"sidecar digest without URL",
         [](auto& t) { t.sourceClip(0).timingSidecarSHA256 = digestOf("{}"); }, "Source timing metadata is incomplete."},
        {"sidecar URL empty",
         [](auto& t) {
             t.sourceClip(0).timingSidecarURL = "";
             t.sourceClip(0).timingSidecarSHA256 = digestOf("{}");
         },
         "Timing sidecar is not safely copied."},
        {"sidecar never copied",
         [](auto& t) {
             t.sourceClip(0).timingSidecarURL = "/velk/v1/files/x.timing.json";
             t.sourceClip(0).timingSidecarSHA256 = digestOf("{}");
             t.project.takes[0].clips[0].timingSidecarSHA256 = digestOf("{}");
         },
         "Timing sidecar is not safely copied."},
        {"copy outside the root", [](auto& t) { t.project.takes[0].clips[0].localPath = (t.base / "x.mov").string(); }, ""},
        {"clips of other or no device are ignored",
         [](auto& t) {
             VELKClip stranger = t.project.takes[0].clips[0];
             stranger.deviceId = "fedcba9876543210";
             stranger.localPath.reset();
             t.project.takes[0].clips.push_back(stranger);
             stranger.deviceId.reset();
             t.project.takes[0].clips.push_back(stranger);
         },
         "succeeded"},
    };
    writeFile(base / "x.mov", bytes);
    for (const auto& c : cases) {
        makeProject(2);
        c.change(*this);
        EXPECT_EQ(proofSentence(), c.sentence.empty() ? unreadable : c.sentence) << c.name;
    }
}

} // namespace
} // namespace velk
