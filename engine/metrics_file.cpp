#include "engine/metrics_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/whole_io.h"

namespace orvalin {
namespace {

struct SiteMetric {
    const char* name;
    const char* help;
    // The value of a site, or none when it has no such value.
    std::function<std::optional<double>(const SiteMetrics&)> value;
};

std::optional<double> Flag(bool on) {
    return on ? 1.0 : 0.0;
}

const std::array<SiteMetric, 7>& SiteMetricTable() {
    static const std::array<SiteMetric, 7> table{{
        {"orvalin_site_up", "Whether the last check of the site got the answer 200 (1) or not (0).",
         [](const SiteMetrics& s) { return Flag(s.up); }},
        {"orvalin_site_state",
         "The state of the site after its last check: 0 well, 1 slow, 2 failing.",
         [](const SiteMetrics& s) { return std::optional<double>(s.state); }},
        {"orvalin_site_response_milliseconds",
         "The response time of the last check; absent when it got no answer.",
         [](const SiteMetrics& s) { return s.responseMs; }},
        {"orvalin_site_best_milliseconds", "The best response time the site's history holds.",
         [](const SiteMetrics& s) { return s.bestMs; }},
        {"orvalin_site_worst_milliseconds", "The worst response time the site's history holds.",
         [](const SiteMetrics& s) { return s.worstMs; }},
        {"orvalin_site_last_check_timestamp_seconds",
         "When the last check of the site ended, in seconds since the epoch.",
         [](const SiteMetrics& s) {
             return std::optional<double>(static_cast<double>(s.checkedAt));
         }},
        {"orvalin_site_alert_outstanding",
         "Whether the site is in an alert that no recovery has followed yet (1) or not (0).",
         [](const SiteMetrics& s) { return Flag(s.alertOutstanding); }},
    }};
    return table;
}

std::string Number(double value) {
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

void Family(std::string& out, const char* name, const char* help, const char* type) {
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " " + type + "\n";
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string MetricsText(const MetricsSnapshot& snapshot) {
    std::string out;
    for (const SiteMetric& metric : SiteMetricTable()) {
        Family(out, metric.name, metric.help, "gauge");
        for (const SiteMetrics& site : snapshot.sites) {
            if (const std::optional<double> value = metric.value(site)) {
                out += std::string(metric.name) + "{slot=\"" + std::to_string(site.slot + 1) +
                       "\",url=\"" + EscapeLabelValue(site.url) + "\"} " + Number(*value) + "\n";
            }
        }
    }
    Family(out, "orvalin_checks_total", "Checks made since the program started.", "counter");
    out += "orvalin_checks_total " + std::to_string(snapshot.checks) + "\n";
    Family(out, "orvalin_mail_failures_total",
           "Alert, warning and recovery mails that could not be sent since the program started.",
           "counter");
    out += "orvalin_mail_failures_total " + std::to_string(snapshot.mailFailures) + "\n";
    return out;
}

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::string& error) {
    // Hidden and without the .prom ending, so that no collector reads it half written.
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool done = WriteAll(fd, bytes) && ::fchmod(fd, 0644) == 0;
    int saved = errno;
    if (::close(fd) != 0 && done) {
        done = false;
        saved = errno;
    }
    if (done && ::rename(temporary.c_str(), path.c_str()) != 0) {
        done = false;
        saved = errno;
    }
    if (!done) {
        ::unlink(temporary.c_str());
        error = std::strerror(saved);
    }
    return done;
}

void MetricsFile::SetPath(std::filesystem::path path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
    enabled_.store(!path_.empty());
}

std::string MetricsFile::Write(const MetricsSnapshot& snapshot) {
    std::string error;
    if (ReplaceFileAtomically(path_, MetricsText(snapshot), error)) {
        failing_ = false;
        return {};
    }
    if (failing_) {
        return {};
    }
    failing_ = true;
    return path_.string() + ": " + error;
}

}  // namespace orvalin
