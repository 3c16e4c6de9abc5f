// A private X display for end-to-end tests: Xvfb on a display number it
// picks itself, optionally a notification-area host (trayer) and a window
// manager (twm), and a D-Bus session with the accessibility bus, through
// which the tests read the program's widgets. Everything it starts runs in
// process groups of its own and is ended by the destructor.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace orvalin::test {

// A child process in its own process group.
class Child {
  public:
    Child() = default;
    // Standard output goes to output, standard error too unless errors is
    // given; keepFd stays open in the child.
    Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
          const std::filesystem::path& output, int keepFd = -1,
          const std::filesystem::path& errors = {});
    ~Child();
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;

    pid_t Pid() const { return pid_; }
    // Waits for the end; the exit status, or -1 when it did not end in time.
    int Wait(std::chrono::milliseconds limit);
    // SIGTERM to the group, SIGKILL after a grace period.
    void Stop();

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

struct XSessionOptions {
    bool notificationArea = true;
    bool windowManager = false;
};

class XSession {
  public:
    explicit XSession(XSessionOptions options);
    ~XSession();

    // The environment of programs on this display: the parent's, with the
    // display, the D-Bus session, and home and XDG folders in Home().
    std::map<std::string, std::string> Environment() const;
    const std::filesystem::path& Home() const { return home_; }
    std::string Display() const { return ":" + std::to_string(display_); }

    // Runs a program on the display to its end; its standard output.
    std::string Run(const std::vector<std::string>& argv, int* status = nullptr) const;
    Child Start(const std::vector<std::string>& argv, const std::string& logName) const;

  private:
    void StartXvfb();
    void StartBus();

    TempDir dir_;
    std::filesystem::path home_;
    int display_ = -1;
    std::string busAddress_;
    std::vector<Child> children_;
};

}  // namespace orvalin::test
