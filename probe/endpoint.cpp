#include "probe/endpoint.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace orvalin {
namespace {

struct AnswerDeleter {
    void operator()(addrinfo* answer) const { freeaddrinfo(answer); }
};
using LookupAnswer = std::unique_ptr<addrinfo, AnswerDeleter>;

LookupAnswer CallGetaddrinfo(const std::string& host, const std::string& service,
                             const addrinfo& hints) {
    addrinfo* found = nullptr;
    const int result =
        getaddrinfo(host.c_str(), service.empty() ? nullptr : service.c_str(), &hints, &found);
    return LookupAnswer(result == 0 ? found : nullptr);
}

// What the lookup thread and the caller share; whichever lets go last frees it,
// and with it the answer.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    LookupAnswer answer;
};

// getaddrinfo within limit. Numeric hosts are answered on this thread at once.
LookupAnswer LookUp(const std::string& host, const std::string& service, const addrinfo& hints,
                    std::chrono::milliseconds limit) {
    if (host.empty()) {
        return {};
    }
    addrinfo numeric = hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    if (LookupAnswer answer = CallGetaddrinfo(host, service, numeric)) {
        return answer;
    }
    auto pending = std::make_shared<PendingLookup>();
    try {
        std::thread([pending, host, service, hints] {
            LookupAnswer answer = CallGetaddrinfo(host, service, hints);
            std::lock_guard lock(pending->mutex);
            pending->answer = std::move(answer);
            pending->finished = true;
            pending->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: look up here, with the resolver's own limits.
        return CallGetaddrinfo(host, service, hints);
    }
    std::unique_lock lock(pending->mutex);
    if (!pending->done.wait_for(lock, limit, [&] { return pending->finished; })) {
        return {};
    }
    return std::move(pending->answer);
}

}  // namespace

int LeadingInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(value);
}

bool ResolveEndpoint(const std::string& host, std::uint16_t port, sockaddr_in& endpoint,
                     std::chrono::milliseconds limit) {
    std::memset(&endpoint, 0, sizeof endpoint);
    if (LeadingInt(host) != 0) {
        // Taken as a dotted address whatever follows; inet_addr's answer for
        // an invalid text (all ones) is used as it is.
        endpoint.sin_addr.s_addr = inet_addr(host.c_str());
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        const LookupAnswer found = LookUp(host, {}, hints, limit);
        if (!found) {
            return false;
        }
        endpoint.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    }
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    return true;
}

std::vector<SocketAddress> ResolveAllAddresses(const std::string& host, std::uint16_t port,
                                               std::chrono::milliseconds limit) {
    std::vector<SocketAddress> addresses;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    const LookupAnswer found = LookUp(host, std::to_string(port), hints, limit);
    for (const addrinfo* entry = found.get(); entry != nullptr; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        SocketAddress address;
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        addresses.push_back(address);
    }
    return addresses;
}

}  // namespace orvalin
