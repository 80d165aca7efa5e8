// Direct edits of the library: projects, a take's reference camera, and the take a Director
// recording will fill, frozen to its project's name and revision at capture.

#include "base/rfc3339.hpp"
#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "director/recording_wire.hpp"
#include "store/app_store.hpp"
#include "store/store_text.hpp"

namespace velk {

namespace {

constexpr std::string_view chooseRegularProject =
    "Choose a regular project and a valid take ID before starting the Director session.";
constexpr std::string_view useNewTakeID = "Use a new take ID; this take already has media or a different reference camera.";
constexpr std::string_view directorTimelineFPS = "30/1";
constexpr std::string_view defaultTimelineFPS = "30";
constexpr std::int64_t revisionWithoutOne = 1;

std::string frozenToOtherRevision(const std::string& takeID) {
    return "Take " + takeID + " is frozen to a different project revision.";
}

} // namespace

void AppStore::createProject(const std::string& name) {
    const std::string trimmed = text::trimmedWhitespace(name);
    if (trimmed.empty()) return;
    VELKProject project;
    project.id = uuid::newLowercase();
    project.name = trimmed;
    project.revision = 1;
    const std::string id = project.id;
    m_library.projects.push_back(std::move(project));
    libraryEdited();
    setSelectedProjectID(id);
    setSelectedTakeID(std::nullopt);
    save();
    log("Created project " + trimmed + ".");
}

void AppStore::renameSelectedProject(const std::string& name) {
    const std::string trimmed = text::trimmedWhitespace(name);
    if (trimmed.empty() || !m_selectedProjectID) return;
    if (StoreText::isUnassignedProjectID(*m_selectedProjectID)) return;
    VELKProject* project = findSelectedProject();
    if (!project || StoreText::same(trimmed, project->name)) return;
    // A revision already at the largest value cannot be raised; the name stays with it.
    const std::optional<std::int64_t> revision = StoreText::nextRevision(project->revision);
    if (!revision) return;
    project->name = trimmed;
    project->revision = revision;
    StoreText::stableSortBy(m_library.projects, [](const VELKProject& p) -> const std::string& { return p.name; });
    libraryEdited();
    save();
    log("Renamed project to " + trimmed + ".");
}

void AppStore::setReferenceCamera(const std::string& cameraID) {
    VELKProject* project = findSelectedProject();
    if (!project || !m_selectedTakeID) return;
    for (VELKTake& take : project->takes) {
        if (!StoreText::same(take.id, *m_selectedTakeID)) continue;
        take.referenceCameraId = cameraID;
        libraryEdited();
        save();
        return;
    }
}

bool AppStore::prepareDirectorTake(const std::string& id, const std::optional<std::string>& referenceCameraID) {
    auto refuse = [this](const std::string& sentence) {
        reportFailure(sentence);
        return false;
    };

    const std::string takeID = text::trimmedWhitespace(id);
    if (!RecordingWire::identifier(takeID, RecordingWire::takeIDLimit) || !m_selectedProjectID ||
        StoreText::isUnassignedProjectID(*m_selectedProjectID)) {
        return refuse(std::string(chooseRegularProject));
    }
    VELKProject* project = findSelectedProject();
    if (!project) return refuse(std::string(chooseRegularProject));

    VELKTake* take = nullptr;
    for (VELKTake& candidate : project->takes) {
        if (StoreText::same(candidate.id, takeID)) {
            take = &candidate;
            break;
        }
    }

    if (take) {
        if (take->projectNameAtCapture && !StoreText::same(*take->projectNameAtCapture, project->name)) {
            return refuse(frozenToOtherRevision(takeID));
        }
        if (take->projectRevisionAtCapture && (!project->revision || *project->revision != *take->projectRevisionAtCapture)) {
            return refuse(frozenToOtherRevision(takeID));
        }
        if (!referenceCameraID) {
            setSelectedTakeID(takeID);
            return true;
        }
        if (!take->clips.empty()) return refuse(std::string(useNewTakeID));
        if (take->referenceCameraId && !StoreText::same(*take->referenceCameraId, *referenceCameraID)) {
            return refuse(std::string(useNewTakeID));
        }
        take->referenceCameraId = referenceCameraID;
        if (take->timelineFPS == defaultTimelineFPS) take->timelineFPS = std::string(directorTimelineFPS);
        libraryEdited();
        if (!save()) return false;
        setSelectedTakeID(takeID);
        return true;
    }

    VELKTake prepared;
    prepared.id = takeID;
    prepared.projectNameAtCapture = project->name;
    prepared.projectRevisionAtCapture = project->revision;
    prepared.createdAt = rfc3339::format(m_clock.now());
    prepared.referenceCameraId = referenceCameraID;
    prepared.timelineFPS = std::string(directorTimelineFPS);
    project->takes.push_back(std::move(prepared));
    StoreText::stableSortBy(project->takes, [](const VELKTake& t) -> const std::string& { return t.id; });
    const std::string projectName = project->name;
    const std::int64_t revision = project->revision.value_or(0);
    libraryEdited();
    setSelectedTakeID(takeID);
    if (!save()) return false;
    log("Prepared take " + takeID + " for " + projectName + " revision " + std::to_string(revision) + ".");
    return true;
}

std::optional<DirectorTakeAssignment> AppStore::selectedTakeAssignment() const {
    const std::optional<VELKProject> project = selectedProject();
    const std::optional<VELKTake> take = selectedTake();
    if (!project || !take || !take->createdAt || !take->referenceCameraId) return std::nullopt;
    DirectorTakeAssignment assignment;
    assignment.takeID = take->id;
    assignment.projectID = project->id;
    assignment.projectName = take->projectNameAtCapture.value_or(project->name);
    assignment.projectRevision = take->projectRevisionAtCapture.value_or(project->revision.value_or(revisionWithoutOne));
    assignment.createdAt = *take->createdAt;
    assignment.referenceCameraID = *take->referenceCameraId;
    assignment.timelineFPS = take->timelineFPS;
    return assignment;
}

} // namespace velk
