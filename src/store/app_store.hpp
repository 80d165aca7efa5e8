#pragma once
// The one observable store of the Library side: the project library and its file, the selection,
// this computer's collector identity, the transfer clients of connected sources, the progress and
// session rows, the busy flag, the single error text and the activity log.
//
// Lives on the GUI thread; every published property changes only there and announces each write.
// Its operations are split over several source files by concern (state and storage, projects,
// manifest import, catalog merge, and the network operations that build on them).

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>

#include "base/clock.hpp"
#include "director/director_recording_coordinator.hpp"
#include "export/drift_engine.hpp"
#include "model/catalog.hpp"
#include "model/discovered_device.hpp"
#include "model/library.hpp"
#include "model/progress.hpp"
#include "store/file_viewer.hpp"
#include "store/library_writer.hpp"
#include "transfer/authenticated_transfer_client.hpp"

namespace velk {

class AppStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(velk::VELKLibrary library READ library WRITE setLibrary NOTIFY libraryChanged)
    Q_PROPERTY(std::optional<std::string> selectedProjectID READ selectedProjectID WRITE setSelectedProjectID NOTIFY
                   selectedProjectIDChanged)
    Q_PROPERTY(std::optional<std::string> selectedTakeID READ selectedTakeID WRITE setSelectedTakeID NOTIFY
                   selectedTakeIDChanged)
    Q_PROPERTY(std::vector<velk::TransferStatus> transfers READ transfers WRITE setTransfers NOTIFY transfersChanged)
    Q_PROPERTY(std::vector<velk::TransferSessionSummary> transferSessions READ transferSessions WRITE
                   setTransferSessions NOTIFY transferSessionsChanged)
    Q_PROPERTY(std::vector<velk::ActivityEntry> activities READ activities WRITE setActivities NOTIFY activitiesChanged)
    Q_PROPERTY(std::vector<velk::CollectSourceStatus> collectSources READ collectSources WRITE setCollectSources NOTIFY
                   collectSourcesChanged)
    Q_PROPERTY(bool isBusy READ isBusy WRITE setIsBusy NOTIFY isBusyChanged)
    Q_PROPERTY(std::optional<std::string> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY errorMessageChanged)

public:
    static constexpr std::size_t maximumActivities = 100;

    // Without roots the store uses "$XDG_DATA_HOME/Velk" and the user's videos folder + "/Velk".
    // Construction reads (or creates) the collector identity and loads the library; nothing else.
    explicit AppStore(std::optional<std::filesystem::path> storageRoot = std::nullopt,
                      std::optional<std::filesystem::path> recordingsRoot = std::nullopt,
                      const Clock& clock = SystemClock::shared(), QObject* parent = nullptr);
    ~AppStore() override;

    // --- Published state. ---
    const VELKLibrary& library() const { return m_library; }
    void setLibrary(VELKLibrary library);
    const std::optional<std::string>& selectedProjectID() const { return m_selectedProjectID; }
    void setSelectedProjectID(std::optional<std::string> id);
    const std::optional<std::string>& selectedTakeID() const { return m_selectedTakeID; }
    void setSelectedTakeID(std::optional<std::string> id);
    const std::vector<TransferStatus>& transfers() const { return m_transfers; }
    void setTransfers(std::vector<TransferStatus> transfers);
    const std::vector<TransferSessionSummary>& transferSessions() const { return m_transferSessions; }
    void setTransferSessions(std::vector<TransferSessionSummary> sessions);
    const std::vector<ActivityEntry>& activities() const { return m_activities; }
    void setActivities(std::vector<ActivityEntry> activities);
    const std::vector<CollectSourceStatus>& collectSources() const { return m_collectSources; }
    void setCollectSources(std::vector<CollectSourceStatus> sources);
    bool isBusy() const { return m_isBusy; }
    void setIsBusy(bool busy);
    const std::optional<std::string>& errorMessage() const { return m_errorMessage; }
    void setErrorMessage(std::optional<std::string> message);

    // --- Identity, roots and derived values. ---
    const std::string& collectorIdentity() const { return m_collectorID; }
    std::filesystem::path supportDirectory() const;
    std::filesystem::path recordingsDirectory() const;
    std::optional<VELKProject> selectedProject() const;
    std::optional<VELKTake> selectedTake() const;
    bool canDownloadSelectedTake() const;

    // Appends an activity entry (newest first, at most 100). Never sets the error text.
    void log(const std::string& message, bool error = false);

    // --- Projects and takes. ---
    void createProject(const std::string& name);
    void renameSelectedProject(const std::string& name);
    void setReferenceCamera(const std::string& cameraID);
    // True when the take is ready and selected.
    bool prepareDirectorTake(const std::string& id, const std::optional<std::string>& referenceCameraID);
    // The frozen assignment of the selected take as the cameras are to record it; none without a
    // selected take, its creation time or its reference camera. The coordinator validates it.
    std::optional<DirectorTakeAssignment> selectedTakeAssignment() const;

    // --- Manifest import and catalog merge. ---
    void importManifest(const std::filesystem::path& manifestFile);
    // Throws DriftExportError::invalid; leaves the projects merged before a failure in place.
    void mergeCatalog(const DeviceCatalog& catalog, const std::string& baseURL);

    // --- Transfer clients, one per connected source, keyed by canonical device id. ---
    std::shared_ptr<AuthenticatedTransferClient> transferClient(std::string_view deviceID) const;
    void setTransferClient(std::string_view deviceID, std::shared_ptr<AuthenticatedTransferClient> client);
    // Removes the client of that device, if any, and returns it.
    std::shared_ptr<AuthenticatedTransferClient> removeTransferClient(std::string_view deviceID);
    const std::map<std::string, std::shared_ptr<AuthenticatedTransferClient>>& transferClients() const {
        return m_transferClients;
    }

    // --- Connections, downloads, sessions, source trash and export. ---
    // Each runs asynchronously: checks and state changes happen on the GUI thread, network, file
    // and hashing work on workers. `done` (optional) runs on the GUI thread once the operation has
    // ended, and never when the store is destroyed first.
    void pairAndConnect(const DiscoveredDevice& device, const std::string& pairingCode, bool fingerprintConfirmed,
                        bool allowOpen, std::function<void(bool)> done = {});
    void connectOpenSources(const std::vector<DiscoveredDevice>& devices, std::function<void()> done = {});
    // Replaces the row of the same phone (canonical device id) and keeps the rows sorted by name.
    void setCollectSource(const std::string& deviceID, const std::string& name, CollectSourcePhase phase,
                          std::int64_t completed, std::int64_t total, const std::string& message);

    void downloadSelectedTake(std::function<void()> done = {});
    bool canDownloadSelectedProject() const;
    void downloadSelectedProject(std::function<void()> done = {});

    void endTransferSession(const std::string& deviceId, std::function<void()> done = {});
    void endAllTransferSessions(std::function<void()> done = {});

    bool canTrashSelectedProjectSources() const;
    void trashSelectedProjectSources(std::function<void()> done = {});

    void exportSelectedTake(const std::filesystem::path& parent, std::function<void()> done = {});

    // How clients are made (HTTPS sessions, retry sleeps, clock) and how exports probe media;
    // the defaults are the real ones.
    void setTransferEnvironment(TransferClientEnvironment environment) { m_transferEnvironment = std::move(environment); }
    void setExportEnvironment(ExportEnvironment environment) { m_exportEnvironment = std::move(environment); }
    // Where DNS-SD resolved each advertised source (LANDiscovery::resolvedAddress); asked on the GUI
    // thread when a connection starts, so clients connect to that address whatever the system
    // resolver knows of ".local" names.
    void setAddressResolver(std::function<std::optional<std::string>(const DiscoveredDevice&)> resolver) {
        m_addressResolver = std::move(resolver);
    }
    // Where a finished export is shown; the desktop's file manager unless set.
    void setFileViewer(std::shared_ptr<FileViewer> viewer) { m_fileViewer = std::move(viewer); }

    // The name this computer gives itself when pairing: the pretty host name, else the host
    // name, else "Kestova Desktop". The name kept from the last answer; it never waits.
    static std::string collectorName();

    // Cancelled when the store goes; every worker the store starts keeps a share and checks it.
    std::shared_ptr<const CancellationToken> lifetimeToken() const { return m_lifetime; }

    // --- Storage. ---
    // Writes "library.json" whole and waits for it; false after reporting the failure.
    bool save();
    // Waits until every state of the library handed to the writer is on disk (the network
    // operations save without waiting). Destroying the store waits too.
    void waitForSaves() { m_writer->flush(); }
    // Lower case, letters, numbers, "-" and "_" only; see StoreText::safeIdentifier.
    static std::string safeIdentifier(std::string_view value);

Q_SIGNALS:
    void libraryChanged();
    void selectedProjectIDChanged();
    void selectedTakeIDChanged();
    void transfersChanged();
    void transferSessionsChanged();
    void activitiesChanged();
    void collectSourcesChanged();
    void isBusyChanged();
    void errorMessageChanged();

private:
    std::string loadOrCreateCollectorID();
    void load();
    // Hands the library as it is now to the writer without waiting; a failure is reported when it
    // happens. For the network operations, whose saves must not stall the window.
    void saveLater();
    // What every save does first on the GUI thread: the folder, and an unreadable file set aside.
    bool prepareSave();
    // Moves an unreadable "library.json" aside before the first save replaces it.
    bool setAsideUnreadableLibrary();
    // The store's failure convention: the error text and an error entry of the same text.
    void reportFailure(const std::string& text);
    // The library after an edit made in place.
    void libraryEdited();
    void merge(VELKProject project);
    VELKProject* findSelectedProject();
    const VELKProject* findSelectedProject() const;
    std::filesystem::path libraryFile() const;
    void requireGuiThread() const;

    // The store's own verified download of one clip, in two halves: the fetch, then the finish
    // (synchronise, digest, move, last read, record), then the clip's timing sidecar.
    struct ClipFetch;
    struct TakeRun;
    // The text the store reports for a clip it cannot download with `client`; none when it can.
    std::optional<std::string> refusalOf(const VELKClip& clip, const VELKProject& project, const VELKTake& take,
                                         const std::shared_ptr<AuthenticatedTransferClient>& client) const;
    // Starts fetching a clip that passed refusalOf.
    std::shared_ptr<ClipFetch> startFetch(const VELKClip& clip, const VELKProject& project, const VELKTake& take,
                                          std::shared_ptr<AuthenticatedTransferClient> client);
    // Runs `next` on the GUI thread once the fetch has ended (at once when it has).
    static void whenFetched(const std::shared_ptr<ClipFetch>& fetch, std::function<void(std::shared_ptr<ClipFetch>)> next);
    static bool fetchSucceeded(const ClipFetch& fetch);
    static bool startedWith(const ClipFetch& fetch, const std::shared_ptr<AuthenticatedTransferClient>& client);
    // Undoes what an ended fetch showed: the clip's row is as it was before.
    void takeBack(const ClipFetch& fetch);
    // After the fetch has ended: its failure reported, or the finish on a worker and the record.
    void finishDownload(const std::shared_ptr<ClipFetch>& fetch, std::function<void()> done);
    void failDownload(const VELKClip& clip, const std::exception_ptr& error);
    void downloadTiming(const VELKClip& clip, const VELKProject& project, const VELKTake& take,
                        std::function<void()> done);
    void updateClip(const std::string& clipID, const std::string& takeID, const std::string& projectID,
                    const std::string& localPath, const std::optional<std::string>& timingLocalPath);
    void setTransfer(const VELKClip& clip, TransferPhase phase, std::int64_t completed, std::int64_t total,
                     const std::string& message);
    // Forgets the session of a source after a transport or protocol failure; nothing is sent.
    void dropSessionAfterFailure(const std::string& deviceID);
    // The turn of clip `index` of a take download; `early` is its fetch when that started before.
    void runTakeClips(std::shared_ptr<TakeRun> run, std::size_t index, std::shared_ptr<ClipFetch> early);
    void finishTakeClip(std::shared_ptr<TakeRun> run, std::size_t index, std::shared_ptr<ClipFetch> fetch);
    // The transfer environment for connections to `devices`, with their resolved addresses.
    TransferClientEnvironment environmentFor(const std::vector<DiscoveredDevice>& devices) const;
    // A client a worker still uses after it left the table (a session being ended) is invalidated
    // with the store all the same.
    void invalidateWithStore(const std::shared_ptr<AuthenticatedTransferClient>& client);
    // Marks the store busy and tells whether it was free; nothing can come in between.
    bool claimBusy();
    void finishBusy(const std::function<void()>& done);

    VELKLibrary m_library;
    std::optional<std::string> m_selectedProjectID;
    std::optional<std::string> m_selectedTakeID;
    std::vector<TransferStatus> m_transfers;
    std::vector<TransferSessionSummary> m_transferSessions;
    std::vector<ActivityEntry> m_activities;
    std::vector<CollectSourceStatus> m_collectSources;
    bool m_isBusy = false;
    std::optional<std::string> m_errorMessage;

    const std::optional<std::filesystem::path> m_supportDirectoryOverride;
    const std::optional<std::filesystem::path> m_recordingsDirectoryOverride;
    const Clock& m_clock;
    std::map<std::string, std::shared_ptr<AuthenticatedTransferClient>> m_transferClients;
    std::string m_collectorID;
    TransferClientEnvironment m_transferEnvironment;
    ExportEnvironment m_exportEnvironment;
    std::shared_ptr<FileViewer> m_fileViewer;
    // Cancelled when the store goes: every worker of the store checks it, and so does every
    // request and file loop those workers run.
    std::shared_ptr<CancellationToken> m_lifetime = std::make_shared<CancellationToken>();
    std::vector<std::weak_ptr<AuthenticatedTransferClient>> m_clientsAtWork;
    std::function<std::optional<std::string>(const DiscoveredDevice&)> m_addressResolver;
    // Last member: it is destroyed first and waits until every state handed to it is written.
    std::unique_ptr<LibraryWriter> m_writer;
    // Set when "library.json" existed but could not be read; cleared once it is set aside.
    bool m_unreadableLibraryOnDisk = false;
};

} // namespace velk
