// The package appears under its final name whole or not at all: it is built in a hidden staging
// folder, and what a killed export left there goes at the next export into the same folder, but
// nothing else does.

#include <sched.h>
#include <sys/inotify.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "export_support.hpp"
#include "support/child_process.hpp"
#include "traced_child.hpp"

namespace velk {
namespace {

namespace fs = std::filesystem;
using testing::ExportTest;

const char* const kPackageName = "Kestova_proj-1_take-1_20260304-050607";
const std::vector<std::string> kPackageFiles = {"alignment-report.json", "source-manifest.json", "timeline.fcpxml"};

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A name as an atomic write of `name` would give its temporary file (a new one at every call); an
// export builds its package in a folder named so after "Kestova_export".
std::string stagingName(const std::string& name = "Kestova_export") { return files::temporaryNameFor(name).filename(); }

TEST_F(ExportTest, TheNextExportRemovesOnlyStagingFoldersOfExportFiles) {
    addClip("cam-A", "a.mov");
    const std::string earlier = "Kestova_proj-1_take-1_20260304-040000";
    struct Case {
        std::string what;
        std::function<fs::path()> leave; // leaves something in the parent; returns its path
        bool removed;
    };
    const auto stagingWith = [&](const std::vector<std::string>& names) {
        const fs::path staging = parent / stagingName();
        fs::create_directory(staging);
        for (const std::string& name : names) files::writeAtomically(staging / name, "part of a package");
        return staging;
    };
    const std::vector<Case> cases = {
        {"empty staging folder", [&] { return stagingWith({}); }, true},
        {"staging folder of package files and their temporaries",
         [&] { return stagingWith({"timeline.fcpxml", "alignment-report.json", stagingName("source-manifest.json")}); },
         true},
        {"a file of someone else's inside", [&] { return stagingWith({"timeline.fcpxml", "notes.txt"}); }, false},
        {"a temporary of another file inside", [&] { return stagingWith({stagingName("notes.txt")}); }, false},
        {"a folder inside", [&] {
             const fs::path staging = stagingWith({});
             fs::create_directory(staging / "timeline.fcpxml");
             return staging;
         }, false},
        {"a link inside", [&] {
             const fs::path staging = stagingWith({"timeline.fcpxml"});
             fs::create_symlink(folder / "media" / "a.mov", staging / "alignment-report.json");
             return staging;
         }, false},
        {"a link in place of the folder", [&] {
             const fs::path elsewhere = folder / "elsewhere";
             fs::create_directories(elsewhere);
             files::writeAtomically(elsewhere / "timeline.fcpxml", "someone's timeline");
             const fs::path link = parent / stagingName();
             fs::create_symlink(elsewhere, link);
             return link;
         }, false},
        {"a file under a staging name", [&] {
             const fs::path file = parent / stagingName();
             files::writeAtomically(file, "a file");
             return file;
         }, false},
        {"a package under its final name", [&] {
             fs::create_directory(parent / earlier);
             files::writeAtomically(parent / earlier / "timeline.fcpxml", "an earlier timeline");
             return parent / earlier;
         }, false},
        {"a temporary of a package's name", [&] {
             const fs::path other = parent / stagingName(earlier);
             fs::create_directory(other);
             return other;
         }, false},
        {"hidden, but named after something else", [&] {
             const fs::path other = parent / stagingName("Notes_2026");
             fs::create_directory(other);
             return other;
         }, false},
        {"a staging name without its random part", [&] {
             const fs::path other = parent / ".Kestova_export.tmp-0123456789ABCDEF";
             fs::create_directory(other);
             return other;
         }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(parent);
        fs::remove_all(folder / "elsewhere");
        fs::create_directory(parent);
        const fs::path left = c.leave();
        const std::vector<std::string> before = fs::is_directory(fs::symlink_status(left)) ? namesIn(left)
                                                                                          : std::vector<std::string>{};
        const fs::path exported = runExport();
        EXPECT_EQ(namesIn(exported), kPackageFiles);
        EXPECT_EQ(fs::exists(fs::symlink_status(left)), !c.removed);
        if (!c.removed && fs::is_directory(fs::symlink_status(left))) {
            EXPECT_EQ(namesIn(left), before);
        }
        if (c.what == "a link in place of the folder") {
            EXPECT_EQ(files::readAll(folder / "elsewhere" / "timeline.fcpxml"), "someone's timeline");
        }
        EXPECT_EQ(namesIn(parent).size(), c.removed ? 1u : 2u);
    }
}

TEST_F(ExportTest, AStagingFolderStillBeingBuiltIsLeft) {
    addClip("cam-A", "a.mov");
    const fs::path staging = parent / stagingName();
    fs::create_directory(staging);
    files::writeAtomically(staging / "timeline.fcpxml", "being written");
    {
        const files::UniqueFd building = files::lockFolder(staging);
        runExport();
        EXPECT_EQ(namesIn(staging), std::vector<std::string>{"timeline.fcpxml"});
    }
    fs::remove_all(parent / kPackageName);
    runExport();
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(ExportTest, AFolderThatAppearsUnderTheFinalNameMeanwhileIsNeverReplaced) {
    addClip("cam-A", "a.mov");
    // Another program makes the folder while the last document is written.
    ExportEnvironment env = environment();
    std::vector<std::string> writtenInto;
    env.writeFile = [&](const fs::path& path, std::string_view data) {
        writtenInto.push_back(path.parent_path().filename());
        if (path.filename() == "source-manifest.json") {
            fs::create_directory(parent / kPackageName);
            files::writeAtomically(parent / kPackageName / "keep.txt", "mine");
        }
        files::writeAtomically(path, data);
    };
    EXPECT_EQ(testing::exportErrorOf([&] { DriftEngine::exportTake(project, take, parent, env); }),
              "Export destination already exists.");
    EXPECT_EQ(namesIn(parent), std::vector<std::string>{kPackageName});
    EXPECT_EQ(namesIn(parent / kPackageName), std::vector<std::string>{"keep.txt"});
    // Nothing was written under the final name, only in the hidden staging folder beside it.
    ASSERT_EQ(writtenInto.size(), 3u);
    for (const std::string& written : writtenInto) EXPECT_EQ(written.rfind(".Kestova_export.tmp-", 0), 0u) << written;
}

// Each instant at which an export changes the parent folder or the package folder in it: a file or
// folder created, a file written and closed, a name moved into place.
class FileEvents {
public:
    explicit FileEvents(const fs::path& parent) : m_fd(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        if (!m_fd.valid() || ::inotify_add_watch(m_fd.get(), parent.c_str(), kMask) < 0) throw std::runtime_error("inotify");
        m_folders[-1] = parent;
    }
    // Waits at most `timeoutMs` for the next batch of events; how many events of interest it held.
    int next(int timeoutMs) {
        pollfd ready{m_fd.get(), POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) <= 0) return 0;
        alignas(inotify_event) char buffer[16 * 1024];
        const ssize_t size = ::read(m_fd.get(), buffer, sizeof buffer);
        int count = 0;
        for (ssize_t offset = 0; offset < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & kMask) == 0) continue;
            ++count;
            // A folder made in the parent is where the package is written: watch it too, at once.
            if ((event->mask & IN_CREATE) && (event->mask & IN_ISDIR) && event->len > 0) {
                const fs::path made = m_folders[-1] / event->name;
                ::inotify_add_watch(m_fd.get(), made.c_str(), kMask);
            }
        }
        return count;
    }

private:
    static constexpr std::uint32_t kMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO;
    files::UniqueFd m_fd;
    std::map<int, fs::path> m_folders;
};

// The folders under a final package name in `parent`, each checked to hold exactly the three
// documents of a finished export (`reference`).
void expectOnlyWholePackages(const fs::path& parent, const std::map<std::string, std::string>& reference) {
    for (const std::string& name : namesIn(parent)) {
        if (name.front() == '.') continue; // staging litter, hidden and gone at the next export
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::is_directory(fs::symlink_status(parent / name)));
        EXPECT_EQ(namesIn(parent / name), kPackageFiles);
        for (const auto& [file, contents] : reference) {
            std::error_code missing;
            if (fs::exists(parent / name / file, missing)) {
                EXPECT_EQ(files::readAll(parent / name / file), contents) << file;
            }
        }
    }
}

// Pins the calling thread to the processor it runs on for the life of the value, so that the
// child it starts (at a lower priority) shares that processor with it and is held as soon as a
// file event wakes this thread.
class PinnedToOneProcessor {
public:
    PinnedToOneProcessor() {
        ::sched_getaffinity(0, sizeof m_saved, &m_saved);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(std::max(::sched_getcpu(), 0), &one);
        ::sched_setaffinity(0, sizeof one, &one);
    }
    ~PinnedToOneProcessor() { ::sched_setaffinity(0, sizeof m_saved, &m_saved); }

private:
    cpu_set_t m_saved{};
};

// Exports by the helper program (velk_export_child) of three media files into "exports", and the
// documents of a finished one, which every package must hold.
class ExportChildren : public ::testing::Test {
protected:
    static constexpr long long firstTime = 1772600767; // the package of kPackageName

    void SetUp() override {
        for (const fs::path& made : {media, parent, finished}) fs::create_directories(made);
        for (const char* name : {"a.mov", "b.mov", "c.mov"}) files::writeAtomically(media / name, std::string("media ") + name);
        ASSERT_EQ(exportNow(finished, firstTime, "finished.log"), 0) << files::readAll(root / "finished.log");
        for (const std::string& file : kPackageFiles) reference[file] = files::readAll(finished / kPackageName / file);
    }

    std::vector<std::string> arguments(const fs::path& into, long long time, bool exclusiveRename = true) const {
        std::vector<std::string> line{test::binaryPath("tests/export/velk_export_child"), into.string(), media.string(), std::to_string(time)};
        if (!exclusiveRename) line.emplace_back("no-exclusive-rename");
        return line;
    }
    std::unique_ptr<test::ChildProcess> exportIn(const fs::path& into, long long time, const std::string& log,
                                                 bool exclusiveRename = true) const {
        return std::make_unique<test::ChildProcess>(arguments(into, time, exclusiveRename), (root / log).string());
    }
    // Waits for the child's end without reaping it (its stop() does).
    static int exitCodeOf(test::ChildProcess& child) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOWAIT) != 0) return -1;
        return info.si_code == CLD_EXITED ? info.si_status : -1;
    }
    int exportNow(const fs::path& into, long long time, const std::string& log, bool exclusiveRename = true) const {
        auto child = exportIn(into, time, log, exclusiveRename);
        return exitCodeOf(*child);
    }
    // The next export removes what killed ones left, and leaves the packages that were finished.
    void expectTheNextExportToClearTheLitter(long long time, bool exclusiveRename = true) {
        ASSERT_EQ(exportNow(parent, time, "next.log", exclusiveRename), 0) << files::readAll(root / "next.log");
        for (const std::string& name : namesIn(parent)) EXPECT_NE(name.front(), '.') << name;
        expectOnlyWholePackages(parent, reference);
        EXPECT_GE(namesIn(parent).size(), 2u);
    }

    testing::TempFolder root;
    const fs::path media = root / "media", parent = root / "exports", finished = root / "finished";
    std::map<std::string, std::string> reference;
};

class ExportKilled : public ExportChildren {};

TEST_F(ExportKilled, AtEveryFileEventLeavesWholePackagesOnlyAndTheNextExportClearsItsLitter) {
    PinnedToOneProcessor pinned;
    int killedAt = 0;
    for (int killAt = 1; killAt < 100; ++killAt) {
        SCOPED_TRACE("killed at file event " + std::to_string(killAt));
        FileEvents events(parent);
        auto child = exportIn(parent, firstTime + killAt, "killed.log");
        int seen = 0;
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (seen < killAt && std::chrono::steady_clock::now() < deadline) {
            const int count = events.next(50);
            seen += count;
            if (count == 0 && child->hasExited()) {
                ended = true;
                break;
            }
        }
        if (seen >= killAt) ::kill(child->pid(), SIGKILL);
        child->stop();
        expectOnlyWholePackages(parent, reference);
        if (ended) break;
        ASSERT_GE(seen, killAt) << "the export neither went on nor ended";
        killedAt = killAt;
    }
    // Three documents, each created, closed and moved into place, in a folder that is made and moved:
    // eleven events. On a busy machine the export may run on past an event before the watch of the
    // staging folder is in place, which only merges kill points.
    EXPECT_GE(killedAt, 4);
    expectTheNextExportToClearTheLitter(firstTime + 1000);
}

// Killed right after any change it makes to a file or folder (made, written, moved, removed) from
// the making of its staging folder on, where the file system has an exclusive rename and where it
// has none, an export leaves only whole packages under their names, and the next export clears its
// litter.
TEST_F(ExportKilled, AfterEveryChangeWithOrWithoutAnExclusiveRenameLeavesWholePackagesOnly) {
    for (const bool exclusiveRename : {true, false}) {
        SCOPED_TRACE(exclusiveRename ? "exclusive rename" : "no exclusive rename");
        int killedAt = -1;
        for (int killAt = 0; killAt < 1000; ++killAt) {
            SCOPED_TRACE("killed after change " + std::to_string(killAt));
            testing::TracedChild child(arguments(parent, firstTime + killAt, exclusiveRename), (root / "killed.log").string());
            if (!child.ok()) GTEST_SKIP() << "this system lets no test trace its own child (ptrace)";
            ASSERT_TRUE(child.runPastAFolderMade()) << files::readAll(root / "killed.log");
            bool ended = false;
            for (int change = 0; change < killAt && !ended; ++change) ended = !child.runPastAChange();
            if (ended) {
                EXPECT_EQ(child.finish(), 0) << files::readAll(root / "killed.log");
                break;
            }
            child.kill();
            expectOnlyWholePackages(parent, reference);
            killedAt = killAt;
        }
        // The staging folder; three documents, each made, written and moved; the package moved.
        EXPECT_GE(killedAt, 10);
        expectTheNextExportToClearTheLitter(firstTime + 5000, exclusiveRename);
        fs::remove_all(parent);
        fs::create_directory(parent);
    }
}

class ExportsIntoOneFolder : public ExportChildren {};

// One export is held right after making its staging folder, before it could lock it, while a
// second one into the same folder sweeps what killed exports left: the fresh folder is not taken
// for litter, and both packages land whole.
TEST_F(ExportsIntoOneFolder, AStagingFolderJustMadeIsNotSweptByTheOther) {
    testing::TracedChild first(arguments(parent, firstTime), (root / "first.log").string());
    if (!first.ok()) GTEST_SKIP() << "this system lets no test trace its own child (ptrace)";
    ASSERT_TRUE(first.runPastAFolderMade()) << files::readAll(root / "first.log");
    EXPECT_EQ(exportNow(parent, firstTime + 60, "second.log"), 0) << files::readAll(root / "second.log");
    EXPECT_EQ(first.finish(), 0) << files::readAll(root / "first.log");
    EXPECT_EQ(namesIn(parent), (std::vector<std::string>{kPackageName, "Kestova_proj-1_take-1_20260304-050707"}));
    expectOnlyWholePackages(parent, reference);
}

} // namespace
} // namespace velk
