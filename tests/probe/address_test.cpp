// How an address turns into host, port and request, how an answer turns into
// a status code, and how a host turns into an endpoint.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "probe/endpoint.h"
#include "probe/site_probe.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

ProbeTarget Split(const std::string& url) {
    ProbeTarget target;
    EXPECT_TRUE(SplitAddress(url, target)) << url;
    return target;
}

std::string Request(const std::string& path) {
    return "GET /" + path + " HTTP/1.0\r\n\r\n";
}

TEST(SplitAddressTest, SchemePrefixesAreRemovedWhereverTheyOccur) {
    const ProbeTarget plain = Split("http://example.test");
    EXPECT_EQ(plain.host, "example.test");
    EXPECT_EQ(plain.port, 80);
    EXPECT_EQ(plain.request, Request(""));

    const ProbeTarget secure = Split("https://example.test/");
    EXPECT_EQ(secure.host, "example.test");
    EXPECT_EQ(secure.port, 80);
    EXPECT_EQ(secure.request, Request(""));

    EXPECT_EQ(Split("example.test/go?to=http://other").request, Request("go?to=other"));
    EXPECT_EQ(Split("example.test/a?b=https://c&d=http://e").request, Request("a?b=c&d=e"));
    // One pass, like a replace-all: what a removal joins up stays.
    EXPECT_EQ(Split("hthttp://tp://example.test").host, "http");
}

TEST(SplitAddressTest, PrefixRemovalIsCaseSensitive) {
    const ProbeTarget upper = Split("HTTP://example.test/");
    EXPECT_EQ(upper.host, "HTTP");
    EXPECT_EQ(upper.port, 0);
    EXPECT_EQ(upper.request, Request("/example.test/"));
}

TEST(SplitAddressTest, PathIsSentAsTyped) {
    EXPECT_EQ(Split("example.test:8080/status?x=1").request, Request("status?x=1"));
    EXPECT_EQ(Split("example.test/a b/%zz#frag").request, Request("a b/%zz#frag"));
    EXPECT_EQ(Split("example.test//twice").request, Request("/twice"));
}

TEST(SplitAddressTest, LeadingSlashMakesTheWholeTextTheHost) {
    const ProbeTarget target = Split("/index.html");
    EXPECT_EQ(target.host, "/index.html");
    EXPECT_EQ(target.port, 80);
    EXPECT_EQ(target.request, Request(""));
}

TEST(SplitAddressTest, PortIsReadLikeAtoiAndKeepsItsLow16Bits) {
    EXPECT_EQ(Split("example.test:8080").port, 8080);
    EXPECT_EQ(Split("example.test:8080/x").host, "example.test");
    EXPECT_EQ(Split("example.test: +8081abc").port, 8081);
    EXPECT_EQ(Split("example.test:abc").port, 0);
    EXPECT_EQ(Split("example.test:").port, 0);
    EXPECT_EQ(Split("example.test:65616").port, 80);  // 65536 + 80
    EXPECT_EQ(Split("example.test:-1").port, 65535);
    EXPECT_EQ(Split("example.test:99999999999").port, static_cast<std::uint16_t>(INT_MAX));
    // Only the first colon separates; the rest belongs to the port text.
    const ProbeTarget twoColons = Split("example.test:81:82");
    EXPECT_EQ(twoColons.host, "example.test");
    EXPECT_EQ(twoColons.port, 81);
}

TEST(SplitAddressTest, ColonInFirstPlaceIsPartOfTheHost) {
    const ProbeTarget target = Split(":8080/x");
    EXPECT_EQ(target.host, ":8080");
    EXPECT_EQ(target.port, 80);
}

TEST(SplitAddressTest, NothingLeftOfTheHostFails) {
    for (const std::string url : {"", "http://", "https://", "http://https://http://"}) {
        ProbeTarget target;
        EXPECT_FALSE(SplitAddress(url, target)) << url;
    }
}

// Parses the bytes of one receive the way the probe does.
std::string Status(const std::string& received, const std::string& before = "unchanged") {
    std::string statusText = before;
    ParseStatusLine(received, statusText);
    return statusText;
}

TEST(ParseStatusLineTest, CodeEndsAtBlankOrLineFeed) {
    EXPECT_EQ(Status("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n"), "200");
    EXPECT_EQ(Status("HTTP/1.0 404 Not Found\r\n"), "404");
    EXPECT_EQ(Status("HTTP/1.1 301\r\nLocation: /\r\n\r\n"), "301");
    EXPECT_EQ(Status("HTTP/1.0 200 OK"), "200");
    EXPECT_EQ(Status("HTTP/1.0 \t200\t \nrest"), "200");
    // The first of the two delimiters counts, whichever it is.
    EXPECT_EQ(Status("HTTP/1.0 200\nX: a b\r\n"), "200");
}

TEST(ParseStatusLineTest, LastReceivedByteIsNeverRead) {
    EXPECT_EQ(Status("HTTP/1.0 200"), "");
    EXPECT_EQ(Status("HTTP/1.0 200\n"), "");
    EXPECT_EQ(Status("HTTP/1.0 200 "), "");
    EXPECT_EQ(Status("HTTP/1.0 200 x"), "200");
    EXPECT_EQ(Status("HTTP/1.0 200\nx"), "200");
}

TEST(ParseStatusLineTest, AnswerEndsAtTheFirstZeroByte) {
    using namespace std::string_literals;
    EXPECT_EQ(Status("HTTP/1.0\0 200 OK\r\n"s), "unchanged");
    EXPECT_EQ(Status("HTTP/1.0 200\0 OK\r\n"s), "");
    EXPECT_EQ(Status("HTTP/1.0 200 \0OK\r\n"s), "200");
}

TEST(ParseStatusLineTest, NoUsableStatusLineLeavesTextUnchanged) {
    EXPECT_EQ(Status(""), "unchanged");
    EXPECT_EQ(Status("x"), "unchanged");
    EXPECT_EQ(Status("HTTP/1.0\r\n\r\n"), "unchanged");
    EXPECT_EQ(Status(" 200 OK\r\n"), "unchanged");
    // The only blank is the last byte, which is not read.
    EXPECT_EQ(Status("HTTP/1.0 "), "unchanged");
}

TEST(ParseStatusLineTest, BlankAfterBlankGivesAnEmptyCode) {
    EXPECT_EQ(Status("HTTP/1.0  200 OK\r\n"), "");
    EXPECT_EQ(Status("HTTP/1.0 \r\n"), "");
}

constexpr std::chrono::seconds kLookupLimit{5};

in_addr_t Address(const char* dotted) {
    return inet_addr(dotted);
}

TEST(ResolveEndpointTest, DottedAddressIsConvertedWithoutLookup) {
    sockaddr_in endpoint{};
    ASSERT_TRUE(ResolveEndpoint("127.0.0.1", 8080, endpoint, kLookupLimit));
    EXPECT_EQ(endpoint.sin_family, AF_INET);
    EXPECT_EQ(endpoint.sin_port, htons(8080));
    EXPECT_EQ(endpoint.sin_addr.s_addr, Address("127.0.0.1"));

    // inet_addr's own reading of short and octal forms.
    ASSERT_TRUE(ResolveEndpoint("127.1", 80, endpoint, kLookupLimit));
    EXPECT_EQ(endpoint.sin_addr.s_addr, Address("127.0.0.1"));
    ASSERT_TRUE(ResolveEndpoint("010.0.0.1", 80, endpoint, kLookupLimit));
    EXPECT_EQ(endpoint.sin_addr.s_addr, Address("8.0.0.1"));
}

TEST(ResolveEndpointTest, TextBeginningWithANumberGivesTheAllOnesAddress) {
    sockaddr_in endpoint{};
    ASSERT_TRUE(ResolveEndpoint("1st.server", 80, endpoint, kLookupLimit));
    EXPECT_EQ(endpoint.sin_addr.s_addr, INADDR_NONE);
    EXPECT_EQ(endpoint.sin_port, htons(80));
}

TEST(ResolveEndpointTest, OtherHostsAreLookedUpByName) {
    sockaddr_in endpoint{};
    ASSERT_TRUE(ResolveEndpoint("localhost", 25, endpoint, kLookupLimit));
    EXPECT_EQ(endpoint.sin_family, AF_INET);
    EXPECT_EQ(endpoint.sin_port, htons(25));
    EXPECT_EQ(endpoint.sin_addr.s_addr, Address("127.0.0.1"));

    // Reads as the number 0, so it is a name lookup, which accepts it.
    ASSERT_TRUE(ResolveEndpoint("0.0.0.0", 80, endpoint, kLookupLimit));
    EXPECT_EQ(endpoint.sin_addr.s_addr, htonl(INADDR_ANY));
}

TEST(ResolveEndpointTest, UnknownOrEmptyNameFails) {
    sockaddr_in endpoint{};
    // An empty label makes the resolver refuse the name itself: no query
    // leaves the machine.
    EXPECT_FALSE(ResolveEndpoint("no..such..host", 80, endpoint, kLookupLimit));
    EXPECT_FALSE(ResolveEndpoint("", 80, endpoint, kLookupLimit));
}

// A name server on 127.0.0.1:53 that takes queries and never answers, seen
// by this test alone: it runs itself again in private network and mount
// namespaces (root only) whose resolv.conf and nsswitch.conf point there.
TEST(NameLookupLimitTest, ASilentNameServerHoldsAProbeForTheConnectLimitOnly) {
    if (std::getenv("ORVALIN_SILENT_RESOLVER") == nullptr) {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "a private name server needs root (network and mount namespaces)";
        }
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        EXPECT_EQ(std::system(("ORVALIN_SILENT_RESOLVER=1 '" + self +
                               "' --gtest_filter=NameLookupLimitTest.*")
                                  .c_str()),
                  0);
        return;
    }
    const test::TempDir dir;
    std::ofstream(dir / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n";
    std::ofstream(dir / "nsswitch.conf") << "hosts: files dns\n";
    ASSERT_EQ(::unshare(CLONE_NEWNS | CLONE_NEWNET), 0) << std::strerror(errno);
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    for (const std::string file : {"resolv.conf", "nsswitch.conf"}) {
        ASSERT_EQ(
            ::mount((dir / file).c_str(), ("/etc/" + file).c_str(), nullptr, MS_BIND, nullptr), 0);
    }
    const int server = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq loopback{};
    std::strcpy(loopback.ifr_name, "lo");
    loopback.ifr_flags = IFF_UP;
    ASSERT_EQ(::ioctl(server, SIOCSIFFLAGS, &loopback), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    for (const ProbeMode mode : {ProbeMode::kClassic, ProbeMode::kModern}) {
        CSiteProbe probe("http://silent-name.test/", mode);
        probe.connectLimit = std::chrono::milliseconds(400);
        std::string statusText;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(probe.GetStatusCode(statusText));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(statusText, "Could not resolve url");
        EXPECT_GE(took, std::chrono::milliseconds(400));
        EXPECT_LT(took, std::chrono::seconds(3));
    }
    pollfd query{server, POLLIN, 0};
    EXPECT_EQ(::poll(&query, 1, 0), 1);  // the time went into waiting for the server
    ::close(server);
}

TEST(LeadingIntTest, ReadsLikeAtoiWithoutOverflow) {
    EXPECT_EQ(LeadingInt("  \t+42x"), 42);
    EXPECT_EQ(LeadingInt("-17"), -17);
    EXPECT_EQ(LeadingInt("abc"), 0);
    EXPECT_EQ(LeadingInt("- 5"), 0);
    EXPECT_EQ(LeadingInt("99999999999999999999"), INT_MAX);
    EXPECT_EQ(LeadingInt("-99999999999999999999"), INT_MIN);
}

}  // namespace
}  // namespace orvalin
