#pragma once

#include "core/Json.h"

#include <QString>

// Steps of the scenario's "connect" section, keyed by host ("*" for any): what happens to a CONNECT
// that the policy accepts. Members: "match" (view {"host", "port"}), "times", "delayMs" before the
// answer, and "fault": "refuse" (502, as a proxy that cannot reach the host) or "drop" (the
// connection closes without an answer). Without a fault the tunnel opens after the delay.
namespace connectstep
{
QString validate(const Json &step);
} // namespace connectstep
