#include "desktop/logview/log_lines.h"

#include <QByteArrayView>

#include "resources/strings.h"

namespace orvalin {
namespace {

// "<%m/%d/%Y %H:%M:%S> " and the like: '<', up to 40 characters, "> ".
std::string_view AfterStamp(std::string_view line) {
    if (line.empty() || line.front() != '<') {
        return line;
    }
    const std::size_t close = line.substr(0, 42).find("> ");
    return close == std::string_view::npos ? line : line.substr(close + 2);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

LineLook LookOf(std::string_view line) {
    LineLook look;
    std::string_view text = AfterStamp(line);
    if (StartsWith(text, text::kLogMissedEntry)) {
        look.missed = true;
        text = AfterStamp(text.substr(text::kLogMissedEntry.size()));
    }
    if (StartsWith(text, text::kLogUnreachable) || StartsWith(text, text::kLogUnexpected) ||
        StartsWith(text, text::kLogCheckNotStarted)) {
        look.tone = LineTone::Failure;
    } else if (StartsWith(text, text::kLogWarning)) {
        look.tone = LineTone::Warning;
    }
    return look;
}

QString ShownLine(std::string_view line) {
    QString shown =
        QString::fromUtf8(QByteArrayView(line.data(), static_cast<qsizetype>(line.size())));
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if (u < 0x20 && u != u'\t') {
            c = QChar(static_cast<char16_t>(0x2400 + u));  // the control picture
        } else if (u == 0x7F) {
            c = QChar(u'\u2421');
        }
    }
    return shown;
}

}  // namespace orvalin
