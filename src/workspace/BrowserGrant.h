#pragma once

#include "core/Json.h"

#include <QDateTime>
#include <QUrl>

#include <chrono>
#include <optional>

// The rules of a live-browser grant: its live-view URL, its browser session identity, when it is
// renewed, and where the live view may navigate.
namespace browsergrant
{
inline constexpr qsizetype kMaximumSessionIdentity = 256;
// Renewals are due this long before a grant expires, and the renewal of a grant without an expiry
// after this long.
inline constexpr std::chrono::seconds kRenewalLead{30};
// A renewal never waits longer than this, whatever expiry the platform names.
inline constexpr std::chrono::hours kLongestRenewalDelay{24};

// The live-view page of a grant's "url" member: https, the live-view host exactly, its page's path
// exactly, and a fragment (the page's credential, never logged); none otherwise.
std::optional<QUrl> liveViewURL(const Json &grant);
// The grant's "browserSessionId" member: a string of 1 to 256 characters; none otherwise.
std::optional<QString> sessionIdentity(const Json &grant);
// How long after `now` the grant is renewed: 30 s before its "expiresAt" (milliseconds since 1970),
// at least 1 s and at most a day; 30 s when it names no expiry.
std::chrono::milliseconds renewalDelay(const Json &grant, const QDateTime &now);

// Whether the live browser view may go to `url`: the blank page, or the live-view page (any query
// or fragment). Applied to every navigation, frames and redirects included.
bool allowsLiveViewNavigation(const QUrl &url);
// Whether the page of an input request may go to `url`: https, in the top-level frame only.
bool allowsInputRequestNavigation(const QUrl &url, bool mainFrame);
} // namespace browsergrant
