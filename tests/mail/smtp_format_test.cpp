// The text helpers of the SMTP client: server setting, mail date, body
// encoding and line-break removal.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "mail/smtp_client.h"
#include "support/fixed_moment.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

TEST(ParseSmtpServer, NamesAPortAfterTheLastColon) {
    const SmtpServer plain = ParseSmtpServer("mail.example.test");
    EXPECT_EQ(plain.host, "mail.example.test");
    EXPECT_EQ(plain.port, 25);

    const SmtpServer relay = ParseSmtpServer("127.0.0.1:2525");
    EXPECT_EQ(relay.host, "127.0.0.1");
    EXPECT_EQ(relay.port, 2525);

    const SmtpServer highest = ParseSmtpServer("relay:65535");
    EXPECT_EQ(highest.host, "relay");
    EXPECT_EQ(highest.port, 65535);
}

TEST(ParseSmtpServer, TextAfterAColonThatIsNoPortStaysInTheHost) {
    for (const std::string setting : {"relay:", "relay:0", "relay:65536", "relay:99999999999",
                                      "relay:25x", "relay:-25", "relay: 25", ""}) {
        const SmtpServer server = ParseSmtpServer(setting);
        EXPECT_EQ(server.host, setting) << setting;
        EXPECT_EQ(server.port, 25) << setting;
    }
}

// The names of the "C" locale are the English ones mail dates need.
std::string CLocaleDate(const std::tm& moment) {
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S", &moment);
    return text;
}

TEST(FormatMailDate, WritesTheFixedFormWithTwentyFourHoursAndANumericZone) {
    std::tm moment = test::FixedMoment();
    moment.tm_hour = 21;
    EXPECT_EQ(FormatMailDate(moment), "Sun, 14 Mar 2004 21:05:07 +0100");

    moment.tm_hour = 0;
    moment.tm_gmtoff = -(5 * 3600 + 30 * 60);
    EXPECT_EQ(FormatMailDate(moment), "Sun, 14 Mar 2004 00:05:07 -0530");

    moment.tm_gmtoff = 0;
    EXPECT_EQ(FormatMailDate(moment), "Sun, 14 Mar 2004 00:05:07 +0000");
}

// Dates from a year and a bit, so that every weekday and month name occurs.
std::vector<std::tm> SampleMoments() {
    std::vector<std::tm> moments;
    for (int day = 0; day < 400; day += 5) {
        const std::time_t when =
            1'072'915'200 + static_cast<std::time_t>(day) * 86'400;  // 2004-01-01
        std::tm moment{};
        gmtime_r(&when, &moment);
        moments.push_back(moment);
    }
    return moments;
}

TEST(FormatMailDate, UsesEnglishNames) {
    for (const std::tm& moment : SampleMoments()) {
        EXPECT_EQ(FormatMailDate(moment), CLocaleDate(moment) + " +0000");
    }
}

// Switches LC_TIME to German for its lifetime: an installed locale if there
// is one, else one compiled into a temporary folder.
class GermanTimeLocale {
  public:
    GermanTimeLocale() : previous_(std::setlocale(LC_TIME, nullptr)) {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
            if (std::setlocale(LC_TIME, name) != nullptr) {
                active_ = true;
                return;
            }
        }
        const std::string command = "localedef -i de_DE -f UTF-8 '" +
                                    (folder_ / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) {
            localePath_.emplace("LOCPATH", folder_.Path().string());
            active_ = std::setlocale(LC_TIME, "de_DE.UTF-8") != nullptr;
        }
    }
    ~GermanTimeLocale() { std::setlocale(LC_TIME, previous_.c_str()); }
    bool Active() const { return active_; }

  private:
    std::string previous_;
    test::TempDir folder_;
    std::optional<test::ScopedEnv> localePath_;
    bool active_ = false;
};

TEST(FormatMailDate, KeepsEnglishNamesUnderAnotherLocale) {
    const auto moments = SampleMoments();
    std::vector<std::string> english;
    for (const std::tm& moment : moments) {
        english.push_back(CLocaleDate(moment) + " +0000");
    }

    GermanTimeLocale german;
    if (!german.Active()) {
        GTEST_SKIP() << "no German locale available";
    }
    char weekday[16];
    std::strftime(weekday, sizeof weekday, "%a", &moments[1]);  // 2004-01-06 is a Tuesday
    ASSERT_STRNE(weekday, "Tue") << "the locale did not change the names";
    for (std::size_t i = 0; i < moments.size(); ++i) {
        EXPECT_EQ(FormatMailDate(moments[i]), english[i]);
    }
}

TEST(EncodeBody, EndsEveryLineWithCarriageReturnAndLineFeed) {
    EXPECT_EQ(EncodeBody("one\ntwo\nthree"), "one\r\ntwo\r\nthree");
    EXPECT_EQ(EncodeBody("one\r\ntwo\r\n"), "one\r\ntwo\r\n");
    EXPECT_EQ(EncodeBody("mixed\r\nbare\n\nend\n"), "mixed\r\nbare\r\n\r\nend\r\n");
    EXPECT_EQ(EncodeBody("\n"), "\r\n");
    EXPECT_EQ(EncodeBody(""), "");
}

TEST(EncodeBody, DoublesTheDotThatBeginsALine) {
    EXPECT_EQ(EncodeBody(".first"), "..first");
    EXPECT_EQ(EncodeBody("."), "..");
    EXPECT_EQ(EncodeBody("a\n.\nb"), "a\r\n..\r\nb");
    EXPECT_EQ(EncodeBody("a\r\n.\r\nb"), "a\r\n..\r\nb");
    EXPECT_EQ(EncodeBody("a\n..two\n...three"), "a\r\n...two\r\n....three");
    EXPECT_EQ(EncodeBody("end.\nmid.dle ."), "end.\r\nmid.dle .");
}

TEST(EncodeBody, EndsALineAtABareCarriageReturnToo) {
    EXPECT_EQ(EncodeBody("one\rtwo\r"), "one\r\ntwo\r\n");
    EXPECT_EQ(EncodeBody("a\r\r\nb\n\rc"), "a\r\n\r\nb\r\n\r\nc");
    // CR . CR must not end the message early: it becomes a stuffed line.
    EXPECT_EQ(EncodeBody("site down\r.\rrest"), "site down\r\n..\r\nrest");
    EXPECT_EQ(EncodeBody("\r.first"), "\r\n..first");
}

TEST(StripLineBreaks, RemovesEveryCarriageReturnAndLineFeed) {
    EXPECT_EQ(StripLineBreaks("a\r\nb\nc\rd"), "abcd");
    EXPECT_EQ(StripLineBreaks("\r\n\r\n"), "");
    EXPECT_EQ(StripLineBreaks("plain text"), "plain text");
}

}  // namespace
}  // namespace orvalin
