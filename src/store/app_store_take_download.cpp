// "Download Take" (the store's own road, one clip after another) and "Download Whole Project"
// (bounded collection, two clips at a time, one save at the end).

#include "store/app_store.hpp"
#include "store/store_async.hpp"
#include "transfer/collect_coordinator.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {

namespace {

constexpr std::string_view latestVerified = "Latest queued recording verified";
constexpr std::string_view retainedPartialPrefix = "Collect retained the partial for ";

bool isUnfinished(const VELKClip& clip) {
    return !clip.localPath || (clip.timingSidecarURL && !clip.timingSidecarLocalPath);
}

CollectSourcePhase sourcePhase(TransferPhase phase) {
    switch (phase) {
    case TransferPhase::verifying:
        return CollectSourcePhase::verifying;
    case TransferPhase::ready:
        return CollectSourcePhase::complete;
    default:
        return CollectSourcePhase::downloading;
    }
}

} // namespace

// One "Download Take" run. Clips take their turns in stored order, each as it always has; while one
// clip is finished (synchronised, checked, read once more, recorded, its sidecar copied) the next
// one is already fetched.
struct AppStore::TakeRun {
    std::vector<VELKClip> clips;
    VELKProject project;
    VELKTake take;
    std::function<void()> done;
};

void AppStore::downloadSelectedTake(std::function<void()> done) {
    if (m_isBusy) {
        if (done) done();
        return;
    }
    const std::optional<VELKProject> project = selectedProject();
    const std::optional<VELKTake> take = selectedTake();
    if (!project || !take) {
        if (done) done();
        return;
    }
    claimBusy();
    runTakeClips(std::make_shared<TakeRun>(TakeRun{take->clips, *project, *take, std::move(done)}), 0, nullptr);
}

void AppStore::runTakeClips(std::shared_ptr<TakeRun> run, std::size_t index, std::shared_ptr<ClipFetch> early) {
    if (index >= run->clips.size()) {
        finishBusy(run->done);
        return;
    }
    const VELKClip& clip = run->clips[index];
    std::shared_ptr<AuthenticatedTransferClient> client = clip.deviceId ? transferClient(*clip.deviceId) : nullptr;
    if (early) {
        // A fetch that started before the clip's turn stands only while the clip's source keeps the
        // session it started with. Otherwise (the session ended meanwhile) it is taken back once it
        // has stopped, and the clip goes as though nothing had started.
        if (startedWith(*early, client)) {
            whenFetched(early, [this, run, index](std::shared_ptr<ClipFetch> fetch) { finishTakeClip(run, index, fetch); });
        } else {
            whenFetched(early, [this, run, index](std::shared_ptr<ClipFetch> fetch) {
                takeBack(*fetch);
                runTakeClips(run, index, nullptr);
            });
        }
        return;
    }
    // A clip that needs nothing and whose source is gone is left alone; with a live source the
    // download re-verifies the copy.
    if (!isUnfinished(clip) && !client) {
        runTakeClips(std::move(run), index + 1, nullptr);
        return;
    }
    if (auto refused = refusalOf(clip, run->project, run->take, client)) {
        reportFailure(*refused);
        downloadTiming(clip, run->project, run->take, [this, run, index] { runTakeClips(run, index + 1, nullptr); });
        return;
    }
    auto fetch = startFetch(clip, run->project, run->take, std::move(client));
    whenFetched(fetch, [this, run, index](std::shared_ptr<ClipFetch> fetched) { finishTakeClip(run, index, fetched); });
}

void AppStore::finishTakeClip(std::shared_ptr<TakeRun> run, std::size_t index, std::shared_ptr<ClipFetch> fetch) {
    // The next clip is fetched while this one is finished, when there is anything to finish and
    // the next clip would be fetched at its turn as things stand.
    std::shared_ptr<ClipFetch> early;
    if (fetchSucceeded(*fetch) && index + 1 < run->clips.size()) {
        const VELKClip& next = run->clips[index + 1];
        auto client = next.deviceId ? transferClient(*next.deviceId) : nullptr;
        if (client && !refusalOf(next, run->project, run->take, client)) {
            early = startFetch(next, run->project, run->take, std::move(client));
        }
    }
    finishDownload(fetch, [this, run, index, early] {
        downloadTiming(run->clips[index], run->project, run->take, [this, run, index, early] {
            runTakeClips(run, index + 1, early);
        });
    });
}

bool AppStore::canDownloadSelectedProject() const {
    const VELKProject* project = findSelectedProject();
    if (!project) return false;
    for (const VELKTake& take : project->takes) {
        for (const VELKClip& clip : take.clips) {
            if (!isUnfinished(clip) || !clip.deviceId) continue;
            auto client = transferClient(*clip.deviceId);
            if (client && !client->isExpired()) return true;
        }
    }
    return false;
}

void AppStore::downloadSelectedProject(std::function<void()> done) {
    if (m_isBusy) {
        if (done) done();
        return;
    }
    const std::optional<VELKProject> project = selectedProject();
    if (!project) {
        if (done) done();
        return;
    }
    claimBusy();
    std::vector<CollectDownloadJob> jobs;
    for (const VELKTake& take : project->takes) {
        for (const VELKClip& clip : take.clips) {
            if (!isUnfinished(clip) || !clip.deviceId) continue;
            auto client = transferClient(*clip.deviceId);
            if (!client || client->isExpired()) continue;
            jobs.push_back(CollectDownloadJob{project->id, take.id, clip, client, recordingsDirectory()});
        }
    }
    if (jobs.empty()) {
        finishBusy(done);
        return;
    }

    auto relay = store_async::guiRelay(this);
    // Set on the GUI thread once the outcomes are in; a report applied later never replaces the
    // final row of its clip.
    auto finished = std::make_shared<bool>(false);
    CollectProgressFunction progress = [relay, finished](const CollectDownloadProgress& report) {
        relay([report, finished](AppStore& store) {
            if (*finished) return;
            VELKClip row;
            row.id = report.clipID;
            row.fileName = report.clipName;
            bool found = false;
            for (const VELKProject& p : store.library().projects) {
                for (const VELKTake& t : p.takes) {
                    for (const VELKClip& c : t.clips) {
                        if (c.id == report.clipID) {
                            row = c;
                            found = true;
                            break;
                        }
                    }
                    if (found) break;
                }
                if (found) break;
            }
            store.setTransfer(row, report.phase, report.completed, report.total, report.message);
            auto client = store.transferClient(report.deviceID);
            store.setCollectSource(report.deviceID, client ? client->deviceName() : report.deviceID,
                                   sourcePhase(report.phase), report.completed, report.total,
                                   report.clipName + " \u2022 " + report.message);
        });
    };
    auto work = [jobs, progress, lifetime = m_lifetime] {
        return CollectCoordinator::run(jobs, CollectCoordinator::maximumConcurrentDownloads, progress, lifetime.get());
    };
    auto after = [this, done, finished, jobs](store_async::Attempt<std::vector<CollectDownloadOutcome>> attempt) {
        *finished = true;
        // A run that ended without outcomes failed every clip it was downloading.
        if (!attempt.ok()) {
            reportFailure(store_async::describe(attempt.error));
            attempt.value.emplace();
            for (const CollectDownloadJob& job : jobs) attempt.value->push_back(CollectDownloadOutcome::failure(job, attempt.error));
        }
        for (const CollectDownloadOutcome& outcome : *attempt.value) {
            if (outcome.isSuccess()) {
                const CollectDownloadResult& result = *outcome.result();
                updateClip(result.clipID, result.takeID, result.projectID, result.localPath, result.timingLocalPath);
                auto client = transferClient(result.deviceID);
                setCollectSource(result.deviceID, client ? client->deviceName() : result.deviceID,
                                 CollectSourcePhase::complete, 0, 0, std::string(latestVerified));
                continue;
            }
            const CollectDownloadJob& job = *outcome.job();
            const std::string description = store_async::describe(outcome.error());
            setTransfer(job.clip, TransferPhase::failed, 0, job.clip.sizeBytes.value_or(0), description);
            setCollectSource(job.clip.deviceId.value_or(job.client->deviceId()), job.client->deviceName(),
                             CollectSourcePhase::failed, 0, 0, job.clip.fileName + ": " + description);
            log(std::string(retainedPartialPrefix) + job.clip.fileName + ": " + description, true);
        }
        saveLater();
        finishBusy(done);
    };
    store_async::offGuiThread(this, std::move(work), std::move(after));
}

} // namespace velk
