// "Export for Resolve": one package for the selected take, written off the GUI thread, then the
// new timeline shown in the file manager. The library is only read.

#include <QPointer>

#include "store/app_store.hpp"
#include "store/store_async.hpp"

namespace velk {

namespace {

constexpr std::string_view exportFailedPrefix = "Resolve export failed: ";
// Without a file viewer the package would be found only by its name: its whole path is told.
constexpr std::string_view noFileViewerPrefix = "No file viewer could be opened; the Resolve export is in ";
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
            std::error_code unknown;
            const std::filesystem::path whole = std::filesystem::absolute(folder, unknown);
            m_fileViewer->reveal({folder / timelineFileName},
                                 [store = QPointer<AppStore>(this), where = (unknown ? folder : whole).string()](bool shown) {
                                     if (!shown && store) store->log(std::string(noFileViewerPrefix) + where + ".");
                                 });
        } else {
            reportFailure(std::string(exportFailedPrefix) + store_async::describe(attempt.error));
        }
        finishBusy(done);
    });
}

} // namespace velk
