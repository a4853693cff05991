// MLLP inside TLS against a TLS LIS of the tests' own (OpenSSL on
// 127.0.0.1), with certificates made for the test by the openssl program: a
// test authority, a server certificate for "lis.test" signed by it, and a
// second authority that signed nothing of it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "LisTestSupport.h"
#include "TestLis.h"
#include "TlsTestSupport.h"
#include "lis/Hl7Ack.h"
#include "lis/Mllp.h"

namespace kyvo::lis {
namespace {

using namespace std::chrono_literals;
using test::Certificates;
using test::TlsLis;

const std::string kMessage =
    "MSH|^~\\&|KyvoDataReader||||20261211140000+0100||ORU^R01^ORU_R01|KDR-5-1|P|2.5.1\r";

TEST(MllpTls, MessageAndAcknowledgementTravelInsideTls) {
    Certificates certs;
    if (!certs.Ok()) GTEST_SKIP() << "the openssl program is missing or failed";
    TlsLis lis(certs);
    TMllpClient client;
    const TMllpResult c = client.Connect(
        {"127.0.0.1", lis.Port(), TMllpTls{certs.Path("ca.pem"), "lis.test", {}, {}}}, 5000ms);
    ASSERT_EQ(c.Outcome, EMllpOutcome::Answered) << c.Detail;
    const TMllpResult x = client.Exchange(kMessage, 5000ms);
    ASSERT_EQ(x.Outcome, EMllpOutcome::Answered) << x.Detail;
    const TAckParse ack = ParseAck(x.Reply);
    ASSERT_TRUE(ack.Ack) << ack.Error;
    EXPECT_EQ(ack.Ack->AckedControlId, "KDR-5-1");
    client.Close();
    EXPECT_EQ(lis.Received(), kMessage);
}

TEST(MllpTls, CertificatesThatDoNotProveTheServerAreRefused) {
    Certificates certs;
    if (!certs.Ok()) GTEST_SKIP() << "the openssl program is missing or failed";
    const struct {
        const char* name;
        TMllpTls tls;
        const char* detail;
    } cases[] = {
        {"another name", {certs.Path("ca.pem"), "other.test", {}, {}}, "hostname mismatch"},
        {"the address instead of the name", {certs.Path("ca.pem"), "", {}, {}}, "mismatch"},
        {"another authority",
         {certs.Path("other.pem"), "lis.test", {}, {}},
         "local issuer certificate"},
        {"no CA file", {certs.Path("missing.pem"), "lis.test", {}, {}}, "CA file"},
    };
    for (const auto& c : cases) {
        TlsLis lis(certs);
        TMllpClient client;
        const TMllpResult r = client.Connect({"127.0.0.1", lis.Port(), c.tls}, 5000ms);
        EXPECT_EQ(r.Outcome, EMllpOutcome::Failed) << c.name << ": " << r.Detail;
        EXPECT_NE(r.Detail.find(c.detail), std::string::npos) << c.name << ": " << r.Detail;
        EXPECT_FALSE(client.Connected()) << c.name;
    }
}

TEST(MllpTls, PlainServerDoesNotPassForTls) {
    Certificates certs;
    if (!certs.Ok()) GTEST_SKIP() << "the openssl program is missing or failed";
    test::TestLis lis(test::TestLis::EBehaviour::Ack);
    TMllpClient client;
    const TMllpResult r = client.Connect(
        {"127.0.0.1", lis.Port(), TMllpTls{certs.Path("ca.pem"), "lis.test", {}, {}}}, 1000ms);
    EXPECT_NE(r.Outcome, EMllpOutcome::Answered) << r.Detail;
    EXPECT_FALSE(client.Connected());
}

}  // namespace
}  // namespace kyvo::lis
