// A fresh user for orvalind: empty settings store, state, runtime and home
// folders under one temporary folder, and the store opened by the test too.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "orvalind_process.h"
#include "settings/settings_store.h"
#include "support/smtp_servers.h"
#include "support/temp_dir.h"

namespace orvalin::test {

// Exit statuses of orvalind.
inline constexpr int kStatusAllWell = 0;
inline constexpr int kStatusSomeSlow = 1;
inline constexpr int kStatusSomeFailing = 2;
inline constexpr int kStatusNoSite = 3;
inline constexpr int kStatusUsage = 64;

inline constexpr const char* kSenderName = "Orvalin Monitor";
inline constexpr const char* kSender = "monitor@example.test";
inline constexpr const char* kAlertRecipient = "alerts@example.test";
inline constexpr const char* kRecoveryRecipient = "recovery@example.test";

class OrvalindTest : public ::testing::Test {
  protected:
    // Where orvalind finds its store when XDG_CONFIG_HOME is config.
    static std::filesystem::path StoreUnder(const std::filesystem::path& config) {
        ScopedEnv env("XDG_CONFIG_HOME", config.string());
        return SettingsStore::DefaultPath();
    }

    void Monitor(int slot, const std::string& address) {
        store.Write(key::kLastWebsite, slot, address);
        store.Write(key::kLastWebsiteTitle, slot, address);
    }

    void SetUpMail(const SmtpSink& sink) {
        store.Write(key::kSmtp, sink.Address());
        store.Write(key::kSmtpName, kSenderName);
        store.Write(key::kSmtpEmail, kSender);
        store.Write(key::kSmtpAlert, kAlertRecipient);
        store.Write(key::kSmtpRecovery, kRecoveryRecipient);
    }

    // The instance count as held, or nothing when it was never written.
    std::optional<std::int32_t> NumOpen() const {
        const auto held = store.Get(key::kNumOpen.section, key::kNumOpen.name);
        if (!held || !std::holds_alternative<std::int32_t>(held->value)) {
            return std::nullopt;
        }
        return std::get<std::int32_t>(held->value);
    }

    std::string AccessLog() const { return ReadFileBytes(accessLogFile); }
    std::string ErrorLog() const { return ReadFileBytes(errorLogFile); }

    TempDir dir;
    ChildFolders folders{dir.Path()};
    SettingsStore store{StoreUnder(folders.config)};
    std::filesystem::path accessLogFile = folders.state / "orvalin" / "access.log";
    std::filesystem::path errorLogFile = folders.state / "orvalin" / "error.log";
};

}  // namespace orvalin::test
