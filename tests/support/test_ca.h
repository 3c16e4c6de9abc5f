// A certificate authority made at test time with the openssl command, and the
// server certificates it issues. Trust it with SSL_CERT_FILE=CaFile().
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace orvalin::test {

struct IssuedCertificate {
    std::filesystem::path certificate;  // PEM
    std::filesystem::path key;          // PEM, unencrypted
};

class TestCa {
  public:
    // Throws std::runtime_error, with openssl's output, when a step fails.
    TestCa();

    const std::filesystem::path& CaFile() const { return caFile_; }

    // A server certificate for the DNS names and IP addresses given, valid
    // from yesterday to the day after tomorrow, or, when expired, from three
    // days ago to two days ago.
    IssuedCertificate Issue(const std::string& name, const std::vector<std::string>& dnsNames,
                            const std::vector<std::string>& ipAddresses, bool expired = false);

  private:
    void Run(const std::vector<std::string>& args);

    TempDir dir_;
    std::filesystem::path caFile_;
    std::filesystem::path caKey_;
    int issued_ = 0;
};

}  // namespace orvalin::test
