// The modern probe: how it reads an address, the request it sends, and HTTPS
// against real nginx servers with certificates from a test CA.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "probe/endpoint.h"
#include "probe/modern_address.h"
#include "probe/site_probe.h"
#include "resources/strings.h"
#include "support/loopback_server.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using test::LoopbackServer;
using test::NginxOptions;
using test::NginxServer;
using test::ServerScript;

constexpr const char* kHeaders =
    "User-Agent: Orvalin/1.7.3\r\nAccept: */*\r\nConnection: close\r\n\r\n";

ProbeTarget SplitModern(const std::string& url) {
    ProbeTarget target;
    EXPECT_TRUE(SplitModernAddress(url, target)) << url;
    return target;
}

TEST(ModernAddressTest, SchemeChoosesTlsAndTheDefaultPort) {
    const ProbeTarget secure = SplitModern("https://example.test/a/b?c=d#top");
    EXPECT_TRUE(secure.secure);
    EXPECT_EQ(secure.host, "example.test");
    EXPECT_EQ(secure.port, 443);
    EXPECT_EQ(secure.request,
              std::string("GET /a/b?c=d HTTP/1.1\r\nHost: example.test\r\n") + kHeaders);

    const ProbeTarget plain = SplitModern("HTTP://example.test:8080");
    EXPECT_FALSE(plain.secure);
    EXPECT_EQ(plain.port, 8080);
    EXPECT_EQ(plain.request,
              std::string("GET / HTTP/1.1\r\nHost: example.test:8080\r\n") + kHeaders);

    const ProbeTarget bare = SplitModern("user:secret@example.test?q=1");
    EXPECT_FALSE(bare.secure);
    EXPECT_EQ(bare.host, "example.test");
    EXPECT_EQ(bare.port, 80);
    EXPECT_TRUE(bare.request.starts_with("GET /?q=1 HTTP/1.1\r\nHost: example.test\r\n"));
    // The default port of the scheme is not written into Host.
    EXPECT_TRUE(SplitModern("https://example.test:443/").request.find("Host: example.test\r\n") !=
                std::string::npos);
}

TEST(ModernAddressTest, Ipv6LiteralsAndUnsafePathBytes) {
    const ProbeTarget v6 = SplitModern("https://[2001:db8::1]:8443/x y\x7f\xc3\xa9");
    EXPECT_EQ(v6.host, "2001:db8::1");
    EXPECT_EQ(v6.port, 8443);
    EXPECT_TRUE(
        v6.request.starts_with("GET /x%20y%7F%C3%A9 HTTP/1.1\r\nHost: [2001:db8::1]:8443\r\n"))
        << v6.request;
    EXPECT_EQ(SplitModern("[::1]").host, "::1");
    EXPECT_EQ(SplitModern("::1").host, "::1");

    // An IPv6 address becomes an IPv6 endpoint without any lookup on the network.
    const auto addresses = ResolveAllAddresses("::1", 8443, 5s);
    ASSERT_EQ(addresses.size(), 1u);
    EXPECT_EQ(addresses[0].Family(), AF_INET6);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in6*>(addresses[0].Get())->sin6_port), 8443);
}

TEST(ModernAddressTest, RefusesWhatCannotBeAUrl) {
    for (const std::string url :
         {"", "https://", "http:///path", "example.test:0/", "example.test:65536",
          "example.test:8o", "ftp://example.test/", "[::1", "[nonsense]:80", "exa\rmple.test"}) {
        ProbeTarget target;
        EXPECT_FALSE(SplitModernAddress(url, target)) << url;
    }
}

TEST(ModernProbeTest, SendsAnHttp11RequestWithHost) {
    LoopbackServer server(ServerScript::Answer("HTTP/1.1 204 No Content\r\n\r\n"));
    CSiteProbe probe("http://" + server.HostAndPort() + "/status?x=1", ProbeMode::kModern);
    std::string statusText;
    EXPECT_TRUE(probe.GetStatusCode(statusText));
    EXPECT_EQ(statusText, "204");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0],
              "GET /status?x=1 HTTP/1.1\r\nHost: " + server.HostAndPort() + "\r\n" + kHeaders);

    // The mode is read at each exchange.
    probe.mode = ProbeModeFromSetting(0);
    EXPECT_TRUE(probe.GetStatusCode(statusText));
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[1], "GET /status?x=1 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ProbeModeFromSetting(1), ProbeMode::kModern);
    EXPECT_EQ(ProbeModeFromSetting(2), ProbeMode::kClassic);
}

TEST(ModernProbeTest, AHandshakeThatNeverEndsFailsAtTheConnectLimit) {
    auto server =
        std::make_unique<LoopbackServer>(ServerScript::Only(ServerScript::Action::kStaySilent));
    CSiteProbe probe("https://" + server->HostAndPort() + "/", ProbeMode::kModern);
    probe.connectLimit = 300ms;
    std::string statusText;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(probe.GetStatusCode(statusText));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(statusText, "TLS: the handshake did not finish in time");
}

// Real nginx servers: one per certificate, and a plain one with a virtual host.
class ModernProbeNginxTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ca_ = std::make_unique<test::TestCa>();
        const auto good = ca_->Issue("localhost", {"localhost"}, {"127.0.0.1"});
        const auto expired = ca_->Issue("localhost", {"localhost"}, {"127.0.0.1"}, true);
        const auto elsewhere = ca_->Issue("other.test", {"other.test"}, {});
        good_ = std::make_unique<NginxServer>(NginxOptions{
            .extraLocations = "    location = /sni { if ($ssl_server_name = localhost) "
                              "{ return 200; } return 421; }\n",
            .certificate = good.certificate,
            .key = good.key});
        expired_ = std::make_unique<NginxServer>(
            NginxOptions{.certificate = expired.certificate, .key = expired.key});
        elsewhere_ = std::make_unique<NginxServer>(
            NginxOptions{.certificate = elsewhere.certificate, .key = elsewhere.key});
        virtualHost_ = std::make_unique<NginxServer>(NginxOptions{.serverName = "127.0.0.1"});
    }
    static void TearDownTestSuite() {
        good_.reset();
        expired_.reset();
        elsewhere_.reset();
        virtualHost_.reset();
        ca_.reset();
    }

    static std::string Https(const std::string& host, const NginxServer& server,
                             const std::string& path = "") {
        return "https://" + host + ":" + std::to_string(server.Port()) + "/" + path;
    }

    // The result and status text of one modern probe.
    static std::pair<bool, std::string> Probe(const std::string& url,
                                              ProbeMode mode = ProbeMode::kModern) {
        CSiteProbe probe(url, mode);
        std::string statusText;
        const bool exchanged = probe.GetStatusCode(statusText);
        return {exchanged, statusText};
    }

    test::ScopedEnv trust_{"SSL_CERT_FILE", ca_->CaFile().string()};

    static std::unique_ptr<test::TestCa> ca_;
    static std::unique_ptr<NginxServer> good_;
    static std::unique_ptr<NginxServer> expired_;
    static std::unique_ptr<NginxServer> elsewhere_;
    static std::unique_ptr<NginxServer> virtualHost_;
};

std::unique_ptr<test::TestCa> ModernProbeNginxTest::ca_;
std::unique_ptr<NginxServer> ModernProbeNginxTest::good_;
std::unique_ptr<NginxServer> ModernProbeNginxTest::expired_;
std::unique_ptr<NginxServer> ModernProbeNginxTest::elsewhere_;
std::unique_ptr<NginxServer> ModernProbeNginxTest::virtualHost_;

using Result = std::pair<bool, std::string>;

TEST_F(ModernProbeNginxTest, ATrustedCertificateGivesTheAnswer) {
    EXPECT_EQ(Probe(Https("127.0.0.1", *good_)), Result(true, "200"));
    EXPECT_EQ(Probe(Https("localhost", *good_, "missing")), Result(true, "404"));
    EXPECT_EQ(Probe(Https("localhost", *good_, "moved")), Result(true, "301"));  // not followed
    // The server learnt the name through SNI.
    EXPECT_EQ(Probe(Https("localhost", *good_, "sni")), Result(true, "200"));
}

TEST_F(ModernProbeNginxTest, ACertificateThatFailsIsAFailureNamingTheCause) {
    EXPECT_EQ(Probe(Https("127.0.0.1", *expired_)), Result(false, "TLS: certificate has expired"));
    EXPECT_EQ(Probe(Https("localhost", *elsewhere_)), Result(false, "TLS: hostname mismatch"));
    EXPECT_EQ(Probe(Https("127.0.0.1", *elsewhere_)), Result(false, "TLS: IP address mismatch"));

    test::TempDir other;
    test::ScopedEnv untrusted("SSL_CERT_FILE", (other / "none.pem").string());
    EXPECT_EQ(Probe(Https("127.0.0.1", *good_)),
              Result(false, "TLS: unable to get local issuer certificate"));
}

TEST_F(ModernProbeNginxTest, TheHostHeaderReachesTheVirtualHost) {
    const std::string url = "http://127.0.0.1:" + std::to_string(virtualHost_->Port()) + "/";
    EXPECT_EQ(Probe(url), Result(true, "200"));
    // The classic request names no host and lands on the default server.
    EXPECT_EQ(Probe(url, ProbeMode::kClassic), Result(true, "421"));
}

}  // namespace
}  // namespace orvalin
