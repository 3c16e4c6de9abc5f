// Whether the machine's own network reaches a site, asked of the kernel in a
// private network namespace: with loopback alone, then with a default route.
#include <gtest/gtest.h>

#include "probe/route_check.h"
#include "support/network_namespace.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

TEST(RouteCheck, WithoutANetworkOnlySitesOnThisMachineAreReachedUntilThereIsARoute) {
    const std::string problem = InNamespaceWithoutNetwork([] {
        EXPECT_FALSE(HasDefaultRoute());
        for (const char* here : {"http://127.0.0.1:8080/", "127.1.2.3/status", "localhost:81",
                                 "https://[::1]/", "http://LocalHost./"}) {
            EXPECT_EQ(ReachOfSite(here), SiteReach::kOnThisMachine) << here;
        }
        for (const char* elsewhere :
             {"http://192.0.2.1/", "https://[2001:db8::1]:8443/", "http://name.invalid/"}) {
            EXPECT_EQ(ReachOfSite(elsewhere, 2s), SiteReach::kNoNetwork) << elsewhere;
        }

        // A default route makes a network: an address is reached, and a
        // name that cannot be looked up is the name's fault, not the network's.
        ASSERT_TRUE(AddDefaultRouteThroughLoopback());
        EXPECT_TRUE(HasDefaultRoute());
        EXPECT_EQ(ReachOfSite("http://192.0.2.1/"), SiteReach::kRouted);
        EXPECT_EQ(ReachOfSite("http://name.invalid/", 2s), SiteReach::kRouted);
    });
    if (!problem.empty()) {
        GTEST_SKIP() << "not tested: " << problem;
    }
}

}  // namespace
}  // namespace orvalin::test
