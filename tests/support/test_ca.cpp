#include "support/test_ca.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace orvalin::test {
namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";

// "YYYYMMDDHHMMSSZ", the form openssl ca takes, for now plus days.
std::string GeneralizedTime(int days) {
    const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * 24 * 3600;
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &utc);
    return text;
}

}  // namespace

TestCa::TestCa() : caFile_(dir_ / "ca.pem"), caKey_(dir_ / "ca.key") {
    std::filesystem::create_directories(dir_ / "issued");
    std::ofstream(dir_ / "index.txt");
    std::ofstream(dir_ / "serial") << "1000\n";
    std::ofstream(dir_ / "ca.cnf") << "[ ca ]\n"
                                      "default_ca = test_ca\n"
                                      "[ test_ca ]\n"
                                   << "database = " << (dir_ / "index.txt").string() << "\n"
                                   << "new_certs_dir = " << (dir_ / "issued").string() << "\n"
                                   << "serial = " << (dir_ / "serial").string() << "\n"
                                   << "default_md = sha256\n"
                                      "policy = any_name\n"
                                      "unique_subject = no\n"
                                      "[ any_name ]\n"
                                      "commonName = supplied\n";
    Run({kOpenssl,
         "req",
         "-x509",
         "-new",
         "-newkey",
         "ec",
         "-pkeyopt",
         "ec_paramgen_curve:prime256v1",
         "-nodes",
         "-keyout",
         caKey_.string(),
         "-out",
         caFile_.string(),
         "-days",
         "3",
         "-subj",
         "/CN=Orvalin Test CA",
         "-addext",
         "basicConstraints=critical,CA:TRUE",
         "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"});
}

IssuedCertificate TestCa::Issue(const std::string& name, const std::vector<std::string>& dnsNames,
                                const std::vector<std::string>& ipAddresses, bool expired) {
    const std::string stem = "leaf" + std::to_string(++issued_);
    const IssuedCertificate issued{dir_ / (stem + ".pem"), dir_ / (stem + ".key")};
    const auto request = dir_ / (stem + ".csr");
    const auto extensions = dir_ / (stem + ".ext");
    {
        std::ofstream ext(extensions);
        ext << "[ leaf ]\n"
               "basicConstraints = CA:FALSE\n"
               "keyUsage = critical, digitalSignature, keyEncipherment\n"
               "extendedKeyUsage = serverAuth\n"
               "subjectAltName = @names\n"
               "[ names ]\n";
        for (std::size_t i = 0; i < dnsNames.size(); ++i) {
            ext << "DNS." << i + 1 << " = " << dnsNames[i] << "\n";
        }
        for (std::size_t i = 0; i < ipAddresses.size(); ++i) {
            ext << "IP." << i + 1 << " = " << ipAddresses[i] << "\n";
        }
    }
    Run({kOpenssl, "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", issued.key.string(), "-out", request.string(), "-subj",
         "/CN=" + name});
    Run({kOpenssl,      "ca",
         "-batch",      "-notext",
         "-config",     (dir_ / "ca.cnf").string(),
         "-cert",       caFile_.string(),
         "-keyfile",    caKey_.string(),
         "-in",         request.string(),
         "-out",        issued.certificate.string(),
         "-extfile",    extensions.string(),
         "-extensions", "leaf",
         "-startdate",  GeneralizedTime(expired ? -3 : -1),
         "-enddate",    GeneralizedTime(expired ? -2 : 2)});
    return issued;
}

void TestCa::Run(const std::vector<std::string>& args) {
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string output = (dir_ / "openssl.out").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, kOpenssl, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        throw std::runtime_error("test CA: openssl " + args[1] + " failed:\n" +
                                 ReadFileBytes(output));
    }
}

}  // namespace orvalin::test
