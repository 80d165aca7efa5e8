// The preview client against the simulated camera's preview server on loopback.

#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "preview/preview_client.hpp"
#include "preview_test_support.hpp"

namespace velk {
namespace {

namespace Client = VELKPreviewClient;
using preview_test::SimPreview;
using Error = VELKPreviewError::Case;
using Clock = std::chrono::steady_clock;

const std::string kHost = "127.0.0.1";

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

template <class Fn>
std::optional<Error> errorOf(Fn fn) {
    try {
        fn();
    } catch (const VELKPreviewError& error) {
        return error.kind();
    }
    return std::nullopt;
}

struct Received {
    std::vector<QImage> images;
    std::vector<Client::Transport> transports;
    std::optional<Client::Transport> result;
    std::optional<Error> error;
    std::optional<std::string> message;
};

Received receive(const SimPreview& sim, VELKPreviewProfile profile, bool preferLegacy,
                 std::function<bool()> shouldContinue = [] { return true; }, PreviewSocketWatch* watch = nullptr) {
    Received out;
    try {
        out.result = Client::receive(
            kHost, sim.port(), profile, preferLegacy, shouldContinue,
            [&](QImage image, Client::Transport transport) {
                out.images.push_back(std::move(image));
                out.transports.push_back(transport);
            },
            watch);
    } catch (const VELKPreviewError& error) {
        out.error = error.kind();
        out.message = error.what();
    }
    return out;
}

TEST(PreviewClient, FrameTestAndProfileTables) {
    EXPECT_TRUE(Client::isJPEG(std::string("\xFF\xD8\xFF\xD9", 4)));
    EXPECT_FALSE(Client::isJPEG(std::string("\xFF\xD8\xD9", 3)));
    EXPECT_FALSE(Client::isJPEG(std::string("\xFF\xD9\xFF\xD9", 4)));
    EXPECT_FALSE(Client::isJPEG(std::string("\xFF\xD8\xFF\xD8", 4)));
    EXPECT_EQ(previewProfileFromRaw("Wall"), std::nullopt);
    // A payload that passes the marker test but is no picture is refused all the same.
    EXPECT_EQ(errorOf([] { Client::decodeJPEG(std::string("\xFF\xD8\x00\x00\xFF\xD9", 6)); }), Error::invalidJPEG);
}

TEST(PreviewClient, AddressesAndTimeOutsRefusedBeforeAnyConnection) {
    for (const char* host : {"camera.local", "::1", "127.1", ""}) {
        EXPECT_EQ(errorOf([&] { Client::fetchJPEG(host, 45455, 1); }), Error::invalidHost) << host;
    }
    // A time-out of zero would make every later read wait for ever.
    EXPECT_EQ(errorOf([] { Client::fetchJPEG("camera.local", 45455, 1, 0); }), Error::connectionFailed);
    EXPECT_EQ(errorOf([] { Client::fetchJPEG(kHost, 45455, 1, -5); }), Error::connectionFailed);
    EXPECT_EQ(errorOf([] { Client::fetchJPEG(kHost, preview_test::closedPort(), 1); }), Error::connectionFailed);
    EXPECT_STREQ(VELKPreviewError(Error::connectionFailed).what(), "Preview connection failed");
}

TEST(PreviewClient, OneShotFetchesAnswerEachRequestByte) {
    SimPreview sim;
    ASSERT_TRUE(sim.isListening());
    const QImage wall = Client::fetchImage(kHost, sim.port(), 1);
    const QImage selected = Client::fetchImage(kHost, sim.port(), 2);
    EXPECT_EQ(wall.size(), QSize(640, 360));
    EXPECT_EQ(selected.size(), QSize(1280, 720));
    // The server logs a connection after its frame has gone out, so the client may already be
    // served its second frame before the first line is written: the order is not the point.
    EXPECT_THAT(sim.requests(2), ::testing::UnorderedElementsAre(1, 2));
}

TEST(PreviewClient, FrameLengthsAndContentsAreChecked) {
    struct Case {
        QStringList switches;
        std::optional<Error> expected;
        std::string message;
    } cases[] = {
        {{"--preview-fault", "bad-length", "--bad-length", "0"}, Error::invalidLength, "Preview frame size was rejected"},
        {{"--preview-fault", "bad-length", "--bad-length", "2097153"}, Error::invalidLength, ""},
        {{"--preview-fault", "max-size"}, std::nullopt, ""},
        {{"--preview-fault", "bad-jpeg"}, Error::invalidJPEG, "Preview frame was not a valid JPEG"},
        // 2 MiB declaring 65535 x 65535: refused from its header, nothing of that size allocated.
        {{"--preview-fault", "huge-dimensions"}, Error::invalidJPEG, ""},
    };
    for (const auto& c : cases) {
        SimPreview sim(c.switches);
        ASSERT_TRUE(sim.isListening());
        // The one-shot fetch of the bytes refuses what the fetch of the image refuses.
        for (const bool bytes : {false, true}) {
            std::string message;
            std::optional<Error> error;
            try {
                if (bytes) {
                    EXPECT_EQ(Client::fetchJPEG(kHost, sim.port(), 1).size(), 2'097'152u);
                } else {
                    EXPECT_EQ(Client::fetchImage(kHost, sim.port(), 1).width(), 640);
                }
            } catch (const VELKPreviewError& e) {
                error = e.kind();
                message = e.what();
            }
            EXPECT_EQ(error, c.expected) << c.switches.join(' ').toStdString() << (bytes ? " (bytes)" : " (image)");
            if (!c.message.empty()) {
                EXPECT_EQ(message, c.message);
            }
        }
    }
}

TEST(PreviewClient, SilentAndTricklingCamerasTimeOut) {
    SimPreview silent({"--preview-fault", "silent"});
    ASSERT_TRUE(silent.isListening());
    auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { Client::fetchJPEG(kHost, silent.port(), 1); }), Error::transportFailed);
    EXPECT_GE(secondsSince(start), 1.4);
    EXPECT_LE(secondsSince(start), 3.5);  // generous: a loaded machine schedules late

    // Every piece arrives within the socket time-out, but the frame is not whole after 3 s.
    SimPreview trickle({"--preview-fault", "trickle", "--trickle-seconds", "5"});
    ASSERT_TRUE(trickle.isListening());
    start = Clock::now();
    EXPECT_EQ(errorOf([&] { Client::fetchJPEG(kHost, trickle.port(), 1); }), Error::transportFailed);
    EXPECT_GE(secondsSince(start), 2.9);
    EXPECT_LE(secondsSince(start), 4.6);  // the whole frame would take 5 s
}

TEST(PreviewClient, PersistentStreamsArePacedHere) {
    struct Case {
        VELKPreviewProfile profile;
        QSize size;
        int request;
        int minimum, maximum;  // frames handed over in one second of a 30 fps stream
    } cases[] = {{VELKPreviewProfile::wall, {640, 360}, 4, 5, 13}, {VELKPreviewProfile::selected, {1280, 720}, 5, 3, 9}};
    for (const auto& c : cases) {
        SimPreview sim({"--fps", "30"});
        ASSERT_TRUE(sim.isListening());
        const auto start = Clock::now();
        auto out = receive(sim, c.profile, false, [&] { return secondsSince(start) < 1.0; });
        EXPECT_EQ(out.result, Client::Transport::persistent);
        EXPECT_GE(static_cast<int>(out.images.size()), c.minimum);
        EXPECT_LE(static_cast<int>(out.images.size()), c.maximum);
        ASSERT_FALSE(out.images.empty());
        EXPECT_EQ(out.images.front().size(), c.size);
        EXPECT_EQ(out.transports.front(), Client::Transport::persistent);
        EXPECT_EQ(sim.requests(1), std::vector<int>{c.request});
    }
}

TEST(PreviewClient, StreamRefusedFallsBackToOneLegacyFetch) {
    SimPreview sim({"--preview-fault", "persistent-refused"});
    ASSERT_TRUE(sim.isListening());
    auto out = receive(sim, VELKPreviewProfile::wall, false);
    EXPECT_EQ(out.result, Client::Transport::legacy);
    EXPECT_EQ(out.transports, std::vector<Client::Transport>{Client::Transport::legacy});
    EXPECT_EQ(sim.requests(2), (std::vector<int>{4, 1}));

    SimPreview preferring;
    ASSERT_TRUE(preferring.isListening());
    out = receive(preferring, VELKPreviewProfile::selected, true);
    EXPECT_EQ(out.result, Client::Transport::legacy);
    EXPECT_EQ(out.images.size(), 1u);
    EXPECT_EQ(preferring.requests(1), std::vector<int>{2});
}

TEST(PreviewClient, StoppedBeforeReadingEndsQuietly) {
    SimPreview sim;
    ASSERT_TRUE(sim.isListening());
    auto out = receive(sim, VELKPreviewProfile::wall, false, [] { return false; });
    EXPECT_EQ(out.result, Client::Transport::persistent);
    EXPECT_TRUE(out.images.empty());
    EXPECT_EQ(sim.requests(1), std::vector<int>{4});
}

TEST(PreviewClient, StreamThatDeliveredThenFailsDoesNotFallBack) {
    SimPreview closes({"--stop-after", "3", "--fps", "10"});
    ASSERT_TRUE(closes.isListening());
    auto out = receive(closes, VELKPreviewProfile::wall, false);
    EXPECT_EQ(out.error, Error::transportFailed);
    EXPECT_EQ(out.message, "Preview response was incomplete");
    EXPECT_EQ(out.images.size(), 3u);

    // A pause of 2.5 s or more between frames ends the stream through the socket time-out.
    SimPreview pauses({"--pause-after", "2", "--pause-seconds", "4", "--fps", "10"});
    ASSERT_TRUE(pauses.isListening());
    out = receive(pauses, VELKPreviewProfile::wall, false);
    EXPECT_EQ(out.error, Error::transportFailed);
    EXPECT_EQ(out.images.size(), 2u);  // had it waited out the pause, later frames would have come
    EXPECT_EQ(closes.requests(1), std::vector<int>{4});
}

TEST(PreviewClient, ShutdownWakesABlockedExchange) {
    SimPreview sim({"--preview-fault", "silent"});
    ASSERT_TRUE(sim.isListening());
    PreviewSocketWatch watch;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        watch.shutdownAll();
    });
    const auto start = Clock::now();
    auto out = receive(sim, VELKPreviewProfile::wall, false, [] { return true; }, &watch);
    stopper.join();
    EXPECT_TRUE(out.error.has_value());
    EXPECT_LT(secondsSince(start), 1.3);  // the silent camera's own time-out comes after 1.4 s
}

} // namespace
} // namespace velk
