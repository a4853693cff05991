// One round trip against a peer the project did not write: python3-hl7's
// asyncio MLLP server reads our message and answers with its own ACK.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "LisTestSupport.h"
#include "lis/Hl7Ack.h"
#include "lis/Hl7Message.h"
#include "lis/Mllp.h"

namespace kyvo::lis {
namespace {

using namespace std::chrono_literals;

TEST(MllpPythonPeer, Python3Hl7ServerReadsTheMessageAndItsAckIsRead) {
    const std::string python = KYVO_PYTHON3;
    if (python.find("NOTFOUND") != std::string::npos || access(python.c_str(), X_OK) != 0)
        GTEST_SKIP() << "python3 is missing";
    const std::string cmd =
        "'" + python + "' '" + std::string(KYVO_LIS_SOURCE_DIR) + "/tests/mllp_peer.py'";
    FILE* peer = popen(cmd.c_str(), "r");
    ASSERT_NE(peer, nullptr);
    char line[4096] = {};
    const bool gotPort = std::fgets(line, sizeof line, peer) != nullptr;
    const int port = gotPort ? std::atoi(line) : 0;
    if (port <= 0) {
        const int status = pclose(peer);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
            GTEST_SKIP() << "python3-hl7 is missing";
        FAIL() << "the peer did not start: " << line;
    }

    test::BerlinTime tz;
    TMeasureSet set;
    set.TestID = "12 3 1 7 1807 0042 34082560";
    set.TestName = "CRP quantitative";
    set.DateTime = test::Date(2026, 12, 2, 8, 15, 0);
    set.UserComment = "Pat. \"Müller\" | re-test ^ 2 & more ~ µg ß °C";
    set.ResultList = {test::Row("CRP", "7.25", "mg/l")};
    TLisMeasurement m;
    m.Set = &set;
    m.MeasurementId = 77;
    TMllpClient client;
    const TMllpResult c = client.Connect({"127.0.0.1", static_cast<std::uint16_t>(port)}, 5000ms);
    TMllpResult x;
    if (c.Outcome == EMllpOutcome::Answered)
        x = client.Exchange(BuildOruR01(m, {}, {}, test::SendTime()), 10000ms);
    client.Close();
    std::string report;
    while (std::fgets(line, sizeof line, peer)) report += line;
    pclose(peer);

    ASSERT_EQ(c.Outcome, EMllpOutcome::Answered) << c.Detail;
    ASSERT_EQ(x.Outcome, EMllpOutcome::Answered) << x.Detail << "\n" << report;
    const TAckParse ack = ParseAck(x.Reply);
    ASSERT_TRUE(ack.Ack) << ack.Error << ": " << x.Reply;
    EXPECT_EQ(ack.Ack->Code, EAckCode::AA);
    EXPECT_EQ(ack.Ack->AckedControlId, "KDR-77-1");
    EXPECT_EQ(ack.Ack->ControlId, "PEER-1");
    // What the peer read, as its JSON line.
    EXPECT_NE(report.find("\"control_id\": \"KDR-77-1\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"type\": \"ORU^R01^ORU_R01\""), std::string::npos) << report;
    EXPECT_NE(report.find(R"("comment": "Pat. \"Müller\" | re-test ^ 2 & more ~ µg ß °C")"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\"value\": \"7.25\""), std::string::npos) << report;
}

}  // namespace
}  // namespace kyvo::lis
