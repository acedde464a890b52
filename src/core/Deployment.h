#pragma once

#include <array>
#include <string_view>

// The platform deployment the hub talks to. These are placeholders under the reserved ".example"
// domain; a deployment sets its own values here. The configuration checks use them as fixed sets.
namespace deployment
{
// The hosted sign-in hosts: the only hosts allowed in the authentication domain.
inline constexpr std::array<std::string_view, 2> kSignInHosts = {"auth.tavrilo.example", "login.tavrilo-cloud.example"};
// The platform's API host and its two domains (a GraphQL host may be the API host or any host
// ending in "." followed by one of the domains).
inline constexpr std::string_view kApiHost = "api.tavrilo.example";
inline constexpr std::array<std::string_view, 2> kPlatformDomains = {"tavrilo.example", "tavrilo-cloud.example"};
// Never a GraphQL host: the sign-in hosts and the platform's database host.
inline constexpr std::string_view kDatabaseHost = "db.tavrilo.example";
inline constexpr std::array<std::string_view, 3> kDeniedGraphQLHosts = {kSignInHosts[0], kSignInHosts[1],
                                                                         kDatabaseHost};

inline constexpr std::string_view kDefaultAuthDomain = "https://auth.tavrilo.example";
inline constexpr std::string_view kDefaultGraphQLEndpoint = "https://api.tavrilo.example/graphql";

// The command channel service's protocol identifier, which a build-shell grant must name exactly.
inline constexpr std::string_view kCommandShellProtocol = "tavrilo-command-channel.v1";

// The platform's one live-view host and the path of its live-view page: a live-browser grant must
// name exactly these, and the live browser view navigates nowhere else.
inline constexpr std::string_view kLiveViewHost = "live.tavrilo.example";
inline constexpr std::string_view kLiveViewPath = "/browser-live/index.html";

// Amazon Cognito writes "https://cognito-idp.<region>.amazonaws.com/<pool id>" into `iss`.
inline constexpr std::string_view kCognitoIssuerPrefix = "https://cognito-idp.";
inline constexpr std::string_view kCognitoIssuerSuffix = ".amazonaws.com/";
} // namespace deployment
