#include <gtest/gtest.h>

#include "discovery/preview_decoding.hpp"

namespace velk {
namespace {

std::optional<PreviewCapabilities> capabilities(const char* text) {
    Json value = Json::parse(text);
    return decodePreviewCapabilities(&value);
}

std::optional<PreviewTransportStatus> transport(const char* text) {
    Json value = Json::parse(text);
    return decodePreviewTransport(&value);
}

std::optional<PreviewGeometry> geometry(const char* text) {
    Json value = Json::parse(text);
    return decodePreviewGeometry(&value);
}

TEST(PreviewCapabilitiesDecoding, VersionIsReadLoosely) {
    EXPECT_TRUE(capabilities(R"({"v":true})"));
    EXPECT_TRUE(capabilities(R"({"v":1.9})"));
    EXPECT_FALSE(capabilities(R"({"v":2})"));
    EXPECT_FALSE(capabilities(R"({"v":"1"})"));
    EXPECT_FALSE(capabilities(R"([1])"));
    EXPECT_FALSE(decodePreviewCapabilities(nullptr));
    EXPECT_EQ(capabilities(R"({"v":1})")->version, 1);
}

TEST(PreviewCapabilitiesDecoding, StringSetsAreLowerCasedAndAllOrNothing) {
    EXPECT_EQ(capabilities(R"({"v":1,"codecs":["H264","JPEG"]})")->codecs, (std::set<std::string>{"h264", "jpeg"}));
    EXPECT_TRUE(capabilities(R"({"v":1,"codecs":["h264",5]})")->codecs.empty());
    EXPECT_TRUE(capabilities(R"({"v":1,"codecs":"h264"})")->codecs.empty());
}

TEST(PreviewCapabilitiesDecoding, IntegerSetsCutFractionsAndReadBooleans) {
    EXPECT_EQ(capabilities(R"({"v":1,"requestModes":[1,2.7,true]})")->requestModes, (std::set<std::int64_t>{1, 2}));
    EXPECT_TRUE(capabilities(R"({"v":1,"requestModes":[1,"2"]})")->requestModes.empty());
}

TEST(PreviewCapabilitiesDecoding, LinkGivesBandAndRate) {
    auto none = capabilities(R"({"v":1})");
    EXPECT_FALSE(none->wifiBandGHz);
    EXPECT_FALSE(none->usableMbps);
    auto stringBand = capabilities(R"({"v":1,"link":{"bandGHz":"5","usableMbps":40}})");
    EXPECT_FALSE(stringBand->wifiBandGHz);
    EXPECT_EQ(stringBand->usableMbps, 40.0);
    EXPECT_EQ(capabilities(R"({"v":1,"link":{"bandGHz":5.0}})")->wifiBandGHz, 5.0);
}

TEST(PreviewTransportDecoding, NeedsCodecPolicyOrModes) {
    EXPECT_FALSE(transport(R"({"encodeCounters":{"a":1}})"));
    auto modesOnly = transport(R"({"modes":[3]})");
    ASSERT_TRUE(modesOnly);
    EXPECT_EQ(modesOnly->modes, (std::set<std::int64_t>{3}));
    EXPECT_EQ(transport(R"({"codec":"JPEG"})")->codec, "JPEG");
    EXPECT_EQ(transport(R"({"policy":"balanced"})")->policy, "balanced");
}

TEST(PreviewTransportDecoding, EncodeCountersSkipNonNumbers) {
    auto status = transport(R"({"codec":"h264","encodeCounters":{"a":3,"b":"x","c":2.5}})");
    EXPECT_EQ(status->encodeCounters, (std::set<std::string>{"a=3", "c=2"}));
}

TEST(PreviewTransportDecoding, FlagsAreStrictBooleans) {
    auto numbers = transport(R"({"codec":"h264","capacityMeasured":1,"fullStream4K":1})");
    EXPECT_FALSE(numbers->capacityMeasured);
    EXPECT_FALSE(numbers->fullStream4K);
    auto booleans = transport(R"({"codec":"h264","capacityMeasured":true,"fullStream4K":false})");
    EXPECT_TRUE(booleans->capacityMeasured);
    EXPECT_EQ(booleans->fullStream4K, false);
}

TEST(PreviewTransportDecoding, CountsAndTexts) {
    auto status = transport(R"({"codec":"h264","wallTargetFps":15.9,"selectedTargetFps":true,"connections":"2",
        "deliveryLimitedClients":1,"pendingEncodeJobs":0,"thermalLevel":"nominal","band":5})");
    EXPECT_EQ(status->wallTargetFPS, 15);
    EXPECT_EQ(status->selectedTargetFPS, 1);
    EXPECT_FALSE(status->connections);
    EXPECT_EQ(status->deliveryLimitedClients, 1);
    EXPECT_EQ(status->pendingEncodeJobs, 0);
    EXPECT_EQ(status->thermalLevel, "nominal");
    EXPECT_FALSE(status->band);
}

TEST(PreviewGeometryDecoding, Cases) {
    EXPECT_EQ(geometry(R"({"v":1,"rotationDegrees":90,"pixelsOriented":false})"), (PreviewGeometry{90, false}));
    EXPECT_FALSE(geometry(R"({"v":1,"rotationDegrees":90,"pixelsOriented":true})"));
    EXPECT_EQ(geometry(R"({"v":1,"rotationDegrees":0,"pixelsOriented":true})"), (PreviewGeometry{0, true}));
    EXPECT_FALSE(geometry(R"({"v":1,"rotationDegrees":45,"pixelsOriented":false})"));
    EXPECT_FALSE(geometry(R"({"v":1,"rotationDegrees":360,"pixelsOriented":false})"));
    EXPECT_FALSE(geometry(R"({"v":1,"rotationDegrees":90.5,"pixelsOriented":false})"));
    EXPECT_FALSE(geometry(R"({"v":1,"rotationDegrees":90})"));
    EXPECT_FALSE(geometry(R"({"v":true,"rotationDegrees":90,"pixelsOriented":false})"));
    EXPECT_EQ(geometry(R"({"v":1,"rotationDegrees":90.0,"pixelsOriented":false})"), (PreviewGeometry{90, false}));
}

} // namespace
} // namespace velk
