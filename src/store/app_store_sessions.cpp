// Ending transfer sessions: the session is forgotten here first, then the phone is asked to go
// back to Camera mode; its answer only decides the wording.

#include "store/app_store.hpp"
#include "store/store_async.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {

namespace {

constexpr std::string_view endingSession = "Ending transfer session";
constexpr std::string_view acknowledged = "Source acknowledged Camera mode request";
constexpr std::string_view notAcknowledgedOne = "Source did not acknowledge; check the phone";
constexpr std::string_view notAcknowledgedAll = "No acknowledgement; check the phone";
constexpr std::string_view requestedAll = "Requested Camera mode from all Collect sources.";

void endEach(AppStore* store, std::shared_ptr<std::vector<std::shared_ptr<AuthenticatedTransferClient>>> clients,
             std::size_t index, std::function<void()> done) {
    if (index >= clients->size()) {
        store->log(std::string(requestedAll));
        if (done) done();
        return;
    }
    auto client = (*clients)[index];
    store->setCollectSource(client->deviceId(), client->deviceName(), CollectSourcePhase::returning, 0, 0,
                            std::string(endingSession));
    store_async::offGuiThread(store, [client] { return client->end(); },
                              [store, clients, index, client, done](store_async::Attempt<bool> attempt) {
                                  const bool ok = attempt.value.value_or(false);
                                  store->setCollectSource(client->deviceId(), client->deviceName(),
                                                          ok ? CollectSourcePhase::ended : CollectSourcePhase::failed, 0, 0,
                                                          std::string(ok ? acknowledged : notAcknowledgedAll));
                                  endEach(store, clients, index + 1, done);
                              });
}

} // namespace

void AppStore::endTransferSession(const std::string& deviceId, std::function<void()> done) {
    std::shared_ptr<AuthenticatedTransferClient> client = removeTransferClient(deviceId);
    if (!client) {
        if (done) done();
        return;
    }
    std::vector<TransferSessionSummary> sessions = m_transferSessions;
    std::erase_if(sessions, [&](const TransferSessionSummary& row) {
        return row.deviceId == deviceId || TransferProtocol::sameDeviceID(row.deviceId, deviceId);
    });
    setTransferSessions(std::move(sessions));
    const std::string name = client->deviceName();
    setCollectSource(deviceId, name, CollectSourcePhase::returning, 0, 0, std::string(endingSession));
    invalidateWithStore(client);
    store_async::offGuiThread(this, [client] { return client->end(); },
                              [this, deviceId, name, done](store_async::Attempt<bool> attempt) {
                                  const bool ok = attempt.value.value_or(false);
                                  setCollectSource(deviceId, name, ok ? CollectSourcePhase::ended : CollectSourcePhase::failed,
                                                   0, 0, std::string(ok ? acknowledged : notAcknowledgedOne));
                                  if (ok) {
                                      log("Returned " + name + " to Camera mode.");
                                  } else {
                                      log("Ended local session for " + name +
                                              ", but the source did not acknowledge Camera mode.",
                                          true);
                                  }
                                  if (done) done();
                              });
}

void AppStore::endAllTransferSessions(std::function<void()> done) {
    auto clients = std::make_shared<std::vector<std::shared_ptr<AuthenticatedTransferClient>>>();
    for (const auto& [key, client] : m_transferClients) {
        clients->push_back(client);
        invalidateWithStore(client);
    }
    m_transferClients.clear();
    setTransferSessions({});
    if (clients->empty()) {
        if (done) done();
        return;
    }
    endEach(this, std::move(clients), 0, std::move(done));
}

} // namespace velk
