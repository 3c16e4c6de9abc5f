// Delivery to a real SMTP server (aiosmtpd) on 127.0.0.1: what arrives is
// parsed as a mail message and checked.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mail/mail_fakes.h"
#include "mail/smtp_client.h"
#include "settings/settings_store.h"
#include "support/smtp_servers.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;

struct ParsedMail {
    std::vector<std::pair<std::string, std::string>> headers;  // in order
    std::string body;
};

// Splits a message at its first empty line; header lines are "Name: value".
ParsedMail ParseMail(const std::string& data) {
    ParsedMail mail;
    std::size_t start = 0;
    for (;;) {
        const auto end = data.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "no end of header in:\n" << data;
            return mail;
        }
        const std::string line = data.substr(start, end - start);
        start = end + 2;
        if (line.empty()) {
            break;
        }
        const auto colon = line.find(": ");
        EXPECT_NE(colon, std::string::npos) << line;
        mail.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
    mail.body = data.substr(start);
    return mail;
}

bool EveryLineFeedEndsACrLf(const std::string& data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}

class SmtpDeliveryTest : public ::testing::Test {
  protected:
    SmtpDeliveryTest() {
        client.connectLimit = 5s;
        client.replyLimit = 10s;
        client.SetAccount({.server = sink.Address(),
                           .senderName = "Orvalin Monitor",
                           .senderEmail = "monitor@example.test"});
    }

    test::SmtpSink sink;
    test::TempDir dir;
    SettingsStore store{dir / "settings.db"};
    test::RecordedBoxes boxes;
    test::FakeClock clock;
    CSmtpClient client{store, boxes, clock};
};

TEST_F(SmtpDeliveryTest, TheServerReceivesTheMessageAsWritten) {
    const std::string body = "Website unreachable\n.\n..two dots\r\n.starts with a dot\nlast line";
    ASSERT_EQ(client.SendMail("monitor@example.test", "ops@example.test",
                              "Alert - http://127.0.0.1/", body),
              1);
    EXPECT_TRUE(boxes.Texts().empty());

    const auto messages = sink.WaitForMessages(1, 10s);
    ASSERT_EQ(messages.size(), 1u);
    const test::ReceivedMail& received = messages.front();
    EXPECT_EQ(received.helo, "127.0.0.1");  // the host part only, without the port
    EXPECT_EQ(received.mailFrom, "monitor@example.test");
    EXPECT_EQ(received.recipients, std::vector<std::string>{"ops@example.test"});
    EXPECT_TRUE(EveryLineFeedEndsACrLf(received.data)) << received.data;

    const ParsedMail mail = ParseMail(received.data);
    ASSERT_EQ(mail.headers.size(), 5u) << received.data;
    EXPECT_EQ(mail.headers[0].first, "Date");
    EXPECT_EQ(mail.headers[1].first, "Message-Id");
    EXPECT_EQ(
        mail.headers[2],
        std::make_pair(std::string("From"), std::string("Orvalin Monitor <monitor@example.test>")));
    EXPECT_EQ(mail.headers[3],
              std::make_pair(std::string("To"), std::string("<ops@example.test>")));
    EXPECT_EQ(mail.headers[4],
              std::make_pair(std::string("Subject"), std::string("Alert - http://127.0.0.1/")));

    // The date read back by the C library's own parser gives the clock's moment.
    std::tm parsed{};
    const char* rest =
        strptime(mail.headers[0].second.c_str(), "%a, %d %b %Y %H:%M:%S %z", &parsed);
    ASSERT_NE(rest, nullptr) << mail.headers[0].second;
    EXPECT_EQ(*rest, '\0');
    const std::tm expected = test::FixedMoment();
    EXPECT_EQ(parsed.tm_year, expected.tm_year);
    EXPECT_EQ(parsed.tm_mon, expected.tm_mon);
    EXPECT_EQ(parsed.tm_mday, expected.tm_mday);
    EXPECT_EQ(parsed.tm_wday, expected.tm_wday);
    EXPECT_EQ(parsed.tm_hour, expected.tm_hour);
    EXPECT_EQ(parsed.tm_min, expected.tm_min);
    EXPECT_EQ(parsed.tm_sec, expected.tm_sec);
    EXPECT_EQ(parsed.tm_gmtoff, expected.tm_gmtoff);

    EXPECT_TRUE(std::regex_match(mail.headers[1].second, std::regex("<[0-9.]+@orvalin>")))
        << mail.headers[1].second;
    // The server undoes the doubled dots; the lone dot did not end the message.
    EXPECT_EQ(mail.body,
              "Website unreachable\r\n.\r\n..two dots\r\n.starts with a dot\r\nlast line\r\n");
}

TEST_F(SmtpDeliveryTest, ConcurrentSendersEachDeliverWithTheirOwnMessageId) {
    constexpr int kSenders = 4;
    std::vector<std::thread> senders;
    std::vector<int> results(kSenders, -1);
    for (int i = 0; i < kSenders; ++i) {
        senders.emplace_back([&, i] {
            results[i] = client.SendMail("monitor@example.test",
                                         "site" + std::to_string(i) + "@example.test",
                                         "Warning - " + std::to_string(i), "Slow response");
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(results, std::vector<int>(kSenders, 1));
    EXPECT_TRUE(boxes.Texts().empty());

    const auto messages = sink.WaitForMessages(kSenders, 10s);
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(kSenders));
    std::set<std::string> recipients;
    std::set<std::string> ids;
    for (const auto& message : messages) {
        ASSERT_EQ(message.recipients.size(), 1u);
        recipients.insert(message.recipients.front());
        const ParsedMail mail = ParseMail(message.data);
        ASSERT_GE(mail.headers.size(), 2u);
        ids.insert(mail.headers[1].second);
    }
    EXPECT_EQ(recipients.size(), static_cast<std::size_t>(kSenders));
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kSenders));
}

}  // namespace
}  // namespace orvalin
