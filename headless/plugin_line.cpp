#include "headless/plugin_line.h"

#include <cmath>

#include "headless/headless_frontend.h"
#include "platform/printable_text.h"

namespace orvalin {
namespace {

constexpr const char* kStatusWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

// An address as the summary names it: printable, and without the bar that
// would start the performance data.
std::string Printable(const std::string& address) {
    std::string out;
    for (const char c : EscapeControlBytes(address)) {
        out += c == '|' ? std::string("%7C") : std::string(1, c);
    }
    return out;
}

std::string Sites(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " site" : " sites");
}

// Why a failing site counts as failing: "unreachable", "unexpected response 404".
std::string FailureText(const CheckReport& report) {
    std::string text(OutcomeWord(report.outcome));
    if (report.outcome == CheckOutcome::UnexpectedResponse && !report.statusText.empty()) {
        text += " " + report.statusText;
    }
    return text;
}

}  // namespace

void PluginLine::AddSite(int slot, std::string address, std::int32_t warnMs) {
    sites_.push_back(Site{slot, std::move(address), warnMs, std::nullopt});
}

void PluginLine::Record(const CheckReport& report) {
    for (Site& site : sites_) {
        if (site.slot == report.slot) {
            site.report = report;
            if (!report.address.empty()) {
                site.address = report.address;
            }
        }
    }
}

std::string PluginLine::Text(int exitCode) const {
    const int status = exitCode >= kExitAllWell && exitCode <= kExitNoSite ? exitCode : kExitNoSite;
    std::string line = std::string("ORVALIN ") + kStatusWords[status] + " - " + Summary(status);
    const std::string data = PerformanceData();
    if (!data.empty()) {
        line += " | " + data;
    }
    return line;
}

std::string PluginLine::Summary(int status) const {
    if (sites_.empty()) {
        return "no site is configured";
    }
    std::size_t offline = 0;  // sites this machine had no route to
    for (const Site& site : sites_) {
        offline += site.report && site.report->outcome == CheckOutcome::NoNetwork ? 1 : 0;
    }
    if (status == kExitNoSite) {
        return "no site could be checked: no network";
    }
    if (status == kExitAllWell) {
        if (offline > 0) {
            return std::to_string(sites_.size() - offline) + " of " + Sites(sites_.size()) +
                   " well, " + std::to_string(offline) + " not checked: no network";
        }
        return Sites(sites_.size()) + " well";
    }
    // The sites of the worst outcome, each with what made it so.
    std::vector<std::string> named;
    for (const Site& site : sites_) {
        const CheckOutcome outcome = site.report ? site.report->outcome : CheckOutcome::NotChecked;
        if (!site.report || ExitCodeFor(outcome) != status) {
            continue;
        }
        const std::string why = status == kExitSomeSlow
                                    ? std::to_string(std::llround(site.report->ms)) + "ms"
                                    : FailureText(*site.report);
        named.push_back(Printable(site.address) + " (" + why + ")");
    }
    if (named.empty()) {
        return "not every site was checked";
    }
    std::string text = std::to_string(named.size()) + " of " + Sites(sites_.size()) +
                       (status == kExitSomeSlow ? " slow: " : " failing: ");
    for (std::size_t n = 0; n < named.size(); ++n) {
        text += (n > 0 ? ", " : "") + named[n];
    }
    return text;
}

std::string PluginLine::PerformanceData() const {
    std::string data;
    for (const Site& site : sites_) {
        // A time only for an answer: a site that gave none is undetermined.
        const bool timed =
            site.report && site.report->ms > 0 && site.report->outcome != CheckOutcome::NotChecked;
        data += (data.empty() ? "" : " ") + std::string("'site") + std::to_string(site.slot + 1) +
                "'=" + (timed ? std::to_string(std::llround(site.report->ms)) + "ms" : "U") + ";" +
                std::to_string(site.warnMs) + ";;0";
    }
    return data;
}

}  // namespace orvalin
