// The metrics file: what the monitor knows about its sites, rewritten after
// every check in the text format Prometheus reads (node_exporter's textfile
// collector picks up *.prom files from a folder). Readers only ever see a
// whole file: it is written under another name beside it and renamed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_keys.h"

namespace orvalin {

// The last check of one site.
struct SiteMetrics {
    int slot = 0;  // 0-3; the file counts from 1, as orvalin-settings does
    std::string url;
    int state = 0;                     // 0 well, 1 slow, 2 failing
    bool up = false;                   // the site answered 200
    std::optional<double> responseMs;  // none when the check got no answer
    std::optional<double> bestMs;      // of the site's history
    std::optional<double> worstMs;
    std::int64_t checkedAt = 0;  // seconds since the epoch
    bool alertOutstanding = false;
};

struct MetricsSnapshot {
    std::vector<SiteMetrics> sites;
    std::uint64_t checks = 0;
    std::uint64_t mailFailures = 0;
};

// The file's text: every metric with its HELP and TYPE lines.
std::string MetricsText(const MetricsSnapshot& snapshot);

// A label value as the format writes it: backslash, double quote and line
// feed escaped.
std::string EscapeLabelValue(std::string_view value);

// Replaces path with bytes in one step (a temporary file in the same folder,
// renamed over it), mode 0644. False with the reason in error when it could
// not; path is then left as it was.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::string& error);

// The engine's metrics: the last check of each slot, the counters, and the
// file they go to. Checks of several slots record at the same time.
class MetricsFile {
  public:
    // Empty: no file (the default), and Record does nothing.
    void SetPath(std::filesystem::path path);
    bool Enabled() const { return enabled_.load(); }

    void CountMailFailure() { mailFailures_.fetch_add(1); }

    // Records a check of site.slot, keeps only the sites for which keep(slot,
    // url) holds, and rewrites the file. Returns the reason when writing
    // failed for the first time since it last succeeded, empty otherwise.
    template <typename Keep>
    std::string Record(SiteMetrics site, Keep&& keep) {
        std::lock_guard lock(mutex_);
        ++checks_;
        const auto at = static_cast<std::size_t>(site.slot);
        sites_[at] = std::move(site);
        MetricsSnapshot snapshot{{}, checks_, mailFailures_.load()};
        for (auto& held : sites_) {
            if (held && !keep(held->slot, held->url)) {
                held.reset();
            }
            if (held) {
                snapshot.sites.push_back(*held);
            }
        }
        return Write(snapshot);
    }

  private:
    std::string Write(const MetricsSnapshot& snapshot);

    std::atomic<bool> enabled_{false};
    std::atomic<std::uint64_t> mailFailures_{0};
    std::mutex mutex_;  // guards the members below and the file's writes
    std::filesystem::path path_;
    std::uint64_t checks_ = 0;
    std::array<std::optional<SiteMetrics>, kSlotCount> sites_;
    bool failing_ = false;
};

}  // namespace orvalin
