#include <gtest/gtest.h>

#include "discovery/transfer_mode_request.hpp"

namespace velk {
namespace {

const std::string collector = "0b1c2d3e-4f50-4a6b-8c7d-8e9fa0b1c2d3";

TEST(TransferModeCollectorName, WhiteSpaceCollapsesAndLengthIsCut) {
    EXPECT_EQ(cleanedCollectorName("  \n \t "), "");
    EXPECT_EQ(cleanedCollectorName("  Studio \n  Mac  "), "Studio Mac");
    EXPECT_EQ(cleanedCollectorName(std::string(40, 'a')), std::string(32, 'a'));
    // Characters, not bytes: 33 accented letters keep 32.
    std::string accented;
    for (int i = 0; i < 33; ++i) accented += "\xC3\xA9";
    EXPECT_EQ(cleanedCollectorName(accented), accented.substr(0, 64));
}

TEST(TransferModeRequestData, BuildsTheCommand) {
    auto data = transferModeRequestData(collector, "cam-1", "REQ-1", "Studio Mac", 1700000000123);
    ASSERT_TRUE(data);
    Json packet = Json::parse(*data);
    EXPECT_EQ(packet["v"], 1);
    EXPECT_EQ(packet["type"], "command");
    EXPECT_EQ(packet["sender"], collector);
    EXPECT_EQ(packet["sentMs"], 1700000000123);
    EXPECT_EQ(packet["payload"]["action"], "REQUEST_TRANSFER_MODE");
    EXPECT_EQ(packet["payload"]["target"], "cam-1");
    EXPECT_EQ(packet["payload"]["requestId"], "REQ-1");
    EXPECT_EQ(packet["payload"]["collectorName"], "Studio Mac");
}

TEST(TransferModeRequestData, RefusesBadFields) {
    EXPECT_FALSE(transferModeRequestData("not-a-uuid", "cam", "r", "Mac", 0));
    EXPECT_TRUE(transferModeRequestData("0B1C2D3E-4F50-4A6B-8C7D-8E9FA0B1C2D3", "cam", "r", "Mac", 0));
    EXPECT_FALSE(transferModeRequestData(collector, "", "r", "Mac", 0));
    EXPECT_FALSE(transferModeRequestData(collector, std::string(129, 'c'), "r", "Mac", 0));
    EXPECT_FALSE(transferModeRequestData(collector, "cam", std::string(65, 'r'), "Mac", 0));
    EXPECT_FALSE(transferModeRequestData(collector, "cam", "r", "", 0));
    EXPECT_FALSE(transferModeRequestData(collector, "cam", "r", std::string(33, 'm'), 0));
}

TEST(TransferModeResponse, DecodingRules) {
    struct Case {
        const char* name;
        const char* datagram;
        bool accepted;
    };
    const Case cases[] = {
        {"Pending", R"({"v":1,"type":"command","sender":"cam","payload":{"action":"TRANSFER_MODE_PENDING","requestId":"r"}})", true},
        {"AckCapitalType", R"({"v":1,"type":"COMMAND","sender":"cam","payload":{"action":"TRANSFER_MODE_ACK","requestId":"r"}})", true},
        {"LowerCaseAction", R"({"v":1,"type":"command","sender":"cam","payload":{"action":"transfer_mode_ack","requestId":"r"}})", false},
        {"OtherAction", R"({"v":1,"type":"command","sender":"cam","payload":{"action":"STOP_ACK","requestId":"r"}})", false},
        {"NoVersion", R"({"type":"command","sender":"cam","payload":{"action":"TRANSFER_MODE_ACK","requestId":"r"}})", false},
        {"EmptySender", R"({"v":1,"type":"command","sender":"","payload":{"action":"TRANSFER_MODE_ACK","requestId":"r"}})", false},
        {"LongRequestId", R"({"v":1,"type":"command","sender":"cam","payload":{"action":"TRANSFER_MODE_ACK","requestId":"rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrr"}})", false},
        {"NoRequestId", R"({"v":1,"type":"command","sender":"cam","payload":{"action":"TRANSFER_MODE_ACK"}})", false},
    };
    for (const Case& c : cases) EXPECT_EQ(decodeTransferModeResponse(c.datagram).has_value(), c.accepted) << c.name;
}

class PendingTransferRequestsTest : public testing::Test {
protected:
    void SetUp() override { requests.remember("REQ", {"cam", "Front", "10.77.0.11", collector}); }
    std::optional<TransferModeRequestState> reply(const char* payload, const std::string& sender = "cam",
                                                  const std::string& host = "10.77.0.11") {
        return requests.handleResponse(sender, host, Json::parse(payload));
    }
    PendingTransferRequests requests;
};

TEST_F(PendingTransferRequestsTest, PendingThenAccepted) {
    auto pending = reply(R"({"action":"TRANSFER_MODE_PENDING","requestId":"REQ"})");
    ASSERT_TRUE(pending);
    EXPECT_EQ(pending->message, "Approve the request on Front within 30 seconds.");
    EXPECT_FALSE(pending->isFailure);
    EXPECT_TRUE(requests.contains("REQ"));
    auto accepted = reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ","accepted":true,"error":"ignored"})");
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->message, "Approved \xE2\x80\x94 waiting for secure Transfer Mode.");
    EXPECT_FALSE(accepted->isFailure);
    EXPECT_EQ(accepted->cameraID, "cam");
    EXPECT_EQ(accepted->cameraName, "Front");
    EXPECT_FALSE(requests.contains("REQ"));
    EXPECT_FALSE(reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ","accepted":true})")) << "second ack";
    EXPECT_FALSE(reply(R"({"action":"TRANSFER_MODE_PENDING","requestId":"REQ"})")) << "pending after ack";
}

TEST_F(PendingTransferRequestsTest, DeclinedWithAndWithoutError) {
    auto declined = reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ","accepted":1})");
    ASSERT_TRUE(declined);
    EXPECT_EQ(declined->message, "Transfer Mode was declined.");
    EXPECT_TRUE(declined->isFailure);
    requests.remember("REQ2", {"cam", "Front", "10.77.0.11", collector});
    auto withError = reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ2","accepted":"true","error":"Busy recording"})");
    ASSERT_TRUE(withError);
    EXPECT_EQ(withError->message, "Busy recording");
    EXPECT_TRUE(withError->isFailure);
}

TEST_F(PendingTransferRequestsTest, MismatchesAreIgnored) {
    EXPECT_FALSE(reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ","accepted":true})", "cam", "10.77.0.12"));
    EXPECT_FALSE(reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ","accepted":true})", "other"));
    EXPECT_FALSE(reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ","accepted":true,"target":"someone-else"})"));
    EXPECT_FALSE(reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"UNKNOWN","accepted":true})"));
    EXPECT_TRUE(requests.contains("REQ"));
    EXPECT_TRUE(reply(R"({"action":"TRANSFER_MODE_ACK","requestId":"REQ","accepted":true,"target":5})"))
        << "a target that is no string passes";
}

TEST(TransferModeTexts, Literal) {
    EXPECT_EQ(TransferModeText::requestSent("Front"), "Request sent \xE2\x80\x94 approve on Front within 30 seconds.");
    EXPECT_EQ(TransferModeText::expired("Front"), "Request expired \xE2\x80\x94 ask Front again.");
    EXPECT_EQ(TransferModeText::couldNotReach("Front"), "The transfer request could not reach Front.");
}

} // namespace
} // namespace velk
