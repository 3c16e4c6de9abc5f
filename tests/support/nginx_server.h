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

class NginxServer {
  public:
    static constexpr std::string_view kIndexBody = "Orvalin test page\n";

    // extraLocations is put into the server block as it is, for example
    // "location = /gone { return 410; }". Throws std::runtime_error when nginx
    // cannot be started; the message then holds nginx's error log.
    explicit NginxServer(const std::string& extraLocations = {});
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
    bool TryStart(std::uint16_t port, const std::string& extraLocations);
    void WriteConfig(std::uint16_t port, const std::string& extraLocations) const;
    bool WaitUntilListening(std::uint16_t port);

    TempDir dir_;
    std::filesystem::path documentRoot_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace orvalin::test
