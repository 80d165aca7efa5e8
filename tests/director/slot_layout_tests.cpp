#include <gtest/gtest.h>

#include "director/director_camera_slot_layout.hpp"

namespace velk {
namespace {

using Ids = std::vector<std::optional<std::string>>;
const auto none = std::nullopt;

DirectorCameraSlot slot(int index, std::optional<std::string> id = none, std::optional<std::string> name = none) {
    return DirectorCameraSlot{index, std::move(id), std::move(name)};
}

DirectorSlotCamera camera(std::string id, std::string name, bool online = true, std::string role = "CAMERA") {
    return DirectorSlotCamera{std::move(id), std::move(name), std::move(role), online};
}

Ids ids(const DirectorCameraSlotLayout& layout) {
    Ids out;
    for (const auto& s : layout.slots()) out.push_back(s.cameraID);
    return out;
}

const DirectorCameraSlotLayout empty;

TEST(SlotLayout, NormalisationKeepsEightSlotsAndEachCameraOnce) {
    ASSERT_EQ(empty.slots().size(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(empty.slots()[i], slot(i));
    EXPECT_EQ(DirectorCameraSlotLayout(std::vector<DirectorCameraSlot>{}), empty);

    // The first slot per index wins, indexes outside 0-7 are dropped, a camera stays in its lowest slot.
    const DirectorCameraSlotLayout layout({slot(7, "g", "G"), slot(3, "c", "C"), slot(3, "x", "X"), slot(9, "i", "I"),
                                           slot(-1, "z", "Z"), slot(5, "g", "Later"), slot(1, "", "Ghost"),
                                           slot(2, none, "Name only")});
    EXPECT_EQ(ids(layout), (Ids{none, none, none, "c", none, "g", none, none}));
    EXPECT_EQ(layout.slots()[3], slot(3, "c", "C"));
    EXPECT_EQ(layout.slots()[5], slot(5, "g", "Later"));
    EXPECT_EQ(layout.slots()[1], slot(1)); // an empty id clears the name
    EXPECT_EQ(layout.slots()[2], slot(2));
}

TEST(SlotLayout, ReconcileFillsFreeSlotsOnlineFirstThenByName) {
    DirectorCameraSlotLayout layout({slot(0, "a", "A"), slot(1, "b", "B"), slot(2, "c", "C"), slot(4, "d", "D"),
                                     slot(5, "e", "E"), slot(6, "f", "F")});
    layout.reconcile({camera("beta", "beta"), camera("Alpha", "Alpha", false), camera("alpha2", "alpha2")});
    EXPECT_EQ(layout.slots()[3], slot(3, "alpha2", "alpha2"));
    EXPECT_EQ(layout.slots()[7], slot(7, "beta", "beta"));

    DirectorCameraSlotLayout ties; // equal names keep their given order; Directors are never placed
    ties.reconcile({camera("mac", "Mac", true, "director"), camera("second", "Cam"), camera("first", "cam"),
                    camera("mac2", "Mac 2", true, "Director"), camera("third", "CAM", false)});
    EXPECT_EQ(ids(ties), (Ids{"second", "first", "third", none, none, none, none, none}));

    DirectorCameraSlotLayout full;
    std::vector<DirectorSlotCamera> ten;
    for (char c = 'j'; c >= 'a'; --c) ten.push_back(camera(std::string(1, c), std::string("cam ") + c));
    full.reconcile(ten);
    EXPECT_EQ(ids(full), (Ids{"a", "b", "c", "d", "e", "f", "g", "h"}));

    struct Live { std::string id, name, role; double lastSeen; }; // any camera list with an online test
    DirectorCameraSlotLayout live;
    live.reconcile(std::vector<Live>{{"z", "Zulu", "CAMERA", 10}, {"y", "Yankee", "CAMERA", 0}},
                   [](const Live& c) { return c.lastSeen > 5; });
    EXPECT_EQ(ids(live)[0], "z");
    EXPECT_EQ(ids(live)[1], "y");
}

TEST(SlotLayout, AbsentCamerasKeepTheirSlotUntilReleased) {
    DirectorCameraSlotLayout layout;
    layout.reconcile({camera("a", "Alpha"), camera("b", "Bravo")});
    layout.reconcile({camera("b", "Bravo")});
    EXPECT_EQ(layout.slots()[0], slot(0, "a", "Alpha"));
    layout.reconcile({camera("c", "Charlie"), camera("a", "Alpha renamed", false), camera("b", "Bravo")});
    EXPECT_EQ(ids(layout), (Ids{"a", "b", "c", none, none, none, none, none}));
    EXPECT_EQ(layout.slots()[0].cameraName, "Alpha renamed");

    const DirectorCameraSlotLayout before = layout;
    layout.release(8);
    layout.release(-1);
    EXPECT_EQ(layout, before);
    layout.release(0);
    EXPECT_EQ(layout.slots()[0], slot(0));
    layout.reconcile({camera("a", "A")});
    EXPECT_EQ(layout.slots()[0], slot(0, "a", "A"));
}

TEST(SlotLayout, StoredFormIsBase64OfCompactJson) {
    // {"slots":[{"cameraID":"cam-a","cameraName":"Front","index":0},{"index":1},...,{"index":7}]}
    EXPECT_EQ(DirectorCameraSlotLayout({slot(0, "cam-a", "Front")}).encoded(),
              "eyJzbG90cyI6W3siY2FtZXJhSUQiOiJjYW0tYSIsImNhbWVyYU5hbWUiOiJGcm9udCIsImluZGV4IjowfSx7ImluZGV4IjoxfSx7ImluZGV4IjoyfS"
              "x7ImluZGV4IjozfSx7ImluZGV4Ijo0fSx7ImluZGV4Ijo1fSx7ImluZGV4Ijo2fSx7ImluZGV4Ijo3fV19");
    DirectorCameraSlotLayout layout;
    layout.reconcile({camera("a", "Änne ✓"), camera("b", "B"), camera("c", "C")});
    layout.release(1);
    EXPECT_EQ(DirectorCameraSlotLayout::decoded(layout.encoded()), layout);
    EXPECT_EQ(DirectorCameraSlotLayout::decoded(empty.encoded()), empty);

    // {"slots":[{"index":7,"cameraID":"x"},{"index":3,"cameraID":"x"},{"index":9}],"extra":1} is normalised.
    const auto normalised = DirectorCameraSlotLayout::decoded(
        "eyJzbG90cyI6W3siaW5kZXgiOjcsImNhbWVyYUlEIjoieCJ9LHsiaW5kZXgiOjMsImNhbWVyYUlEIjoieCJ9LHsiaW5kZXgiOjl9XSwiZXh0cmEiOjF9");
    EXPECT_EQ(ids(normalised), (Ids{none, none, none, "x", none, none, none, none}));
    // {"slots":[{"index":4294967299,"cameraID":"x"},{"index":1,"cameraID":"y"}]}: dropped, not wrapped.
    const auto huge = DirectorCameraSlotLayout::decoded(
        "eyJzbG90cyI6W3siaW5kZXgiOjQyOTQ5NjcyOTksImNhbWVyYUlEIjoieCJ9LHsiaW5kZXgiOjEsImNhbWVyYUlEIjoieSJ9XX0=");
    EXPECT_EQ(ids(huge), (Ids{none, "y", none, none, none, none, none, none}));
}

TEST(SlotLayout, UnreadableStoredFormGivesEightEmptySlots) {
    const char* cases[] = {
        "", "not base64!", "eyJzbG90cyI6W119" /* {"slots":[]} */, "eyJzbG90cyI6W1199", " eyJzbG90cyI6W119",
        "eyJzbG90cyI6\nW119", "e30=" /* {} */, "W10=" /* [] */, "=eyJ", "ey=J",
        "eyJzbG90cyI6W3siaW5kZXgiOiIxIn1dfQ==",             // {"slots":[{"index":"1"}]}
        "eyJzbG90cyI6W3siY2FtZXJhSUQiOiJ4In1dfQ==",         // {"slots":[{"cameraID":"x"}]}
        "eyJzbG90cyI6W3siaW5kZXgiOjEsImNhbWVyYUlEIjo1fV19", // {"slots":[{"index":1,"cameraID":5}]}
    };
    for (const char* text : cases) EXPECT_EQ(DirectorCameraSlotLayout::decoded(text), empty) << text;
}

} // namespace
} // namespace velk
