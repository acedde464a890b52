#pragma once

#include <QString>
#include <QStringList>

// Which hosts the stand-in plays. Host names are compared in lower case, as DNS does.
namespace platformhosts
{
// The only port the platform serves.
inline constexpr quint16 kPort = 443;

// The deployment's sign-in hosts.
bool isSignInHost(const QString &host);
// Hosts that may carry the GraphQL endpoint: the API host, hosts under the platform's domains other
// than the sign-in and database hosts, and AppSync GraphQL hosts.
bool isGraphQLHost(const QString &host);
// Hosts of the realtime WebSocket: the GraphQL hosts (the hub derives its realtime URL from the
// GraphQL endpoint) and AppSync realtime hosts.
bool isRealtimeHost(const QString &host);
// The command channel service's hosts (build shell).
bool isCommandChannelHost(const QString &host);

// Whether `host` is a plain DNS name as written: ASCII letters (either case), digits and hyphens in
// labels of at most 63 characters, at most 253 in all. Checked before any case mapping, which would
// turn some letters outside ASCII into ASCII ones (U+212A KELVIN SIGN lower-cases to "k").
bool isDnsName(const QString &host);

// Whether a CONNECT to `host`:`port` is one the stand-in answers: any host of the platform above,
// any host under the platform's domains, or one of `extraHosts` (from the scenario), on port 443.
bool acceptsConnect(const QString &host, quint16 port, const QStringList &extraHosts);
} // namespace platformhosts
