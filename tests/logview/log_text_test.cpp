// The line index and what the viewer makes of a line's bytes: lines of any
// bytes and any length, their colours, and finding text in them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "desktop/logview/log_lines.h"
#include "desktop/logview/log_search.h"
#include "desktop/logview/log_text.h"
#include "logs/log_file_access.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

std::vector<std::string> Lines(const LogText& text) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < text.LineCount(); ++i) {
        lines.push_back(text.CopyLine(i));
    }
    return lines;
}

// Indexes content the way the loader does, in reads of at most chunk bytes.
std::shared_ptr<LogText> Fed(const std::string& content, std::size_t chunk, LogBudget budget = {}) {
    auto text = std::make_shared<LogText>(std::make_shared<MemorySource>(content), budget);
    for (std::size_t at = 0; at < content.size(); at += chunk) {
        text->Index(std::string_view(content).substr(at, chunk));
    }
    text->Finish();
    return text;
}

// Every line's length as read, forward and backward alike.
std::vector<std::uint64_t> Lengths(const LogText& text) {
    std::vector<std::uint64_t> forward;
    std::vector<std::uint64_t> backward;
    text.ForEachLine(0, text.LineCount(), false, [&](std::uint64_t, const LogText::Line& line) {
        forward.push_back(line.length);
        return true;
    });
    text.ForEachLine(0, text.LineCount(), true, [&](std::uint64_t, const LogText::Line& line) {
        backward.insert(backward.begin(), line.length);
        return true;
    });
    EXPECT_EQ(forward, backward);
    return forward;
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

TEST(LogTextTest, LinesAcrossReadsAndGroupsReadWholeAndALongLineAsItsFirst64KiB) {
    // Short lines, then a 1 MB line, a short one, a 5 MiB one and the last:
    // lines end on both sides of every read's edge, and long lines cross
    // many reads and groups.
    std::string content;
    std::vector<std::string> expected;
    std::vector<std::uint64_t> lengths;
    const auto add = [&](const std::string& line, const char* end) {
        lengths.push_back(line.size());
        expected.push_back(line.substr(0, 65536));
        content += line + end;
    };
    while (content.size() < 300'000) {
        add("<03/14/2004 09:05:07> SUCCESS http://a/ " + std::to_string(expected.size()) + "ms",
            "\r\n");
    }
    add(std::string(1'000'000, 'x'), "\r\n");
    add("after the megabyte line", "\n");
    add(std::string(std::size_t{5} << 20, 'y'), "\r\n");
    add("last", "\n");
    for (const std::size_t chunk : {std::size_t{4093}, std::size_t{1} << 20}) {
        const auto text = Fed(content, chunk);
        ASSERT_EQ(text->LineCount(), expected.size());
        EXPECT_EQ(Lines(*text), expected);
        EXPECT_EQ(Lengths(*text), lengths);
        EXPECT_EQ(text->LongestLine(), (std::size_t{5} << 20) + 1);  // its CR counted
        EXPECT_EQ(text->Size(), content.size());
        EXPECT_EQ(text->Change(), LogChange::None);
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

TEST(LogTextTest, AnyRangeOfLinesIsFoundAgainFromTheIndexAlone) {
    // A small budget: groups of at most 4 lines or 64 bytes, reads of 256
    // bytes, lines shown up to 100 bytes; lines longer than a group, a read
    // and the window, and runs of empty lines.
    const LogBudget budget{256, 4, 64, 100};
    std::string content;
    std::vector<std::string> expected;
    std::vector<std::uint64_t> lengths;
    for (int i = 0; i < 600; ++i) {
        const std::string line = i % 97 == 5   ? std::string(300 + i, 'L')
                                 : i % 31 == 7 ? std::string()
                                               : "<03/14/2004> line " + std::to_string(i);
        content += line + (i % 3 == 0 ? "\n" : "\r\n");
        expected.push_back(line.substr(0, 100));
        lengths.push_back(line.size());
    }
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{50}, std::size_t{4096}}) {
        const auto text = Fed(content, chunk, budget);
        ASSERT_EQ(Lines(*text), expected);
        EXPECT_EQ(Lengths(*text), lengths);
        // Ranges that start and end inside groups, read both ways.
        for (const auto& [first, end] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                 {0, 1}, {3, 9}, {101, 102}, {250, 410}, {599, 600}, {598, 700}}) {
            std::vector<std::uint64_t> forward;
            std::vector<std::uint64_t> backward;
            text->ForEachLine(first, end, false, [&](std::uint64_t line, const LogText::Line& l) {
                EXPECT_EQ(l.bytes, expected[line]);
                forward.push_back(line);
                return true;
            });
            text->ForEachLine(first, end, true, [&](std::uint64_t line, const LogText::Line& l) {
                EXPECT_EQ(l.bytes, expected[line]);
                backward.insert(backward.begin(), line);
                return true;
            });
            ASSERT_EQ(forward.size(), std::min<std::uint64_t>(end, 600) - first);
            EXPECT_EQ(forward.front(), first);
            EXPECT_EQ(forward, backward);
        }
    }
}

TEST(LogTextTest, ALogCutRewrittenReplacedOrDeletedSinceItWasIndexedIsNoticed) {
    test::TempDir dir;
    const std::filesystem::path log = dir / "access.log";
    std::string content;
    std::vector<std::string> lines;
    for (int i = 0; i < 400; ++i) {
        lines.push_back("<03/14/2004 09:05:07> SUCCESS http://a/ " + std::to_string(i) + "ms");
        content += lines.back() + "\r\n";
    }
    const auto index = [&] {
        std::ofstream(log, std::ios::binary) << content;
        auto source = std::make_shared<FileSource>(log);
        EXPECT_TRUE(source->Open());
        auto text = std::make_shared<LogText>(source, LogBudget{4096, 16, 512, 100});
        text->Index(content);
        text->Finish();
        source->Unlock();
        return text;
    };
    const auto readable = [](const LogText& text, std::uint64_t line) {
        bool yes = false;
        text.ForEachLine(line, line + 1, false, [&](std::uint64_t, const LogText::Line& l) {
            yes = l.readable && l.bytes.starts_with("<03/14/2004 09:05:07> SUCCESS");
            return true;
        });
        return yes;
    };

    // Replaced (a rotation) and deleted: the open file still holds the old
    // lines, which are shown and told to be the old file's.
    auto text = index();
    std::ofstream(dir / "new.log") << "<03/14/2004 10:00:00> SUCCESS http://b/ 1ms\r\n";
    std::filesystem::rename(dir / "new.log", log);
    EXPECT_TRUE(readable(*text, 399));
    EXPECT_EQ(text->Change(), LogChange::Replaced);
    EXPECT_EQ(text->CopyLine(1), "<03/14/2004 09:05:07> SUCCESS http://a/ 1ms");
    text = index();
    std::filesystem::remove(log);
    EXPECT_TRUE(readable(*text, 200));
    EXPECT_EQ(text->Change(), LogChange::Deleted);

    // Cut: the lines past the cut cannot be read; those before it still can.
    text = index();
    std::filesystem::resize_file(log, content.size() / 2);
    EXPECT_FALSE(readable(*text, 399));
    EXPECT_TRUE(readable(*text, 10));
    EXPECT_EQ(text->Change(), LogChange::Changed);

    // Emptied and written again to the same size: no line of the new
    // bytes is shown as an old one.
    text = index();
    ASSERT_TRUE(TruncateLogFile(log));
    std::string other = content;
    std::replace(other.begin(), other.end(), '5', '6');
    std::ofstream(log, std::ios::binary | std::ios::app) << other;
    for (std::uint64_t line = 0; line < 400; ++line) {
        const std::string shown = text->CopyLine(line);
        ASSERT_TRUE(shown.empty() || shown == lines[line]) << shown;
    }
    EXPECT_FALSE(readable(*text, 50));  // its group holds a changed byte
    EXPECT_EQ(text->Change(), LogChange::Changed);
}

TEST(LogTextTest, ALineBeingReadIsNotShownUntilItEnds) {
    const std::string content = "<03/14/2004 09:05:07> SUCCESS a\r\nnext";
    LogText text(std::make_shared<MemorySource>(content));
    text.Index(std::string_view(content).substr(0, 26));
    EXPECT_EQ(text.LineCount(), 0u);
    text.Index(std::string_view(content).substr(26));
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
    // Lines one by one, and runs of 100 of them as a group of lines is
    // looked at: from the start of each line that holds the word, the next
    // place it may start is inside that line.
    int holding = 0;
    for (int group = 0; group < 40; ++group) {
        std::string run;
        std::vector<std::pair<std::size_t, std::size_t>> bounds;
        std::vector<QString> shownLines;
        for (int n = 0; n < 100; ++n) {
            std::string line;
            for (std::uint32_t k = next() % 12; k > 0; --k) {
                line += pieces[next() % pieces.size()];
            }
            bounds.emplace_back(run.size(), run.size() + line.size());
            run += line + "\r\n";
            shownLines.push_back(ShownLine(line));
        }
        for (const QString& word : words) {
            const TermMatcher matcher(word);
            for (std::size_t n = 0; n < bounds.size(); ++n) {
                if (!shownLines[n].contains(word, Qt::CaseInsensitive)) {
                    continue;
                }
                ++holding;
                const auto [start, end] = bounds[n];
                ASSERT_TRUE(matcher.MayHold(std::string_view(run).substr(start, end - start)))
                    << word.toStdString() << " in " << shownLines[n].toStdString();
                ASSERT_LT(matcher.Next(run, start), end)
                    << word.toStdString() << " in " << shownLines[n].toStdString();
            }
        }
    }
    EXPECT_GT(holding, 1000);
    // A plain miss is told as one.
    EXPECT_FALSE(TermMatcher(QStringLiteral("zu")).MayHold("<03/14/2004> SUCCESS http://a/"));
    EXPECT_FALSE(TermMatcher(QString::fromUtf16(u"\u00FC")).MayHold("u \xC3\xBD \xC3"));
}

}  // namespace
}  // namespace orvalin
