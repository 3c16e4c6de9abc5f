// The parts of orvalind's life as a service that need no service manager:
// the status line and the journal's priority marks.

#include <gtest/gtest.h>

#include "headless/journal_stream.h"
#include "headless/site_summary.h"

namespace orvalin {
namespace {

CheckReport Report(int slot, CheckOutcome outcome) {
    CheckReport report;
    report.slot = slot;
    report.outcome = outcome;
    return report;
}

TEST(SiteSummaryTest, CountsTheConfiguredSitesByTheirLastCheck) {
    SiteSummary summary;
    EXPECT_EQ(summary.Text({false, false, false, false}), "no site is configured");
    EXPECT_EQ(summary.Text({true, false, true, false}), "2 waiting for a check");

    summary.Record(Report(0, CheckOutcome::Success));
    summary.Record(Report(1, CheckOutcome::Unreachable));
    summary.Record(Report(2, CheckOutcome::UnexpectedResponse));
    summary.Record(Report(3, CheckOutcome::Slow));
    EXPECT_EQ(summary.Text({true, true, true, true}), "1 well, 1 slow, 2 failing");

    // A check that did not run keeps the last result; a removed site no longer counts.
    summary.Record(Report(0, CheckOutcome::NotChecked));
    summary.Record(Report(1, CheckOutcome::Success));
    EXPECT_EQ(summary.Text({true, true, false, true}), "2 well, 1 slow");
}

TEST(JournalPriorityTest, MarksEveryLineOnlyForTheJournal) {
    EXPECT_EQ(WithPriority("ERROR: Failed\n\nto contact", Priority::Error, true),
              "<3>ERROR: Failed\n<3>\n<3>to contact");
    EXPECT_EQ(WithPriority("hint\n", Priority::Warning, true), "<4>hint\n");
    EXPECT_EQ(WithPriority("hint\nmore", Priority::Warning, false), "hint\nmore");
}

}  // namespace
}  // namespace orvalin
