#include "support/network_namespace.h"

#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace orvalin::test {
namespace {

class Socket {
  public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

bool LoopbackUp() {
    Socket s;
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (s.fd() < 0 || ::ioctl(s.fd(), SIOCGIFFLAGS, &request) != 0) {
        return false;
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    return ::ioctl(s.fd(), SIOCSIFFLAGS, &request) == 0;
}

}  // namespace

std::string InNamespaceWithoutNetwork(const std::function<void()>& scenario) {
    if (::geteuid() != 0) {
        return "a private network namespace (unshare -n) needs root";
    }
    std::string problem;
    std::thread([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            problem = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
            return;
        }
        if (!LoopbackUp()) {
            problem = "loopback could not be brought up in the namespace";
            return;
        }
        scenario();
    }).join();
    return problem;
}

bool AddDefaultRouteThroughLoopback() {
    Socket s;
    rtentry route{};
    auto* any = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
    any->sin_family = AF_INET;
    reinterpret_cast<sockaddr_in*>(&route.rt_genmask)->sin_family = AF_INET;
    char device[] = "lo";
    route.rt_dev = device;
    route.rt_flags = RTF_UP;
    return s.fd() >= 0 && ::ioctl(s.fd(), SIOCADDRT, &route) == 0;
}

}  // namespace orvalin::test
