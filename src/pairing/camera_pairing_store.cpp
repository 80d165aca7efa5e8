#include "pairing/camera_pairing_store.hpp"

#include <algorithm>
#include <system_error>

#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include "base/files.hpp"
#include "base/host_name.hpp"
#include "base/unicode.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "pairing/camera_pairing_wire.hpp"
#include "pairing/director_key_file.hpp"

namespace velk {

namespace {

std::filesystem::path defaultDataFolder() {
    return std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString()) /
           "Velk";
}

std::string approvedSentence(const std::string& name) {
    return "Approved " + name + " on this computer. The phone must verify the reply to finish pairing.";
}

std::string keptAsideSentence(const std::filesystem::path& file) {
    return "Kept the unreadable list of trusted cameras as " + file.string() + ".";
}

} // namespace

CameraPairingStore::CameraPairingStore(std::optional<std::filesystem::path> dataFolder, const Clock& clock,
                                       QObject* parent)
    : QObject(parent),
      m_dataFolder(dataFolder ? std::move(*dataFolder) : defaultDataFolder()),
      m_clock(clock),
      m_hostName(host_name::computerName) {
    // Before the first write: what writes of the list or the key interrupted by a crash left behind
    // (a leftover key copy is private, but it is still a copy of the key).
    files::removeStaleTemporaries(recordsFile());
    files::removeStaleTemporaries(DirectorKeyFile::path(m_dataFolder));
    load();
}

CameraPairingStore::~CameraPairingStore() = default;

std::filesystem::path CameraPairingStore::recordsFile() const { return m_dataFolder / TrustedCameraFile::fileName; }

void CameraPairingStore::load() {
    std::error_code error;
    if (std::filesystem::symlink_status(recordsFile(), error).type() == std::filesystem::file_type::not_found) return;
    std::optional<std::vector<TrustedCameraIdentity>> loaded;
    try {
        loaded = TrustedCameraFile::decode(files::readAll(recordsFile()));
    } catch (const std::exception&) {
    }
    // A file that is there but cannot be used stays on disk until the first write keeps it aside.
    if (!loaded) {
        m_unreadableFileOnDisk = true;
        return;
    }
    m_trusted = std::move(*loaded);
}

std::string CameraPairingStore::directorName(const std::optional<std::string>& hostName) {
    if (!hostName) return CameraPairingText::defaultDirectorName;
    std::vector<char32_t> scalars = text::scalars(*hostName);
    for (char32_t& scalar : scalars) {
        if (text::isControl(scalar) || text::isFormat(scalar)) scalar = U' ';
    }
    std::vector<std::string> characters = text::graphemeClusters(text::fromScalars(scalars));
    std::string name;
    for (const std::string& character : characters) name += character;
    while (name.size() > static_cast<std::size_t>(CameraPairingCore::directorNameLimit) && !characters.empty()) {
        name.resize(name.size() - characters.back().size());
        characters.pop_back();
    }
    return name.empty() ? std::string(CameraPairingText::defaultDirectorName) : name;
}

void CameraPairingStore::begin(const std::string& directorID, const std::optional<std::string>& host) {
    cancel();
    setMessage({});
    try {
        if (!host) throw CameraPairingError::invalid(CameraPairingText::noHost);
        CameraPairingCore core(DirectorKeyFile::loadOrCreate(m_dataFolder));
        core.begin(directorID, directorName(m_hostName ? m_hostName() : std::nullopt), *host, uptimeSeconds(),
                   m_clock.now());
        m_core = std::move(core);
    } catch (const std::exception& failure) {
        setMessage(failure.what());
        return;
    }
    synchronize();
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(expiryIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &CameraPairingStore::expiryTick);
    m_timer->start();
}

void CameraPairingStore::expiryTick() {
    if (m_core) m_core->expire(uptimeSeconds());
    synchronize();
}

void CameraPairingStore::cancel() {
    if (m_timer) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    if (m_core) m_core->cancel();
    m_core.reset();
    synchronize();
}

std::optional<CameraPairingStore::Reply> CameraPairingStore::receive(const std::string& datagram,
                                                                     const std::string& host) {
    if (!m_core) return std::nullopt;
    std::optional<std::string> reply = m_core->receive(datagram, host, uptimeSeconds());
    synchronize();
    if (!reply) return std::nullopt;
    return Reply{std::move(*reply), host};
}

std::optional<CameraPairingStore::Reply> CameraPairingStore::approve() {
    if (!m_core) return std::nullopt;
    CameraPairingCore working = *m_core;
    std::vector<TrustedCameraIdentity> list;
    CameraPairingCore::Approval approval;
    try {
        approval = working.approve(uptimeSeconds(), m_clock.now());
        list = m_trusted;
        std::erase_if(list, [&](const TrustedCameraIdentity& camera) { return camera.id == approval.identity.id; });
        if (list.size() >= TrustedCameraFile::maximumEntries) throw CameraPairingError::invalid(CameraPairingText::listFull);
        list.push_back(approval.identity);
        write(list, true);
    } catch (const std::exception& failure) {
        setMessage(withKeptAsideNotice(failure.what()));
        synchronize();
        return std::nullopt;
    }
    m_core = std::move(working);
    setTrusted(std::move(list));
    synchronize();
    setMessage(withKeptAsideNotice(approvedSentence(approval.identity.name)));
    m_keptAsideAs.reset();
    return Reply{std::move(approval.datagram), std::move(approval.host)};
}

void CameraPairingStore::forget(const std::string& id) {
    std::vector<TrustedCameraIdentity> list = m_trusted;
    std::erase_if(list, [&](const TrustedCameraIdentity& camera) { return camera.id == id; });
    try {
        write(list, false);
    } catch (const std::exception& failure) {
        setMessage(withKeptAsideNotice(std::string(CameraPairingText::removeFailedPrefix) + failure.what()));
        return;
    }
    if (m_core) m_core->cancel();
    synchronize();
    setTrusted(std::move(list));
    if (m_keptAsideAs) setMessage(withKeptAsideNotice({}));
    m_keptAsideAs.reset();
}

void CameraPairingStore::write(const std::vector<TrustedCameraIdentity>& list, bool createFolder) {
    const std::string document = TrustedCameraFile::encode(list);
    if (createFolder) std::filesystem::create_directories(m_dataFolder);
    if (m_unreadableFileOnDisk) {
        if (std::optional<std::string> keptAs = files::keepAsideAsUnreadable(recordsFile(), m_clock.now())) {
            m_keptAsideAs = m_dataFolder / *keptAs;
        }
        m_unreadableFileOnDisk = false;
    }
    files::writeAtomically(recordsFile(), document);
}

std::string CameraPairingStore::withKeptAsideNotice(std::string sentence) const {
    if (!m_keptAsideAs) return sentence;
    if (!sentence.empty()) sentence += " ";
    return sentence + keptAsideSentence(*m_keptAsideAs);
}

void CameraPairingStore::attach(LiveCameraDiscovery& channel) {
    QPointer<CameraPairingStore> store(this);
    QPointer<LiveCameraDiscovery> sender(&channel);
    channel.pairingPacketHandler = [store, sender](const std::string& datagram, const std::string& host) {
        if (!store) return;
        const std::optional<Reply> reply = store->receive(datagram, host);
        if (reply && sender) sender->sendPairingPacket(reply->data, reply->host);
    };
}

void CameraPairingStore::synchronize() {
    m_invitation = m_core ? m_core->invitation() : std::nullopt;
    Q_EMIT invitationChanged();
    m_candidate = m_core ? m_core->candidate() : std::nullopt;
    Q_EMIT candidateChanged();
}

void CameraPairingStore::setMessage(std::string message) {
    m_message = std::move(message);
    Q_EMIT messageChanged();
}

void CameraPairingStore::setTrusted(std::vector<TrustedCameraIdentity> trusted) {
    m_trusted = std::move(trusted);
    Q_EMIT trustedChanged();
}

} // namespace velk
