// "Export for Resolve": one package for the selected take, written off the GUI thread, then the
// new timeline shown in the file manager. The library is only read.

#include "store/app_store.hpp"
#include "store/store_async.hpp"

namespace velk {

namespace {

constexpr std::string_view exportFailedPrefix = "Resolve export failed: ";
constexpr const char* timelineFileName = "timeline.fcpxml";

} // namespace

void AppStore::exportSelectedTake(const std::filesystem::path& parent, std::function<void()> done) {
    const std::optional<VELKProject> project = selectedProject();
    const std::optional<VELKTake> take = project ? selectedTake() : std::nullopt;
    if (!project || !take) {
        if (done) done();
        return;
    }
    setIsBusy(true);
    auto work = [project = *project, take = *take, parent, environment = m_exportEnvironment] {
        return DriftEngine::exportTake(project, take, parent, environment);
    };
    store_async::offGuiThread(this, std::move(work), [this, done](store_async::Attempt<std::filesystem::path> attempt) {
        if (attempt.ok()) {
            const std::filesystem::path& folder = *attempt.value;
            log("Created Resolve export " + folder.filename().string() + ".");
            if (!m_fileViewer) m_fileViewer = makeDesktopFileViewer();
            m_fileViewer->reveal({folder / timelineFileName});
        } else {
            reportFailure(std::string(exportFailedPrefix) + store_async::describe(attempt.error));
        }
        finishBusy(done);
    });
}

} // namespace velk
