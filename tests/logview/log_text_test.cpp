// The line index and what the viewer makes of a line's bytes: lines of any
// bytes and any length, their colours, and finding text in them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "desktop/logview/log_lines.h"
#include "desktop/logview/log_search.h"
#include "desktop/logview/log_text.h"

namespace orvalin {
namespace {

std::vector<std::string> Lines(const LogText& text) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < text.LineCount(); ++i) {
        lines.push_back(text.CopyLine(i));
    }
    return lines;
}

// Feeds content the way the loader does, in reads of at most chunk bytes.
std::shared_ptr<LogText> Fed(const std::string& content, std::size_t chunk) {
    auto text = std::make_shared<LogText>();
    for (std::size_t at = 0; at < content.size();) {
        const std::span<char> room = text->Room();
        const std::size_t count = std::min({room.size(), chunk, content.size() - at});
        std::memcpy(room.data(), content.data() + at, count);
        text->Commit(count);
        at += count;
    }
    text->Finish();
    return text;
}

TEST(LogTextTest, OddBytesNeitherBreakNorShiftTheLinesAroundThem) {
    const std::string nul("with\0nul", 8);
    const std::string content =
        "<03/14/2004 09:05:07> SUCCESS a 5ms\r\n"  // CR LF
        "bare lf\n"
        "invalid \xC3\x28 \xFF utf-8\r\n" +
        nul + "\r\n" +
        "lone \r cr\r\n"
        "\r\n"  // an empty line
        "last without line end";
    const std::vector<std::string> expected = {"<03/14/2004 09:05:07> SUCCESS a 5ms",
                                               "bare lf",
                                               "invalid \xC3\x28 \xFF utf-8",
                                               nul,
                                               "lone \r cr",
                                               "",
                                               "last without line end"};
    // Whole, and a byte at a time (a CR LF split between two reads).
    EXPECT_EQ(Lines(*LogText::FromBytes(content)), expected);
    EXPECT_EQ(Lines(*Fed(content, 1)), expected);

    EXPECT_EQ(ShownLine(nul), QString::fromUtf16(u"with\u2400nul"));
    EXPECT_EQ(ShownLine("lone \r cr"), QString::fromUtf16(u"lone \u240D cr"));
    EXPECT_EQ(ShownLine("tab\there"), QStringLiteral("tab\there"));
    const QString invalid = ShownLine("invalid \xC3\x28 \xFF utf-8");
    EXPECT_TRUE(invalid.startsWith(QStringLiteral("invalid ")));
    EXPECT_TRUE(invalid.endsWith(QStringLiteral(" utf-8")));
    EXPECT_TRUE(invalid.contains(QChar(0xFFFD)));
}

TEST(LogTextTest, EmptyContentAndAFinalLineEndMakeNoExtraLine) {
    EXPECT_EQ(LogText::FromBytes("")->LineCount(), 0u);
    EXPECT_EQ(Lines(*LogText::FromBytes("a\r\nb\r\n")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Lines(*LogText::FromBytes("\n")), std::vector<std::string>{""});
}

TEST(LogTextTest, LinesAcrossBlocksReadWholeAndALongLineAsItsFirst64KiB) {
    // Lines end on both sides of the 4 MiB block edge, one 1 MB line
    // straddles it, and a line longer than a block crosses the next edge.
    std::string content;
    std::vector<std::string> expected;
    std::vector<std::uint64_t> lengths;
    const auto add = [&](const std::string& line, const char* end) {
        lengths.push_back(line.size());
        expected.push_back(line.substr(0, 65536));
        content += line + end;
    };
    while (content.size() < (std::size_t{4} << 20) - 300'000) {
        add("<03/14/2004 09:05:07> SUCCESS http://a/ " + std::to_string(expected.size()) + "ms",
            "\r\n");
    }
    add(std::string(1'000'000, 'x'), "\r\n");
    add("after the megabyte line", "\n");
    add(std::string(std::size_t{5} << 20, 'y'), "\r\n");
    add("last", "\n");
    for (const std::size_t chunk : {std::size_t{65536}, LogText::kBlockBytes}) {
        const auto text = Fed(content, chunk);
        ASSERT_EQ(text->LineCount(), expected.size());
        EXPECT_EQ(Lines(*text), expected);
        {
            std::string scratch;
            const LogText::Reader reader = text->Read();
            for (std::size_t i = 0; i < lengths.size(); ++i) {
                ASSERT_EQ(reader.Line(i, scratch).length, lengths[i]) << i;
            }
        }
        EXPECT_EQ(text->LongestLine(), (std::size_t{5} << 20) + 1);  // its CR counted
        EXPECT_EQ(text->Size(), content.size());
    }
}

TEST(LogTextTest, ALongLineIsNeverCutInsideACharacter) {
    // 65,536 bytes end inside the 21,846th "€" (3 bytes) and just after the
    // 32,768th "é" (2 bytes).
    std::string euros;
    for (int i = 0; i < 30'000; ++i) {
        euros += "\xE2\x82\xAC";
    }
    std::string accents;
    for (int i = 0; i < 40'000; ++i) {
        accents += "\xC3\xA9";
    }
    const auto text = LogText::FromBytes(euros + "\n" + accents + "\n");
    EXPECT_EQ(text->CopyLine(0), euros.substr(0, 21'845 * 3));
    EXPECT_EQ(text->CopyLine(1), accents.substr(0, 65'536));
    EXPECT_FALSE(ShownLine(text->CopyLine(0)).contains(QChar(0xFFFD)));
}

TEST(LogTextTest, ALineBeingReadIsNotShownUntilItEnds) {
    LogText text;
    const std::string part = "<03/14/2004 09:05:07> SUCC";
    std::memcpy(text.Room().data(), part.data(), part.size());
    text.Commit(part.size());
    EXPECT_EQ(text.LineCount(), 0u);
    const std::string rest = "ESS a\r\nnext";
    std::memcpy(text.Room().data(), rest.data(), rest.size());
    text.Commit(rest.size());
    EXPECT_EQ(Lines(text), std::vector<std::string>{"<03/14/2004 09:05:07> SUCCESS a"});
    text.Finish();
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"<03/14/2004 09:05:07> SUCCESS a", "next"}));
}

TEST(LogLinesTest, FailuresWarningsAndMissedEntriesAreToldApart) {
    struct Case {
        const char* line;
        LineTone tone;
        bool missed;
    };
    const Case cases[] = {
        {"<03/14/2004 09:05:07> SUCCESS http://a/ 5ms", LineTone::Plain, false},
        {"<03/14/2004 09:05:07> WARNING http://a/ 12000ms", LineTone::Warning, false},
        {"<03/14/2004 09:05:07> Website unreachable: http://a/", LineTone::Failure, false},
        {"<03/14/2004 09:05:07> Unexpected response 404 http://a/", LineTone::Failure, false},
        {"<03/14/2004 09:05:07> Check not started (no thread available): http://a/",
         LineTone::Failure, false},
        {"<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> SUCCESS http://a/ 5ms",
         LineTone::Plain, true},
        {"<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> Website unreachable: x",
         LineTone::Failure, true},
        {"<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> WARNING x 1ms",
         LineTone::Warning, true},
        // The words only count where a check writes them.
        {"<03/14/2004 09:05:07> SUCCESS http://a/WARNING 5ms", LineTone::Plain, false},
        {"", LineTone::Plain, false},
        {"<", LineTone::Plain, false},
    };
    for (const Case& c : cases) {
        const LineLook look = LookOf(c.line);
        EXPECT_EQ(look.tone, c.tone) << c.line;
        EXPECT_EQ(look.missed, c.missed) << c.line;
    }
}

TEST(LogLinesTest, FindIgnoresCaseAndGoesRoundTheTextBothWays) {
    const auto text = LogText::FromBytes(
        "alpha Beta\r\n"  // 0
        "gamma\r\n"       // 1
        "beta beta\r\n"   // 2
        "Gr\xC3\xBC\xC3\x9F"
        "e \xFF BETA\r\n");  // 3: "Grüße", an invalid byte
    const QString beta = QStringLiteral("bEtA");

    auto found = FindText(*text, beta, {0, 0}, false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->start, (TextPosition{0, 6}));
    EXPECT_EQ(found->length, 4);
    EXPECT_FALSE(found->wrapped);
    // From just after a match, the next one; matches at the start position count.
    EXPECT_EQ(FindText(*text, beta, {0, 10}, false)->start, (TextPosition{2, 0}));
    EXPECT_EQ(FindText(*text, beta, {2, 4}, false)->start, (TextPosition{2, 5}));
    EXPECT_EQ(FindText(*text, beta, {2, 5}, false)->start, (TextPosition{2, 5}));
    EXPECT_EQ(FindText(*text, beta, {2, 6}, false)->start.line, 3);
    found = FindText(*text, beta, {3, 12}, false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->start, (TextPosition{0, 6}));
    EXPECT_TRUE(found->wrapped);

    // Backward: the last match that starts before the position.
    EXPECT_EQ(FindText(*text, beta, {2, 5}, true)->start, (TextPosition{2, 0}));
    EXPECT_EQ(FindText(*text, beta, {2, 0}, true)->start, (TextPosition{0, 6}));
    found = FindText(*text, beta, {0, 6}, true);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->start.line, 3);
    EXPECT_TRUE(found->wrapped);

    // Beyond ASCII, after an invalid byte; a lone match is found from itself.
    found = FindText(*text, QString::fromUtf16(u"GR\u00DC\u00DFE"), {1, 0}, false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->start, (TextPosition{3, 0}));
    EXPECT_EQ(FindText(*text, QStringLiteral("gamma"), {1, 2}, false)->start, (TextPosition{1, 0}));
    EXPECT_TRUE(FindText(*text, QStringLiteral("gamma"), {1, 2}, false)->wrapped);

    EXPECT_FALSE(FindText(*text, QStringLiteral("delta"), {0, 0}, false));
    EXPECT_FALSE(FindText(*text, QString(), {0, 0}, false));
    EXPECT_FALSE(FindText(*LogText::FromBytes(""), beta, {0, 0}, true));
}

TEST(LogLinesTest, TheWordIsMatchedOnBytesAsOnTheShownLine) {
    // Lines of pieces that fold, decode or show in odd ways: case pairs
    // inside and outside ASCII, the Kelvin sign and long s (they fold to k
    // and s), controls shown as symbols, invalid and cut sequences.
    const std::vector<std::string> pieces = {"a",
                                             "K",
                                             "k",
                                             "s",
                                             "S",
                                             "\xE2\x84\xAA",
                                             "\xC5\xBF",
                                             "\xC3\xBC",
                                             "\xC3\x9C",
                                             "\xC3\x9F",
                                             "\xCE\xA3",
                                             "\xCF\x83",
                                             "\xCF\x82",
                                             "\xF0\x90\x90\x80",
                                             "\xF0\x90\x90\xA8",
                                             "\t",
                                             std::string(1, '\0'),
                                             "\x7F",
                                             "\xE2\x90\x80",
                                             "\xFF",
                                             "\xC3",
                                             "\xE2\x82",
                                             " ",
                                             "-"};
    const std::vector<QString> words = {"k",
                                        "K",
                                        "s",
                                        "sk",
                                        QString::fromUtf16(u"\u00DC"),
                                        "a k",
                                        "\t",
                                        "-\tK",
                                        QString::fromUtf16(u"\u03C3"),
                                        QString::fromUtf16(u"\u03A3a"),
                                        QString::fromUtf16(u"\U00010400"),
                                        QString::fromUtf16(u"\u2400"),
                                        QString::fromUtf16(u"\u2421k"),
                                        QString::fromUtf16(u"\uFFFD"),
                                        QString::fromUtf16(u"a\u00DFs"),
                                        QString::fromUtf16(u"\u212A\u017F")};
    std::uint32_t seed = 2004;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int holding = 0;
    for (int n = 0; n < 4000; ++n) {
        std::string line;
        for (std::uint32_t k = next() % 12; k > 0; --k) {
            line += pieces[next() % pieces.size()];
        }
        const QString shown = ShownLine(line);
        for (const QString& word : words) {
            const bool holds = shown.contains(word, Qt::CaseInsensitive);
            holding += holds ? 1 : 0;
            ASSERT_TRUE(!holds || TermMatcher(word).MayHold(line))
                << word.toStdString() << " in " << shown.toStdString();
        }
    }
    EXPECT_GT(holding, 1000);
    // A plain miss is told as one.
    EXPECT_FALSE(TermMatcher(QStringLiteral("zu")).MayHold("<03/14/2004> SUCCESS http://a/"));
    EXPECT_FALSE(TermMatcher(QString::fromUtf16(u"\u00FC")).MayHold("u \xC3\xBD \xC3"));
}

}  // namespace
}  // namespace orvalin
