// A real nginx on 127.0.0.1 for tests, with its own configuration, logs and
// document folder in a temporary folder. It serves:
//   /         200, the page kIndexBody
//   /missing  404 (no such file)
//   /moved    301 to /
// plus whatever location blocks the test adds. Runs in the foreground as a
// single process and is stopped by the destructor.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "support/temp_dir.h"

namespace orvalin::test {

struct NginxOptions {
    // Put into the server block as it is, for example
    // "location = /gone { return 410; }".
    std::string extraLocations{};
    // With both set, the port speaks TLS only, with this certificate.
    std::filesystem::path certificate{};
    std::filesystem::path key{};
    // When set, the server block answers only requests whose Host (without
    // its port) is this name; any other request, one without Host included,
    // gets 421 from a default server on the same port.
    std::string serverName{};
};

class NginxServer {
  public:
    static constexpr std::string_view kIndexBody = "Orvalin test page\n";

    // Throws std::runtime_error when nginx cannot be started; the message
    // then holds nginx's error log.
    explicit NginxServer(const std::string& extraLocations = {});
    explicit NginxServer(const NginxOptions& options);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>/" followed by path (given without its leading "/").
    std::string Url(std::string_view path = {}) const;
    // Files put here are served under "/".
    const std::filesystem::path& DocumentRoot() const { return documentRoot_; }
    std::filesystem::path AccessLog() const { return dir_ / "access.log"; }
    std::filesystem::path ErrorLog() const { return dir_ / "error.log"; }

    // Stops nginx and waits for it to end; the destructor calls it too.
    void Stop();

    static constexpr const char* kBinary = "/usr/sbin/nginx";

  private:
    bool TryStart(std::uint16_t port, const NginxOptions& options);
    void WriteConfig(std::uint16_t port, const NginxOptions& options) const;
    bool WaitUntilListening(std::uint16_t port);

    TempDir dir_;
    std::filesystem::path documentRoot_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace orvalin::test
