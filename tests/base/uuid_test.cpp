#include "base/uuid.hpp"

#include <set>

#include <gtest/gtest.h>

namespace velk::uuid {
namespace {

TEST(UuidParse, StrictTextFormInEitherCase) {
    const std::pair<const char*, bool> cases[] = {
        {"123e4567-e89b-42d3-a456-426614174000", true}, {"123E4567-E89B-42D3-A456-426614174000", true},
        {"123e4567-E89B-42d3-A456-426614174000", true}, {"00000000-0000-0000-0000-000000000000", true},
        {"", false}, {"123e4567e89b42d3a456426614174000", false} /* no hyphens */,
        {"{123e4567-e89b-42d3-a456-426614174000}", false}, {"123e4567-e89b-42d3-a456-42661417400", false} /* 35 */,
        {"123e4567-e89b-42d3-a456-4266141740000", false} /* 37 */, {"123e4567-e89b-42d3-a456_426614174000", false},
        {"123e4567-e89b42-d3-a456-426614174000", false}, {"123e4567-e89b-42d3-a456-42661417400g", false},
        {" 23e4567-e89b-42d3-a456-426614174000", false}, {"+23e4567-e89b-42d3-a456-426614174000", false},
        {"urn:uuid:123e4567-e89b-42d3-a456-4266", false}};
    for (const auto& [text, valid] : cases) EXPECT_EQ(isValid(text), valid) << text;

    auto bytes = parse("123E4567-e89b-42d3-A456-426614174000");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, (Bytes{0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x42, 0xd3, 0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00}));
    EXPECT_EQ(lowercaseText(*bytes), "123e4567-e89b-42d3-a456-426614174000");
    EXPECT_EQ(uppercaseText(*bytes), "123E4567-E89B-42D3-A456-426614174000");
}

TEST(UuidRandom, VersionFourWithVariantBitsAndNoRepeats) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        Bytes bytes = random();
        EXPECT_EQ(bytes[6] >> 4, 4);
        EXPECT_EQ(bytes[8] & 0xC0, 0x80);
        seen.insert(lowercaseText(bytes));
    }
    EXPECT_EQ(seen.size(), 200u);

    std::string lower = newLowercase();
    std::string upper = newUppercase();
    EXPECT_TRUE(isValid(lower));
    EXPECT_TRUE(isValid(upper));
    EXPECT_EQ(lower[14], '4');
    EXPECT_EQ(upper[14], '4');
    EXPECT_EQ(lower.find_first_of("ABCDEF"), std::string::npos);
    EXPECT_EQ(upper.find_first_of("abcdef"), std::string::npos);
}

} // namespace
} // namespace velk::uuid
