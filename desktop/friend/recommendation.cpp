#include "desktop/friend/recommendation.h"

#include "resources/logview_texts.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::string DefaultRecommendationBody() {
    std::string body;
    const auto addParagraph = [&body](std::string_view paragraph) {
        if (!body.empty()) {
            body.append(kLineEnd).append(kLineEnd);
        }
        body.append(paragraph);
    };
    for (const std::string_view paragraph : text::kFriendBodyOpening) {
        addParagraph(paragraph);
    }
    addParagraph(std::string(text::kFriendBodyDownload) + std::string(text::kProductWebPage));
    for (const std::string_view paragraph : text::kFriendBodyClosing) {
        addParagraph(paragraph);
    }
    return body;
}

std::string ProductPageInBody() {
    std::string_view page = text::kProductWebPage;
    if (const std::size_t scheme = page.find("://"); scheme != std::string_view::npos) {
        page.remove_prefix(scheme + 3);
    }
    const std::string_view host = page.substr(0, page.find('/'));
    if (const std::size_t dot = host.find('.'); dot != std::string_view::npos) {
        page.remove_prefix(dot + 1);
    }
    return std::string(page);
}

std::string RecommendationFooter() {
    std::string footer;
    for (int i = 0; i < 3; ++i) {
        footer.append(kLineEnd);
    }
    footer.append(text::kFooterRuleLength, '=');
    footer.append(kLineEnd);
    footer.append(text::kFooterLead);
    footer.append(text::kProductWebPage);
    return footer;
}

std::string BodyToSend(const std::string& body) {
    const std::size_t mention = body.find(ProductPageInBody());
    if (mention == std::string::npos || mention == 0) {
        return body + RecommendationFooter();
    }
    return body;
}

Recommendation LoadRecommendation(const SettingsStore& settings, const std::string& senderEmail) {
    // As last read or written: the GUI thread never waits for the file.
    const SettingsSnapshot store = settings.Cached();
    Recommendation r;
    r.from = store.ReadString(key::kLastFriendFrom.section, key::kLastFriendFrom.name, senderEmail);
    r.subject = store.Read(key::kLastFriendSubject);
    r.body = store.ReadString(key::kLastFriendBody.section, key::kLastFriendBody.name,
                              DefaultRecommendationBody());
    return r;
}

void StoreRecommendation(SettingsStore& store, const Recommendation& typed) {
    store.Queue(SettingsBatch()
                    .Set(key::kLastFriendFrom, typed.from)
                    .Set(key::kLastFriendSubject, typed.subject)
                    .Set(key::kLastFriendBody, typed.body));
}

}  // namespace orvalin
