#include "engine/site_stats.h"

#include <charconv>
#include <cmath>

#include "resources/strings.h"

namespace orvalin {

std::string Stamp(const std::tm& local) {
    char buffer[64];
    const std::size_t length =
        std::strftime(buffer, sizeof buffer, " on %m/%d/%Y at %H:%M:%S", &local);
    return std::string(buffer, length);
}

// to_chars with the general format and precision 6 is printf's "%g" in the C
// locale; snprintf would follow LC_NUMERIC, which a desktop session sets.
std::string FormatMs(double x) {
    constexpr int kGeneralPrecision = 6;
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, x,
                                            std::chars_format::general, kGeneralPrecision);
    return error == std::errc{} ? std::string(buffer, end) : std::string();
}

double RoundUpScale(double x) {
    std::string text = FormatMs(x);
    if (!text.empty() && text.back() == '0') {
        return x;
    }
    text = FormatMs(x + kScaleStep);
    if (const auto point = text.find('.'); point != std::string::npos && point > 0) {
        text.resize(point);
    }
    if (!text.empty()) {
        text.back() = '0';
    }
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

double AnswerMs(std::chrono::nanoseconds elapsed) {
    const double ms = std::round(std::chrono::duration<double, std::milli>(elapsed).count());
    return ms < 1.0 ? 1.0 : ms;
}

HistoryScan ScanHistory(const AccessHistory& history, double graphScale) {
    HistoryScan scan;
    double sum = 0.0;
    double max = 0.0;
    for (const AccessRecord& record : history) {
        if (record.ms > max) {
            max = record.ms;
            scan.worst = record;
        }
        if (record.ms < scan.best.ms || sum == 0.0) {
            scan.best = record;
        }
        sum += record.ms;
    }
    scan.basis = history.size() < kHistoryLength ? graphScale
                                                 : 2.0 * sum / static_cast<double>(history.size());
    return scan;
}

std::array<std::string, kLabelDivisions> ScaleLabels(double scale) {
    const double step = scale / kLabelDivisions;
    std::array<std::string, kLabelDivisions> labels;
    labels[0] = FormatMs(scale) + std::string(text::kMsSuffix);
    for (int row = 1; row < kLabelDivisions; ++row) {
        labels[static_cast<std::size_t>(row)] =
            FormatMs(step * (kLabelDivisions - row)) + std::string(text::kMsSuffix);
    }
    return labels;
}

}  // namespace orvalin
