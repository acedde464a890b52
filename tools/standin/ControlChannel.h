#pragma once

#include "standin/HttpRequest.h"
#include "standin/HttpResponse.h"

class ProxyServer;

// The plain-HTTP control channel under "/_standin/" on the proxy port, for tests and demos:
//   POST /_standin/scenario   replaces the scenario (400 with {"error": ...} when it is invalid)
//   GET  /_standin/log?from=N the log from entry N on: {"next": M, "entries": [...]}
// and the control routes that services register.
namespace controlchannel
{
HttpResponse handle(ProxyServer &server, const HttpRequest &request);
} // namespace controlchannel
