#include "engine/site_stats.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/fixed_moment.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

TEST(FormatMs, WritesLikePrintfG) {
    EXPECT_EQ(FormatMs(234), "234");
    EXPECT_EQ(FormatMs(234.5), "234.5");
    EXPECT_EQ(FormatMs(0.5), "0.5");
    EXPECT_EQ(FormatMs(-99), "-99");
    EXPECT_EQ(FormatMs(2000000), "2e+06");
    EXPECT_EQ(FormatMs(1234567), "1.23457e+06");
}

TEST(RoundUpScale, RoundsToTheNextTen) {
    EXPECT_EQ(RoundUpScale(10), 10);
    EXPECT_EQ(RoundUpScale(234), 240);
    EXPECT_EQ(RoundUpScale(234.5), 240);
    EXPECT_EQ(RoundUpScale(5), 10);
    EXPECT_EQ(RoundUpScale(99), 100);
    EXPECT_EQ(RoundUpScale(100), 100);
    EXPECT_EQ(RoundUpScale(246.912), 250);
    EXPECT_EQ(RoundUpScale(-99), -80);
    EXPECT_EQ(RoundUpScale(-198), -180);
}

TEST(RoundUpScale, HugeScalesPrintInExponentFormAndBecomeZero) {
    EXPECT_EQ(RoundUpScale(1'500'000), 0);
}

// A number locale with a decimal comma, as a German desktop session sets
// it, built with localedef (its character maps come with the package locales).
TEST(FormatMs, NumbersDoNotFollowTheUsersLocale) {
    const test::TempDir dir;
    const test::ScopedEnv localePath("LOCPATH", dir.Path().string());
    std::ofstream(dir / "comma") << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nEND LC_NUMERIC\n";
    const std::string build = "localedef -c -i '" + (dir / "comma").string() + "' '" +
                              (dir / "xx_XX").string() + "' >/dev/null 2>&1";
    std::system(build.c_str());  // exits 1 for the categories left out
    if (std::setlocale(LC_NUMERIC, "xx_XX") == nullptr) {
        GTEST_SKIP() << "no comma-decimal locale could be built (localedef, package locales)";
    }
    char printed[16];
    std::snprintf(printed, sizeof printed, "%g", 2.5);
    EXPECT_STREQ(printed, "2,5");  // the locale is in force
    EXPECT_EQ(FormatMs(246.912), "246.912");
    EXPECT_EQ(FormatMs(1'500'000), "1.5e+06");
    EXPECT_EQ(RoundUpScale(246.912), 250);
    EXPECT_EQ(ScaleLabels(12)[4], "2.4ms");
    std::setlocale(LC_NUMERIC, "C");
}

TEST(Stamp, FormatsWithLeadingBlank) {
    EXPECT_EQ(Stamp(test::FixedMoment()), " on 03/14/2004 at 09:05:07");
}

TEST(ScaleLabels, FiveLabelsTopToBottom) {
    const auto labels = ScaleLabels(240);
    EXPECT_EQ(labels[0], "240ms");
    EXPECT_EQ(labels[1], "192ms");
    EXPECT_EQ(labels[2], "144ms");
    EXPECT_EQ(labels[3], "96ms");
    EXPECT_EQ(labels[4], "48ms");
    const auto negative = ScaleLabels(-180);
    EXPECT_EQ(negative[0], "-180ms");
    EXPECT_EQ(negative[4], "-36ms");
}

AccessHistory HistoryOf(std::initializer_list<double> times) {
    AccessHistory history;
    int n = 0;
    for (double ms : times) {
        history.push_back({ms, "#" + std::to_string(n++)});
    }
    return history;
}

TEST(ScanHistory, OlderRecordWinsTiesForBestAndWorst) {
    const HistoryScan scan = ScanHistory(HistoryOf({50, 20, 80, 20, 80}), 10.0);
    EXPECT_EQ(scan.best.when, "#1");
    EXPECT_EQ(scan.worst.when, "#2");
    EXPECT_EQ(scan.basis, 10.0);  // a short history keeps the current scale
}

TEST(ScanHistory, FailedProbeBecomesBestAndNeverWorst) {
    const HistoryScan scan = ScanHistory(HistoryOf({50, kFailedMs, 30}), 60.0);
    EXPECT_EQ(scan.best.ms, kFailedMs);
    EXPECT_EQ(scan.worst.ms, 50);
}

TEST(ScanHistory, OnlyFailuresLeaveBestAndWorstEmpty) {
    const HistoryScan scan = ScanHistory(HistoryOf({kFailedMs}), 10.0);
    EXPECT_EQ(scan.worst.ms, 0.0);
    EXPECT_TRUE(scan.worst.when.empty());
    EXPECT_LT(scan.best.ms, 0.0);
}

TEST(ScanHistory, FullHistoryScalesToTwiceTheAverage) {
    AccessHistory full;
    for (std::size_t i = 0; i < kHistoryLength; ++i) {
        full.push_back({kFailedMs, ""});
    }
    const HistoryScan failures = ScanHistory(full, 10.0);
    EXPECT_EQ(failures.basis, -198.0);
    EXPECT_EQ(RoundUpScale(failures.basis), -180.0);

    for (auto& record : full) {
        record.ms = 100;
    }
    full.back().ms = 100 + static_cast<double>(kHistoryLength);  // average 101
    EXPECT_EQ(ScanHistory(full, 10.0).basis, 202.0);
}

}  // namespace
}  // namespace orvalin
