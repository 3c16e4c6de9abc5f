// The probe against a real web server.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "probe/site_probe.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using test::NginxServer;

// The status text of one probe that is expected to exchange.
std::string StatusOf(const std::string& url) {
    CSiteProbe probe(url);
    std::string statusText;
    EXPECT_TRUE(probe.GetStatusCode(statusText)) << url;
    return statusText;
}

class ProbeNginxTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<NginxServer>("    location = /gone { return 410; }\n");
    }
    static void TearDownTestSuite() { server_.reset(); }

    static std::unique_ptr<NginxServer> server_;
};

std::unique_ptr<NginxServer> ProbeNginxTest::server_;

TEST_F(ProbeNginxTest, ReadsTheCodeOfEachKindOfAnswer) {
    EXPECT_EQ(StatusOf(server_->Url()), "200");
    EXPECT_EQ(StatusOf(server_->Url("missing")), "404");
    EXPECT_EQ(StatusOf(server_->Url("moved")), "301");  // never followed
    EXPECT_EQ(StatusOf(server_->Url("gone")), "410");
}

TEST_F(ProbeNginxTest, SecureSchemeIsProbedAsPlainHttpOnTheGivenPort) {
    EXPECT_EQ(StatusOf("https://127.0.0.1:" + std::to_string(server_->Port()) + "/"), "200");
}

TEST_F(ProbeNginxTest, RequestReachesTheServerAsTyped) {
    EXPECT_EQ(StatusOf(server_->Url("index.html?probe=1")), "200");
    // nginx logs a request after it has answered: give it a moment.
    const std::string expected = "\"GET /index.html?probe=1 HTTP/1.0\" 200";
    std::string log;
    for (int wait = 0; wait < 500; ++wait) {
        log = test::ReadFileBytes(server_->AccessLog());
        if (log.find(expected) != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(log.find(expected), std::string::npos) << log;
}

TEST(NginxServerTest, ServesItsDocumentRootAndStopsListeningWhenGone) {
    std::string url;
    {
        NginxServer server;
        url = server.Url();
        EXPECT_EQ(StatusOf(url), "200");
    }
    CSiteProbe probe(url);
    std::string statusText;
    EXPECT_FALSE(probe.GetStatusCode(statusText));
}

}  // namespace
}  // namespace orvalin
