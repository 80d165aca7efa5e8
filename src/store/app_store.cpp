#include "store/app_store.hpp"

#include <system_error>

#include <QStandardPaths>
#include <QPointer>
#include <QThread>

#include "base/executor.hpp"
#include "base/files.hpp"
#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "store/store_text.hpp"
#include "transfer/authenticated_transfer_client.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {

namespace {

constexpr const char* libraryFileName = "library.json";
constexpr const char* collectorIDFileName = "collector-id.txt";
constexpr std::string_view loadFailedPrefix = "Could not load the Kestova library: ";
constexpr std::string_view saveFailedPrefix = "Could not save the Kestova library: ";
constexpr std::string_view temporaryIdentity =
    "Could not persist this computer's collector identity; a temporary identity will be used.";

std::filesystem::path standardRoot(QStandardPaths::StandardLocation location) {
    return std::filesystem::path(QStandardPaths::writableLocation(location).toStdString()) / "Velk";
}

} // namespace

AppStore::AppStore(std::optional<std::filesystem::path> storageRoot, std::optional<std::filesystem::path> recordingsRoot,
                   const Clock& clock, QObject* parent)
    : QObject(parent),
      m_supportDirectoryOverride(std::move(storageRoot)),
      m_recordingsDirectoryOverride(std::move(recordingsRoot)),
      m_clock(clock) {
    // What saves interrupted by a crash left behind goes before the first write; the application's
    // single-instance lock keeps any other writer of these files away.
    for (const char* name : {libraryFileName, collectorIDFileName}) {
        files::removeStaleTemporaries(supportDirectory() / name);
    }
    QPointer<AppStore> guard(this);
    m_writer = std::make_unique<LibraryWriter>(libraryFile(), [guard](const std::string& error) {
        postToGui([guard, error] {
            if (guard) guard->reportFailure(std::string(saveFailedPrefix) + error);
        });
    });
    m_collectorID = loadOrCreateCollectorID();
    load();
    if (!m_library.projects.empty()) {
        const VELKProject& first = m_library.projects.front();
        m_selectedProjectID = first.id;
        if (!first.takes.empty()) m_selectedTakeID = first.takes.front().id;
    }
}

AppStore::~AppStore() {
    // Work under way stops at its next step: requests abort, sleeps wake, file loops end; the
    // results it would hand back are dropped with the store.
    m_lifetime->cancel();
    for (const auto& [deviceID, client] : m_transferClients) client->invalidate();
    for (const auto& held : m_clientsAtWork) {
        if (auto client = held.lock()) client->invalidate();
    }
}

void AppStore::invalidateWithStore(const std::shared_ptr<AuthenticatedTransferClient>& client) {
    std::erase_if(m_clientsAtWork, [](const auto& held) { return held.expired(); });
    m_clientsAtWork.push_back(client);
}

// --- Published state ---

void AppStore::requireGuiThread() const { Q_ASSERT(QThread::currentThread() == thread()); }

void AppStore::setLibrary(VELKLibrary library) {
    requireGuiThread();
    m_library = std::move(library);
    Q_EMIT libraryChanged();
}

void AppStore::libraryEdited() {
    requireGuiThread();
    Q_EMIT libraryChanged();
}

void AppStore::setSelectedProjectID(std::optional<std::string> id) {
    requireGuiThread();
    m_selectedProjectID = std::move(id);
    Q_EMIT selectedProjectIDChanged();
}

void AppStore::setSelectedTakeID(std::optional<std::string> id) {
    requireGuiThread();
    m_selectedTakeID = std::move(id);
    Q_EMIT selectedTakeIDChanged();
}

void AppStore::setTransfers(std::vector<TransferStatus> transfers) {
    requireGuiThread();
    m_transfers = std::move(transfers);
    Q_EMIT transfersChanged();
}

void AppStore::setTransferSessions(std::vector<TransferSessionSummary> sessions) {
    requireGuiThread();
    m_transferSessions = std::move(sessions);
    Q_EMIT transferSessionsChanged();
}

void AppStore::setActivities(std::vector<ActivityEntry> activities) {
    requireGuiThread();
    m_activities = std::move(activities);
    Q_EMIT activitiesChanged();
}

void AppStore::setCollectSources(std::vector<CollectSourceStatus> sources) {
    requireGuiThread();
    m_collectSources = std::move(sources);
    Q_EMIT collectSourcesChanged();
}

void AppStore::setIsBusy(bool busy) {
    requireGuiThread();
    m_isBusy = busy;
    Q_EMIT isBusyChanged();
}

void AppStore::setErrorMessage(std::optional<std::string> message) {
    requireGuiThread();
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

// --- Roots and identity ---

std::filesystem::path AppStore::supportDirectory() const {
    return m_supportDirectoryOverride ? *m_supportDirectoryOverride : standardRoot(QStandardPaths::GenericDataLocation);
}

std::filesystem::path AppStore::recordingsDirectory() const {
    return m_recordingsDirectoryOverride ? *m_recordingsDirectoryOverride : standardRoot(QStandardPaths::MoviesLocation);
}

std::filesystem::path AppStore::libraryFile() const { return supportDirectory() / libraryFileName; }

std::string AppStore::loadOrCreateCollectorID() {
    const std::filesystem::path file = supportDirectory() / collectorIDFileName;
    try {
        const std::string trimmed = text::trimmedWhitespace(files::readAll(file));
        if (uuid::isValid(trimmed)) return text::lowercased(trimmed);
    } catch (const std::exception&) {
        // Missing or unreadable: a new identity replaces it.
    }
    const std::string identity = uuid::newLowercase();
    try {
        std::filesystem::create_directories(supportDirectory());
        files::writeAtomically(file, identity);
        return identity;
    } catch (const std::exception&) {
        log(std::string(temporaryIdentity), true);
        return uuid::newLowercase();
    }
}

// --- Library file ---

void AppStore::load() {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(libraryFile(), error);
    if (status.type() == std::filesystem::file_type::not_found) return;
    try {
        m_library = decodeLibrary(files::readAll(libraryFile()));
    } catch (const std::exception& failure) {
        m_library = VELKLibrary{};
        m_unreadableLibraryOnDisk = true;
        reportFailure(std::string(loadFailedPrefix) + failure.what());
    }
}

bool AppStore::setAsideUnreadableLibrary() {
    try {
        const std::optional<std::string> name = files::keepAsideAsUnreadable(libraryFile(), m_clock.now());
        m_unreadableLibraryOnDisk = false;
        if (name) log("Kept the unreadable Kestova library as " + *name + ".");
        return true;
    } catch (const std::system_error& failure) {
        reportFailure(std::string(saveFailedPrefix) + (failure.code() == std::errc::file_exists
                                                           ? std::string("The unreadable library could not be set aside.")
                                                           : std::string(failure.what())));
        return false;
    }
}

bool AppStore::prepareSave() {
    try {
        std::filesystem::create_directories(supportDirectory());
    } catch (const std::exception& failure) {
        reportFailure(std::string(saveFailedPrefix) + failure.what());
        return false;
    }
    return !m_unreadableLibraryOnDisk || setAsideUnreadableLibrary();
}

bool AppStore::save() {
    if (!prepareSave()) return false;
    const auto error = m_writer->waitFor(m_writer->write(std::make_shared<const VELKLibrary>(m_library), true));
    if (!error) return true;
    reportFailure(std::string(saveFailedPrefix) + *error);
    return false;
}

void AppStore::saveLater() {
    if (prepareSave()) m_writer->write(std::make_shared<const VELKLibrary>(m_library));
}

// --- Selection and readiness ---

const VELKProject* AppStore::findSelectedProject() const {
    if (!m_selectedProjectID) return nullptr;
    for (const VELKProject& project : m_library.projects) {
        if (StoreText::same(project.id, *m_selectedProjectID)) return &project;
    }
    return nullptr;
}

VELKProject* AppStore::findSelectedProject() {
    return const_cast<VELKProject*>(static_cast<const AppStore*>(this)->findSelectedProject());
}

std::optional<VELKProject> AppStore::selectedProject() const {
    const VELKProject* project = findSelectedProject();
    if (!project) return std::nullopt;
    return *project;
}

std::optional<VELKTake> AppStore::selectedTake() const {
    const VELKProject* project = findSelectedProject();
    if (!project || !m_selectedTakeID) return std::nullopt;
    for (const VELKTake& take : project->takes) {
        if (StoreText::same(take.id, *m_selectedTakeID)) return take;
    }
    return std::nullopt;
}

bool AppStore::canDownloadSelectedTake() const {
    const std::optional<VELKTake> take = selectedTake();
    if (!take) return false;
    bool anyPending = false;
    for (const VELKClip& clip : take->clips) {
        const bool pending = !clip.localPath || (clip.timingSidecarURL && !clip.timingSidecarLocalPath);
        if (!pending) continue;
        anyPending = true;
        if (!clip.deviceId) return false;
        const auto client = transferClient(*clip.deviceId);
        if (!client || client->isExpired()) return false;
    }
    return anyPending;
}

// --- Transfer clients ---

std::shared_ptr<AuthenticatedTransferClient> AppStore::transferClient(std::string_view deviceID) const {
    for (const auto& [key, client] : m_transferClients) {
        if (TransferProtocol::sameDeviceID(key, deviceID)) return client;
    }
    return nullptr;
}

void AppStore::setTransferClient(std::string_view deviceID, std::shared_ptr<AuthenticatedTransferClient> client) {
    requireGuiThread();
    removeTransferClient(deviceID);
    const std::string key = TransferProtocol::canonicalDeviceID(deviceID).value_or(std::string(deviceID));
    m_transferClients[key] = std::move(client);
}

std::shared_ptr<AuthenticatedTransferClient> AppStore::removeTransferClient(std::string_view deviceID) {
    requireGuiThread();
    std::shared_ptr<AuthenticatedTransferClient> removed;
    for (auto it = m_transferClients.begin(); it != m_transferClients.end();) {
        if (it->first == deviceID || TransferProtocol::sameDeviceID(it->first, deviceID)) {
            if (!removed) removed = it->second;
            it = m_transferClients.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

// --- Activity log and failures ---

void AppStore::log(const std::string& message, bool error) {
    requireGuiThread();
    m_activities.insert(m_activities.begin(), ActivityEntry(m_clock.now(), message, error));
    if (m_activities.size() > maximumActivities) {
        m_activities.erase(m_activities.begin() + maximumActivities, m_activities.end());
    }
    Q_EMIT activitiesChanged();
}

void AppStore::reportFailure(const std::string& text) {
    setErrorMessage(text);
    log(text, true);
}

std::string AppStore::safeIdentifier(std::string_view value) { return StoreText::safeIdentifier(value); }

} // namespace velk
