// A private session bus (dbus-daemon) with a real Secret Service on it
// (gnome-keyring-daemon, its login keyring created and unlocked at start),
// everything under one temporary folder, stopped at the end.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/temp_dir.h"

namespace orvalin::test {

class SecretService {
  public:
    // withKeyring false: the bus alone, where no Secret Service answers.
    explicit SecretService(bool withKeyring = true);
    ~SecretService();
    SecretService(const SecretService&) = delete;
    SecretService& operator=(const SecretService&) = delete;

    // Empty when everything started; otherwise why not (tests skip then).
    const std::string& Problem() const { return problem_; }
    // DBUS_SESSION_BUS_ADDRESS of the private bus.
    const std::string& BusAddress() const { return busAddress_; }

  private:
    bool StartBus();
    bool StartKeyring();

    TempDir folder_;
    std::string problem_;
    std::string busAddress_;
    pid_t busPid_ = -1;
    pid_t keyringPid_ = -1;
};

}  // namespace orvalin::test
