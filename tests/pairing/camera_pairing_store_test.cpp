#include <csignal>
#include <fstream>
#include <regex>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "base/files.hpp"
#include "base/host_name.hpp"
#include "pairing/camera_pairing_store.hpp"
#include "pairing/director_key_file.hpp"
#include "pairing_test_support.hpp"
#include "support/hostnamed_mock.hpp"

namespace velk {
namespace {

using pairing_test::Hello;

using pairing_test::camera;
using pairing_test::director;

std::string keyText(std::uint8_t seed) {
    return CameraPairingWire::base64(pairing_crypto::SigningKey::fromRaw(pairing_test::sequence(seed, 32)).publicKey());
}

std::string trustedEntry(const std::string& id, const std::string& key, const std::string& pairedAt = "1.5") {
    return R"({"id":")" + id + R"(","name":"N","publicKey":")" + key + R"(","pairedAt":)" + pairedAt + "}";
}

// A list of `count` valid entries, cam0, cam1, …
std::string trustedList(int count) {
    std::string list = "[";
    for (int i = 0; i < count; ++i) list += (i ? "," : "") + trustedEntry("cam" + std::to_string(i), keyText(1));
    return list + "]";
}

class PairingStore : public testing::Test {
protected:
    void SetUp() override { test::ensureApplication<QApplication>(); }
    std::filesystem::path folder() const { return dir.path().toStdString(); }
    std::filesystem::path records() const { return folder() / "trusted-cameras-v1.json"; }
    void writeRecords(const std::string& text) {
        std::filesystem::create_directories(folder());
        files::writeAtomically(records(), text);
    }
    std::unique_ptr<CameraPairingStore> makeStore() {
        auto store = std::make_unique<CameraPairingStore>(folder(), clock);
        store->setHostNameSource([] { return std::optional<std::string>("Studio Mac"); });
        return store;
    }
    // Opens an invitation and lets camera `id` answer it; true when it became the candidate.
    bool pending(CameraPairingStore& store, const std::string& id = "cam-A") {
        store.begin(director, std::string("10.77.0.1"));
        if (!store.invitation()) return false;
        Hello hello(*store.invitation());
        hello.sender = id;
        store.receive(hello.build(), camera);
        return store.candidate().has_value();
    }

    QTemporaryDir dir;
    ManualClock clock{fromWallMs(1'000'000'000'000), 5'000'000};
};

TEST_F(PairingStore, FirstApprovalWritesTheFile) {
    auto store = makeStore();
    EXPECT_TRUE(store->trusted().empty());
    EXPECT_EQ(store->message(), "");
    ASSERT_TRUE(pending(*store));
    const auto reply = store->approve();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->host, camera);
    EXPECT_EQ(store->message(), "Approved Camera A on this computer. The phone must verify the reply to finish pairing.");
    EXPECT_FALSE(store->invitation());
    const Json file = json::parse(files::readAll(records()));
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file[0].size(), 4u);
    EXPECT_EQ(file[0]["id"], "cam-A");
    EXPECT_EQ(file[0]["name"], "Camera A");
    // 1 000 000 000 s after 1970 is 21 692 800 s after 2001.
    EXPECT_DOUBLE_EQ(file[0]["pairedAt"].get<double>(), 1'000'000'000.0 - 978'307'200.0);
    EXPECT_EQ(makeStore()->trusted(), store->trusted());
}

// A write of the list interrupted by a crash leaves a temporary file; the next start removes it
// before anything is written, and leaves the files of other writers and look-alikes alone.
TEST_F(PairingStore, StartRemovesWhatInterruptedWritesLeftBehind) {
    writeRecords(trustedList(2));
    const std::string stale = ".trusted-cameras-v1.json.tmp-0a1b2c3d4e5f6789";
    const std::vector<std::string> kept = {".library.json.tmp-0a1b2c3d4e5f6789",
                                           "trusted-cameras-v1.json.tmp-0a1b2c3d4e5f6789",
                                           ".trusted-cameras-v1.json.tmp-0a1b2c3d4e5f678",
                                           ".trusted-cameras-v1.json.tmp-ffffffffffffffff"}; // a link
    for (const std::string& name : {stale, kept[0], kept[1], kept[2]}) std::ofstream(folder() / name) << "[";
    std::filesystem::create_symlink(records(), folder() / kept[3]);

    // The Director key is written under the same kind of name in its private folder.
    const std::filesystem::path keys = DirectorKeyFile::path(folder()).parent_path();
    std::filesystem::create_directories(keys);
    std::filesystem::permissions(keys, std::filesystem::perms::owner_all);
    const std::filesystem::path staleKey = keys / (std::string(".") + DirectorKeyFile::fileName + ".tmp-0a1b2c3d4e5f6789");
    std::ofstream(staleKey) << "a copy of the key";

    auto store = makeStore();
    EXPECT_EQ(store->trusted().size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(folder() / stale));
    EXPECT_FALSE(std::filesystem::exists(staleKey));
    for (const std::string& name : kept) {
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(folder() / name))) << name;
    }
}

TEST_F(PairingStore, LoadKeepsValidEntriesInOrder) {
    const std::string good = keyText(1);
    writeRecords("[" + trustedEntry("a", good) + "," + trustedEntry("", good) + "," +
                 trustedEntry(std::string(129, 'x'), good) + "," + trustedEntry("t\\tb", good) + "," +
                 trustedEntry("short", good.substr(0, 86)) + "," + trustedEntry("b", good, "7") + "]");
    auto store = makeStore();
    ASSERT_EQ(store->trusted().size(), 2u);
    EXPECT_EQ(store->trusted()[0].id, "a");
    EXPECT_EQ(store->trusted()[1].id, "b");
    EXPECT_EQ(store->trusted()[1].pairedAt, fromWallMs(978'307'207'000));
}

TEST_F(PairingStore, UnusableFileLoadsEmptyAndIsKeptAsideAtTheFirstWrite) {
    for (const std::string& document : {trustedList(129), "[" + trustedEntry("a", keyText(1), "\"2020-01-01\"") + "]",
                                        std::string("{not json")}) {
        writeRecords(document);
        auto store = makeStore();
        EXPECT_TRUE(store->trusted().empty());
        EXPECT_EQ(files::readAll(records()), document);
        ASSERT_TRUE(pending(*store));
        ASSERT_TRUE(store->approve());
        ASSERT_EQ(store->trusted().size(), 1u);
        std::string kept;
        for (const auto& entry : std::filesystem::directory_iterator(folder())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("trusted-cameras-v1.json.unreadable-")) kept = name;
        }
        EXPECT_TRUE(std::regex_match(kept, std::regex(R"(trusted-cameras-v1\.json\.unreadable-\d{8}-\d{6})"))) << kept;
        EXPECT_EQ(files::readAll(folder() / kept), document);
        EXPECT_NE(store->message().find("Kept the unreadable list of trusted cameras as " + (folder() / kept).string() + "."),
                  std::string::npos)
            << store->message();
        std::filesystem::remove(folder() / kept);
    }
}

// While `operation` runs, nothing can be written into a file (root passes every permission check,
// but not the limit on file size): the next atomic write fails after anything before it happened.
void withoutFileWrites(const std::function<void()>& operation) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    auto* previous = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
    operation();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previous);
}

TEST_F(PairingStore, WhereTheUnreadableFileWasKeptSurvivesAFailedFirstWrite) {
    writeRecords("{not json");
    auto store = makeStore();
    ASSERT_TRUE(pending(*store));
    std::optional<CameraPairingStore::Reply> reply;
    withoutFileWrites([&] { reply = store->approve(); });
    EXPECT_FALSE(reply);
    std::string kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder())) {
        if (entry.path().filename().string().starts_with("trusted-cameras-v1.json.unreadable-")) kept = entry.path().string();
    }
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(files::readAll(kept), "{not json");
    const std::string notice = "Kept the unreadable list of trusted cameras as " + kept + ".";
    EXPECT_NE(store->message().find("File too large"), std::string::npos) << store->message();
    EXPECT_NE(store->message().find(notice), std::string::npos) << store->message();
    EXPECT_TRUE(store->candidate()); // still pending: the user may approve again

    ASSERT_TRUE(store->approve());
    EXPECT_EQ(store->message(), "Approved Camera A on this computer. The phone must verify the reply to finish pairing. " +
                                    notice);
    ASSERT_TRUE(pending(*store, "cam-B"));
    ASSERT_TRUE(store->approve());
    EXPECT_EQ(store->message().find("Kept"), std::string::npos); // told once the list is written
}

TEST_F(PairingStore, DirectorNameIsTheComputersNameAsTheDesktopShowsIt) {
    test::HostnamedMock hostnamed(QStringLiteral("Studio Desk"), QStringLiteral("studio-desk"));
    if (!hostnamed.ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    // The name as the application keeps it, asked here of the mock's bus.
    const host_name::Watch names;
    CameraPairingStore store(folder(), clock); // the system's name source
    ASSERT_TRUE(test::waitUntil([] { return host_name::computerName() == "Studio Desk"; }));
    store.begin(director, std::string("10.77.0.1"));
    ASSERT_TRUE(store.invitation());
    EXPECT_EQ(store.invitation()->directorName, "Studio Desk");
    hostnamed.setPrettyName({});
    ASSERT_TRUE(test::waitUntil([] { return host_name::computerName() == "studio-desk"; }));
    store.begin(director, std::string("10.77.0.1"));
    EXPECT_EQ(store.invitation()->directorName, "studio-desk");
}

TEST_F(PairingStore, FullListRefusesAndForgetEndsTheAttempt) {
    const std::string full = trustedList(128);
    writeRecords(full);
    auto store = makeStore();
    ASSERT_TRUE(pending(*store));
    EXPECT_FALSE(store->approve());
    EXPECT_EQ(store->message(), "Pairing list is full. Remove an old camera first.");
    EXPECT_TRUE(store->candidate());
    EXPECT_EQ(files::readAll(records()), full);

    store->forget("cam0");
    EXPECT_EQ(store->trusted().size(), 127u);
    EXPECT_FALSE(store->invitation());
    EXPECT_FALSE(store->candidate());
    EXPECT_TRUE(store->isExpiryTimerRunning());

    // The candidate's id already trusted: approval replaces it and moves it to the end.
    ASSERT_TRUE(pending(*store, "cam1"));
    ASSERT_TRUE(store->approve());
    EXPECT_EQ(store->trusted().size(), 127u);
    EXPECT_EQ(store->trusted().back().id, "cam1");
}

TEST_F(PairingStore, ForgetFailureKeepsTheList) {
    auto store = makeStore();
    ASSERT_TRUE(pending(*store));
    ASSERT_TRUE(store->approve());
    std::filesystem::remove(records());
    std::filesystem::create_directory(records()); // a folder where the file was: the rename fails
    store->forget("cam-A");
    EXPECT_EQ(store->trusted().size(), 1u);
    EXPECT_TRUE(store->message().starts_with("Could not remove camera trust: ")) << store->message();
}

TEST_F(PairingStore, ExpiryTimerFollowsTheInjectedClock) {
    auto store = makeStore();
    ASSERT_TRUE(pending(*store));
    clock.advanceMs(119'999);
    store->expiryTick();
    EXPECT_TRUE(store->invitation());
    clock.advanceMs(1);
    store->expiryTick();
    EXPECT_FALSE(store->invitation());
    EXPECT_FALSE(store->candidate());
    EXPECT_TRUE(store->isExpiryTimerRunning());
    EXPECT_FALSE(store->approve());
    EXPECT_EQ(store->message(), "Invitation expired. Show a new QR code.");
    store->cancel();
    EXPECT_FALSE(store->isExpiryTimerRunning());
}

TEST_F(PairingStore, BeginFailuresGoToTheMessage) {
    auto store = makeStore();
    EXPECT_FALSE(store->receive("{}", camera));
    store->begin(director, std::nullopt);
    EXPECT_EQ(store->message(), "Connect this computer to a local network first.");
    store->begin("not-a-uuid", std::string("10.0.0.1"));
    EXPECT_EQ(store->message(), "Connect this computer to a local Wi-Fi or Ethernet network first.");
    EXPECT_FALSE(store->invitation());
    EXPECT_FALSE(store->isExpiryTimerRunning());
    // A host name with a zero-width space still opens an invitation.
    store->setHostNameSource([] { return std::optional<std::string>("Studio\xE2\x80\x8BMac"); });
    store->begin(director, std::string("10.0.0.1"));
    ASSERT_TRUE(store->invitation()) << store->message();
    EXPECT_EQ(store->invitation()->directorName, "Studio Mac");
}

TEST_F(PairingStore, DirectorKeyIsMadeOncePrivatelyAndReused) {
    auto store = makeStore();
    store->begin(director, std::string("10.0.0.1"));
    const std::string publicKey = store->invitation()->publicKey;
    const std::filesystem::path key = DirectorKeyFile::path(folder());
    struct stat info {};
    ASSERT_EQ(::stat(key.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 32);
    ASSERT_EQ(::stat(key.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    auto again = makeStore();
    again->begin(director, std::string("10.0.0.1"));
    EXPECT_EQ(again->invitation()->publicKey, publicKey);
}

TEST_F(PairingStore, UnreadableKeyIsNeverReplaced) {
    auto store = makeStore();
    store->begin(director, std::string("10.0.0.1"));
    const std::filesystem::path key = DirectorKeyFile::path(folder());
    const std::string original = files::readAll(key);
    const std::filesystem::path elsewhere = folder() / "elsewhere";
    std::filesystem::rename(key, elsewhere);
    std::filesystem::create_symlink(elsewhere, key);
    store->begin(director, std::string("10.0.0.1"));
    EXPECT_EQ(store->message(), "The Director key cannot be read. Check the permissions of the Kestova data folder.");
    EXPECT_FALSE(store->invitation());
    std::filesystem::remove(key);
    std::filesystem::rename(elsewhere, key);
    std::filesystem::permissions(key, std::filesystem::perms(0644));
    store->begin(director, std::string("10.0.0.1"));
    EXPECT_EQ(store->message(), "The Director key cannot be read. Check the permissions of the Kestova data folder.");
    EXPECT_EQ(files::readAll(key), original);
}

TEST_F(PairingStore, KeyFolderAndFileFaults) {
    std::filesystem::create_directories(folder());
    files::writeAtomically(folder() / "keys", "a file where the key folder belongs");
    CameraPairingStore underAFile(folder() / "keys" / "Velk", clock);
    underAFile.begin(director, std::string("10.0.0.1"));
    EXPECT_EQ(underAFile.message(), "Cannot save the Director key.");
    auto store = makeStore();
    store->begin(director, std::string("10.0.0.1"));
    EXPECT_EQ(store->message(), "The Director key cannot be read. Check the permissions of the Kestova data folder.");
    std::filesystem::remove(folder() / "keys");
    std::filesystem::create_directories(folder() / "keys");
    std::filesystem::permissions(folder() / "keys", std::filesystem::perms(0700));
    files::writeAtomically(folder() / "keys" / DirectorKeyFile::fileName, "short");
    std::filesystem::permissions(folder() / "keys" / DirectorKeyFile::fileName, std::filesystem::perms(0600));
    store->begin(director, std::string("10.0.0.1"));
    EXPECT_EQ(store->message(), "The P-256 key is not 32 bytes long.");
}

TEST(PairingStoreName, DirectorNameRules) {
    const struct { std::optional<std::string> host; std::string expected; } cases[] = {
        {std::nullopt, "Kestova Desktop"},
        {"", "Kestova Desktop"},
        {"Studio\nMac", "Studio Mac"},
        {"Studio\xE2\x80\x8BMac", "Studio Mac"},
        {std::string(70, 'a'), std::string(64, 'a')},
        {std::string(63, 'a') + "\xC3\xA9", std::string(63, 'a')},
    };
    for (const auto& c : cases) EXPECT_EQ(CameraPairingStore::directorName(c.host), c.expected);
}

} // namespace
} // namespace velk
