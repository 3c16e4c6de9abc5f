// A machine without a network of its own, for tests run as root: a private
// network namespace with only loopback up.
#pragma once

#include <functional>
#include <string>

namespace orvalin::test {

// Runs scenario on a thread of its own inside a fresh network namespace with
// loopback up; what that thread starts (servers, child processes) shares it,
// the rest of the test program does not. Empty when it ran; otherwise why
// it could not (not root, no namespaces), for a skip message.
std::string InNamespaceWithoutNetwork(const std::function<void()>& scenario);

// Inside such a namespace: a default route through loopback, so that every
// address has a route and the machine "has a network". False when refused.
bool AddDefaultRouteThroughLoopback();

}  // namespace orvalin::test
