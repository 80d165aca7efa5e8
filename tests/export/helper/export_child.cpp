// A whole export in a process of its own, for the tests that kill one midway:
//   velk_export_child <parent folder> <media folder> <unix time> [no-exclusive-rename]
// exports a take of every file in the media folder (the first is the reference camera, the others
// are placed by anchors; the fake probe answers for them) into the parent folder, with the clock
// at the given time. Prints the package folder and ends with 0, or prints the error and ends with 1.
// With "no-exclusive-rename", renameat2 fails with EINVAL, as on a file system that lacks it.
//
// It runs at a lower priority: a test watching its files on the same processor then mostly runs the
// moment a file event wakes it, and a kill it sends lands before the export's next step.

#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "export_support.hpp"
#include "support/refused_calls.hpp"

int main(int argc, char** argv) {
    using namespace velk;
    namespace testing = velk::testing;
    const bool exclusiveRename = argc == 4;
    if (argc != 4 && !(argc == 5 && std::string_view(argv[4]) == "no-exclusive-rename")) {
        std::cerr << "usage: velk_export_child <parent> <media folder> <unix time> [no-exclusive-rename]\n";
        return 2;
    }
    if (!exclusiveRename && !test::refuseCallsOnThisThread({{SYS_renameat2, EINVAL}})) {
        std::cerr << "the exclusive rename could not be taken away\n";
        return 2;
    }
    try {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        std::vector<std::filesystem::path> media;
        for (const auto& entry : std::filesystem::directory_iterator(argv[2])) media.push_back(entry.path());
        std::sort(media.begin(), media.end());

        testing::FakeMediaProbe probe;
        const VELKProject project{.id = "proj-1", .name = "Summer Show", .revision = 4};
        VELKTake take{.id = "take-1", .referenceCameraId = "cam-0", .timelineFPS = "30"};
        for (std::size_t index = 0; index < media.size(); ++index) {
            const std::string cameraId = "cam-" + std::to_string(index);
            const std::string fileName = media[index].filename().string();
            probe.media[fileName] = testing::FakeMedia{};
            std::vector<TimingAnchor> anchors;
            if (index > 0) anchors = testing::anchorsOnLine({1, 3, 5, 7, 9}, 1, 0.5 * static_cast<double>(index));
            take.clips.push_back(VELKClip{.id = "clip-" + cameraId, .cameraId = cameraId, .fileName = fileName,
                                          .localPath = media[index].string(),
                                          .sha256 = Sha256::hexOf(files::readAll(media[index])),
                                          .anchorMeaning = anchors.empty() ? std::nullopt
                                                                           : std::optional<std::string>(testing::kSameEvent),
                                          .anchors = std::move(anchors)});
        }

        ::setpriority(PRIO_PROCESS, 0, 10);
        const ExportEnvironment environment{
            .probe = &probe, .now = std::chrono::system_clock::from_time_t(std::atoll(argv[3]))};
        std::cout << DriftEngine::exportTake(project, take, argv[1], environment).string() << std::endl;
        return 0;
    } catch (const std::exception& failure) {
        std::cout << failure.what() << std::endl;
        return 1;
    }
}
