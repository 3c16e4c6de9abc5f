// The recommendation Tell a friend sends: what it starts from, where it is
// remembered, and the footer that names the product's web page.
#pragma once

#include <string>

#include "settings/settings_store.h"

namespace orvalin {

struct Recommendation {
    std::string from;
    std::string to;  // never remembered
    std::string subject;
    std::string body;  // line ends CR LF
};

// The default body: its paragraphs with an empty line between them, CR LF
// line ends, no line end after the last.
std::string DefaultRecommendationBody();

// The product's web page as the body is searched for it: without the scheme
// and without the leading label of the host ("example.org/page.html").
std::string ProductPageInBody();

// Three line ends, a rule of 62 "=", a line end and the page's address.
std::string RecommendationFooter();

// The body as sent: with the footer, unless the body mentions the page
// already somewhere after its very first character.
std::string BodyToSend(const std::string& body);

// The remembered sender, subject and body, or their defaults (the sender's
// default is senderEmail, the return address of the mail settings); the
// recipient starts empty.
Recommendation LoadRecommendation(const SettingsStore& store, const std::string& senderEmail);

// Remembers the sender, the subject and the body as typed, in that order
// (queued: see SettingsStore::Queue).
void StoreRecommendation(SettingsStore& store, const Recommendation& typed);

}  // namespace orvalin
