#include <gtest/gtest.h>

#include "director/director_camera_slot_layout.hpp"

namespace velk {
namespace {

DirectorCameraSlot slot(int index, std::optional<std::string> id = std::nullopt, std::optional<std::string> name = std::nullopt) {
    return DirectorCameraSlot{index, std::move(id), std::move(name)};
}

DirectorSlotCamera camera(std::string id, std::string name, bool online = true, std::string role = "CAMERA") {
    return DirectorSlotCamera{std::move(id), std::move(name), std::move(role), online};
}

std::vector<std::optional<std::string>> ids(const DirectorCameraSlotLayout& layout) {
    std::vector<std::optional<std::string>> out;
    for (const auto& s : layout.slots()) out.push_back(s.cameraID);
    return out;
}

void expectEmptySlots(const DirectorCameraSlotLayout& layout) {
    ASSERT_EQ(layout.slots().size(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(layout.slots()[i], slot(i)) << i;
}

TEST(SlotLayoutNormalisation, EmptyGivesEightEmptySlots) {
    expectEmptySlots(DirectorCameraSlotLayout());
    expectEmptySlots(DirectorCameraSlotLayout(std::vector<DirectorCameraSlot>{}));
}

TEST(SlotLayoutNormalisation, FirstSlotPerIndexWinsAndOutOfRangeIsDropped) {
    const DirectorCameraSlotLayout layout(
        {slot(7, "g", "G"), slot(3, "c", "C"), slot(3, "x", "X"), slot(9, "i", "I"), slot(-1, "z", "Z")});
    EXPECT_EQ(ids(layout), (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt, std::nullopt, "c",
                                                                     std::nullopt, std::nullopt, std::nullopt, "g"}));
    EXPECT_EQ(layout.slots()[3].cameraName, "C");
    for (int i = 0; i < 8; ++i) EXPECT_EQ(layout.slots()[i].index, i);
}

TEST(SlotLayoutNormalisation, EachCameraIsUsedOnce) {
    const DirectorCameraSlotLayout layout({slot(5, "cam", "Later"), slot(2, "cam", "Earlier")});
    EXPECT_EQ(layout.slots()[2], slot(2, "cam", "Earlier"));
    EXPECT_EQ(layout.slots()[5], slot(5));
}

TEST(SlotLayoutNormalisation, EmptyCameraIdClearsTheName) {
    const DirectorCameraSlotLayout layout({slot(1, "", "Ghost"), slot(2, std::nullopt, "Name only")});
    EXPECT_EQ(layout.slots()[1], slot(1));
    EXPECT_EQ(layout.slots()[2], slot(2));
}

TEST(SlotLayoutReconcile, FreeSlotsTakeOnlineCamerasFirstThenByName) {
    DirectorCameraSlotLayout layout({slot(0, "a", "A"), slot(1, "b", "B"), slot(2, "c", "C"), slot(4, "d", "D"),
                                     slot(5, "e", "E"), slot(6, "f", "F")});
    layout.reconcile({camera("beta", "beta"), camera("Alpha", "Alpha", false), camera("alpha2", "alpha2")});
    EXPECT_EQ(layout.slots()[3], slot(3, "alpha2", "alpha2"));
    EXPECT_EQ(layout.slots()[7], slot(7, "beta", "beta"));
}

TEST(SlotLayoutReconcile, EqualNamesKeepTheirGivenOrder) {
    DirectorCameraSlotLayout layout;
    layout.reconcile({camera("second", "Cam"), camera("first", "cam"), camera("third", "CAM", false)});
    EXPECT_EQ(layout.slots()[0].cameraID, "second");
    EXPECT_EQ(layout.slots()[1].cameraID, "first");
    EXPECT_EQ(layout.slots()[2].cameraID, "third");
}

TEST(SlotLayoutReconcile, DirectorsAreNeverPlaced) {
    DirectorCameraSlotLayout layout;
    layout.reconcile({camera("mac", "Mac", true, "director"), camera("mac2", "Mac 2", true, "Director"),
                      camera("cam", "Cam", true, "camera")});
    EXPECT_EQ(ids(layout)[0], "cam");
    EXPECT_EQ(ids(layout)[1], std::nullopt);
}

TEST(SlotLayoutReconcile, AbsentCameraKeepsItsSlotAndNameAndIsNotPlacedTwice) {
    DirectorCameraSlotLayout layout;
    layout.reconcile({camera("a", "Alpha"), camera("b", "Bravo")});
    layout.reconcile({camera("b", "Bravo")});
    EXPECT_EQ(layout.slots()[0], slot(0, "a", "Alpha"));
    layout.reconcile({camera("c", "Charlie"), camera("a", "Alpha renamed", false), camera("b", "Bravo")});
    EXPECT_EQ(layout.slots()[0], slot(0, "a", "Alpha renamed"));
    EXPECT_EQ(layout.slots()[1], slot(1, "b", "Bravo"));
    EXPECT_EQ(layout.slots()[2], slot(2, "c", "Charlie"));
    EXPECT_EQ(layout.slots()[3], slot(3));
}

TEST(SlotLayoutReconcile, OnlyEightCamerasFitInSortOrder) {
    DirectorCameraSlotLayout layout;
    std::vector<DirectorSlotCamera> cameras;
    for (char c = 'j'; c >= 'a'; --c) cameras.push_back(camera(std::string(1, c), std::string("cam ") + c));
    layout.reconcile(cameras);
    EXPECT_EQ(ids(layout), (std::vector<std::optional<std::string>>{"a", "b", "c", "d", "e", "f", "g", "h"}));
}

TEST(SlotLayoutReconcile, AcceptsAnyCameraListWithAnOnlineTest) {
    struct Live { std::string id, name, role; double lastSeen; };
    const std::vector<Live> live = {{"z", "Zulu", "CAMERA", 10}, {"y", "Yankee", "CAMERA", 0}};
    DirectorCameraSlotLayout layout;
    layout.reconcile(live, [](const Live& c) { return c.lastSeen > 5; });
    EXPECT_EQ(ids(layout)[0], "z");
    EXPECT_EQ(ids(layout)[1], "y");
}

TEST(SlotLayoutRelease, FreesOnlyValidPositionsAndRefillsOnReconcile) {
    DirectorCameraSlotLayout layout;
    layout.reconcile({camera("a", "A"), camera("b", "B")});
    const DirectorCameraSlotLayout before = layout;
    layout.release(8);
    layout.release(-1);
    EXPECT_EQ(layout, before);
    layout.release(0);
    EXPECT_EQ(layout.slots()[0], slot(0));
    layout.reconcile({camera("a", "A"), camera("b", "B")});
    EXPECT_EQ(layout.slots()[0], slot(0, "a", "A"));
}

TEST(SlotLayoutStoredForm, IsBase64OfCompactJson) {
    const DirectorCameraSlotLayout layout({slot(0, "cam-a", "Front")});
    const std::string json =
        R"({"slots":[{"cameraID":"cam-a","cameraName":"Front","index":0},{"index":1},{"index":2},{"index":3},{"index":4},{"index":5},{"index":6},{"index":7}]})";
    EXPECT_EQ(layout.encoded(),
              "eyJzbG90cyI6W3siY2FtZXJhSUQiOiJjYW0tYSIsImNhbWVyYU5hbWUiOiJGcm9udCIsImluZGV4IjowfSx7ImluZGV4IjoxfSx7ImluZGV4IjoyfS"
              "x7ImluZGV4IjozfSx7ImluZGV4Ijo0fSx7ImluZGV4Ijo1fSx7ImluZGV4Ijo2fSx7ImluZGV4Ijo3fV19");
    (void)json;
}

TEST(SlotLayoutStoredForm, RoundTrips) {
    DirectorCameraSlotLayout layout;
    layout.reconcile({camera("a", "Änne ✓"), camera("b", "B"), camera("c", "C")});
    layout.release(1);
    EXPECT_EQ(DirectorCameraSlotLayout::decoded(layout.encoded()), layout);
    EXPECT_EQ(DirectorCameraSlotLayout::decoded(DirectorCameraSlotLayout().encoded()), DirectorCameraSlotLayout());
}

TEST(SlotLayoutStoredForm, DecodingNormalises) {
    // {"slots":[{"index":7,"cameraID":"x"},{"index":3,"cameraID":"x"},{"index":9}],"extra":1}
    const std::string text = "eyJzbG90cyI6W3siaW5kZXgiOjcsImNhbWVyYUlEIjoieCJ9LHsiaW5kZXgiOjMsImNhbWVyYUlEIjoieCJ9LHsiaW5kZXgiOjl9XSwiZXh0cmEiOjF9";
    const DirectorCameraSlotLayout layout = DirectorCameraSlotLayout::decoded(text);
    EXPECT_EQ(layout.slots()[3], slot(3, "x"));
    EXPECT_EQ(layout.slots()[7], slot(7));
}

TEST(SlotLayoutStoredForm, UnreadableTextGivesEightEmptySlots) {
    const char* cases[] = {
        "",
        "not base64!",
        "eyJzbG90cyI6W119",       // {"slots":[]} is fine, checked below
        "eyJzbG90cyI6W1199",      // length not a multiple of four
        " eyJzbG90cyI6W119",      // leading white space
        "eyJzbG90cyI6\nW119",     // line break
        "e30=",                   // {} without slots
        "W10=",                   // []
        "eyJzbG90cyI6W3siaW5kZXgiOiIxIn1dfQ==", // {"slots":[{"index":"1"}]}
        "eyJzbG90cyI6W3siY2FtZXJhSUQiOiJ4In1dfQ==", // {"slots":[{"cameraID":"x"}]}
        "eyJzbG90cyI6W3siaW5kZXgiOjEsImNhbWVyYUlEIjo1fV19", // {"slots":[{"index":1,"cameraID":5}]}
        "=eyJ",
        "ey=J",
    };
    for (const char* text : cases) expectEmptySlots(DirectorCameraSlotLayout::decoded(text));
}

TEST(SlotLayoutStoredForm, HugeIndexIsDroppedNotWrapped) {
    // {"slots":[{"index":4294967299,"cameraID":"x"},{"index":1,"cameraID":"y"}]}
    const std::string text = "eyJzbG90cyI6W3siaW5kZXgiOjQyOTQ5NjcyOTksImNhbWVyYUlEIjoieCJ9LHsiaW5kZXgiOjEsImNhbWVyYUlEIjoieSJ9XX0=";
    const DirectorCameraSlotLayout layout = DirectorCameraSlotLayout::decoded(text);
    EXPECT_EQ(layout.slots()[3], slot(3));
    EXPECT_EQ(layout.slots()[1], slot(1, "y"));
}

} // namespace
} // namespace velk
