#include "daemon_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace orvalin::test {

std::string EscapeRegex(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

bool MatchesStamp(const std::string& text) {
    return std::regex_match(text, std::regex(kStampPattern));
}

std::multimap<std::string, PrintedCheck> PrintedChecks(const std::string& out) {
    static const std::regex line(
        "(?:(.+): )?(\\S+): (success|slow|unexpected response|unreachable|no network)(?: "
        "\\((.+)\\))?; "
        "Last access: (.+)");
    std::multimap<std::string, PrintedCheck> checks;
    std::size_t start = 0;
    if (out.starts_with("ORVALIN ")) {
        start = std::min(out.find('\n'), out.size() - 1) + 1;
    }
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) {
            end = out.size();
        }
        const std::string text = out.substr(start, end - start);
        std::smatch parts;
        if (std::regex_match(text, parts, line)) {
            // Without a caption of its own the address is the caption.
            checks.emplace(parts[2], PrintedCheck{parts[1].matched ? parts[1] : parts[2], parts[3],
                                                  parts[5], parts[4]});
        } else {
            checks.emplace("", PrintedCheck{text, "", "", ""});
        }
        start = end + 1;
    }
    return checks;
}

std::optional<PluginOutput> ParsePluginLine(const std::string& line) {
    // 'label'=value[UOM];[warn];[crit];[min];[max], a quote inside a quoted label doubled.
    static const std::regex value(
        R"( *(?:'((?:[^']|'')+)'|([^=' ]+))=(U|-?[0-9.]+)([a-zA-Z%]*))"
        R"((?:;([^; ]*))?(?:;([^; ]*))?(?:;([^; ]*))?(?:;([^; ]*))?(?: +|$))");
    const std::size_t bar = std::min(line.find('|'), line.size());
    PluginOutput output{line.substr(0, line.find_last_not_of(' ', bar - 1) + 1), {}};
    for (auto at = line.cbegin() + static_cast<std::ptrdiff_t>(std::min(bar + 1, line.size()));
         at != line.cend();) {
        std::smatch parts;
        if (!std::regex_search(at, line.cend(), parts, value,
                               std::regex_constants::match_continuous) ||
            (parts[3] == "U" && parts[4].length() > 0)) {
            return std::nullopt;  // an undetermined value has no unit
        }
        const std::string label = parts[1].matched
                                      ? std::regex_replace(parts[1].str(), std::regex("''"), "'")
                                      : parts[2].str();
        output.perf.push_back({label,
                               parts[3] == "U" ? std::nullopt : std::optional(std::stod(parts[3])),
                               parts[4], parts[5], parts[6], parts[7], parts[8]});
        at = parts[0].second;
    }
    return output;
}

std::string FirstLine(const std::string& out) {
    return out.substr(0, out.find('\n'));
}

std::vector<std::string> LogLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back("<malformed>");
            break;
        }
        std::string line = bytes.substr(start, end - start);
        lines.push_back(line.find('\n') == std::string::npos ? line : "<malformed>");
        start = end + 2;
    }
    return lines;
}

SplitMail Split(const ReceivedMail& mail) {
    SplitMail split;
    const std::string& data = mail.data;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = data.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "no end of header in:\n" << data;
            return split;
        }
        if (end == start) {
            start = end + 2;
            break;
        }
        const std::string line = data.substr(start, end - start);
        const std::size_t colon = line.find(": ");
        split.headers.emplace_back(line.substr(0, colon),
                                   colon == std::string::npos ? "" : line.substr(colon + 2));
        start = end + 2;
    }
    split.body = data.substr(start);
    if (split.body.ends_with("\r\n")) {
        split.body.resize(split.body.size() - 2);
    } else {
        ADD_FAILURE() << "the message does not end with a line end:\n" << data;
    }
    return split;
}

ReceivedMail OnlyMailWithSubject(const std::vector<ReceivedMail>& mails,
                                 const std::string& subject) {
    std::vector<ReceivedMail> found;
    for (const auto& mail : mails) {
        for (const auto& [name, value] : Split(mail).headers) {
            if (name == "Subject" && value == subject) {
                found.push_back(mail);
            }
        }
    }
    if (found.size() != 1) {
        ADD_FAILURE() << found.size() << " mails with the subject \"" << subject << "\"";
        return {};
    }
    return found.front();
}

}  // namespace orvalin::test
