#pragma once

#include "core/Json.h"

#include <QString>

#include <optional>

// The claims of an identity token (a JWT in compact form), read without checking its signature: the
// hub only learns from them which workspace the token is signed for and when it expires.
namespace identityclaims
{
// The sentences of a payload that is no Base64 or no JSON object: the renewal's and hydration's.
inline constexpr const char *kUnreadable = "Unreadable identity token.";
inline constexpr const char *kHydrationUnreadable = "Identity token claims are unreadable.";

// The claims object: the token must have exactly three segments once empty ones are dropped
// ("Malformed identity token."); the second is base64url without padding. `unreadable` is thrown for
// a payload that does not decode or is no JSON object; bytes that are no JSON throw the JSON
// reader's sentence.
Json read(const QString &token, const char *unreadable = kUnreadable);

// "custom:tenant_id" when it is a string.
std::optional<QString> tenant(const Json &claims);
// "exp" when it is a number: seconds since 1970.
std::optional<double> expiry(const Json &claims);
} // namespace identityclaims
