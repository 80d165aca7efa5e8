#include "base/sha256.hpp"

#include <set>

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(Sha256Digest, PublishedVectors) {
    struct Case { std::string input; const char* hex; };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha256::hexOf(c.input), c.hex) << c.input.size();
        EXPECT_EQ(hexLower(Sha256::of(std::span<const std::uint8_t>(
                      reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size()))),
                  c.hex);
    }
}

TEST(Sha256Digest, DataSplitAcrossUpdatesGivesTheSameDigest) {
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (std::size_t split : {0u, 1u, 7u, 55u, 56u}) {
        Sha256 hasher;
        hasher.update(text.substr(0, split));
        hasher.update("");
        hasher.update(text.substr(split));
        EXPECT_EQ(hexLower(hasher.finish()), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1") << split;
    }

    Sha256 million;
    const std::string chunk(999, 'a');
    for (int i = 0; i < 1001; ++i) million.update(chunk);
    million.update(std::string(1'000'000 - 999 * 1001, 'a'));
    EXPECT_EQ(hexLower(million.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Digest, MovedHasherKeepsItsStateAndFinishesOnce) {
    Sha256 first;
    first.update("ab");
    Sha256 second = std::move(first);
    second.update("c");
    EXPECT_EQ(hexLower(second.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_THROW(second.update("more"), std::logic_error);
}

TEST(Sha256Digest, HexTextAndRandomBytes) {
    const std::uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff, 0x5C};
    EXPECT_EQ(hexLower(bytes), "000fa0ff5c");
    EXPECT_EQ(hexLower({}), "");
    EXPECT_TRUE(randomBytes(0).empty());
    EXPECT_EQ(randomBytes(33).size(), 33u);
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) seen.insert(hexLower(randomBytes(16)));
    EXPECT_EQ(seen.size(), 50u);
}

} // namespace
} // namespace velk
