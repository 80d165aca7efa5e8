// Merging one phone's catalog of 1,000 clips into a library of 10,000 clips, against a plain copy
// of that library measured in the same run. Prints figures; asserts nothing.

#include <chrono>
#include <cstdio>
#include <string>

#include "app/process_start.hpp"
#include "model/catalog.hpp"
#include "model/library.hpp"
#include "store/library_merge.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::string digestFor(int n) {
    char text[65];
    std::snprintf(text, sizeof text, "%064x", n);
    return text;
}

std::string clipID(int project, int take, int camera) {
    char text[64];
    std::snprintf(text, sizeof text, "%08x-0000-4000-8000-%04x%04x%04x", project, take, camera, project ^ take);
    return text;
}

constexpr int projects = 10;
constexpr int takesPerProject = 100;
constexpr int camerasPerTake = 10;
constexpr const char* phone = "0123456789abcdef";
constexpr const char* base = "https://phone.local:8443/velk/v1/catalog";

velk::VELKLibrary library() {
    velk::VELKLibrary made;
    for (int p = 0; p < projects; ++p) {
        velk::VELKProject project{"project-" + std::to_string(p), "Project " + std::to_string(p), 1, {}};
        for (int t = 0; t < takesPerProject; ++t) {
            velk::VELKTake take;
            take.id = "take-" + std::to_string(1000 + t);
            for (int c = 0; c < camerasPerTake; ++c) {
                velk::VELKClip clip;
                clip.id = clipID(p, t, c);
                clip.cameraId = "camera-" + std::to_string(c);
                clip.fileName = clip.id + ".mov";
                clip.localPath = "/media/" + clip.id + ".mov";
                clip.sizeBytes = 1000;
                clip.sha256 = digestFor(p * 100000 + t * 100 + c);
                clip.deviceId = phone;
                take.clips.push_back(std::move(clip));
            }
            project.takes.push_back(std::move(take));
        }
        made.projects.push_back(std::move(project));
    }
    return made;
}

// Half of the catalog's takes are already in the library's project 3, half are new.
velk::DeviceCatalog catalog() {
    velk::DeviceCatalog made;
    made.schemaVersion = 1;
    made.deviceId = phone;
    made.deviceName = "Stage Left";
    made.catalogRevision = 3;
    velk::CatalogProject project{"project-3", "Project 3", 1, {}};
    for (int t = 50; t < 150; ++t) {
        velk::CatalogTake take;
        take.takeId = "take-" + std::to_string(1000 + t);
        for (int c = 0; c < camerasPerTake; ++c) {
            velk::CatalogClip clip;
            clip.clipId = clipID(3, t, c);
            clip.cameraId = "camera-" + std::to_string(c);
            clip.fileName = clip.clipId + ".mov";
            clip.sizeBytes = 1000;
            clip.sha256 = digestFor(3 * 100000 + t * 100 + c);
            clip.downloadURL = "/velk/v1/files/" + clip.clipId;
            clip.finalized = true;
            clip.mediaKind = "video";
            clip.hasVideo = true;
            take.clips.push_back(std::move(clip));
        }
        project.takes.push_back(std::move(take));
    }
    made.projects.push_back(std::move(project));
    return made;
}

template <class Work>
double bestMs(int rounds, Work work) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (ms < best) best = ms;
    }
    return best;
}

} // namespace

int main() {
    velk::startProcess(); // the process set up as the application sets up its own
    const velk::VELKLibrary original = library();
    const velk::DeviceCatalog source = catalog();
    constexpr int rounds = 5;

    std::size_t sink = 0;
    const double copyMs = bestMs(rounds, [&] {
        velk::VELKLibrary copy = original;
        sink += copy.projects.size();
    });
    const double mergeMs = bestMs(rounds, [&] {
        velk::VELKLibrary working = original;
        velk::LibraryMerge::mergeCatalog(working, source, base);
        sink += working.projects.size();
    });

    std::printf("store merge: 1,000 catalog clips into a 10,000-clip library\n");
    std::printf("  baseline, plain copy of the library: %8.2f ms\n", copyMs);
    std::printf("  copy + catalog merge:                %8.2f ms (target 200 ms)\n", mergeMs);
    std::printf("  ratio merge / copy:                  %8.1f\n", mergeMs / copyMs);
    return sink == 0 ? 1 : 0;
}
