#pragma once

#include "core/Json.h"

#include <QString>

class ServiceRegistry;

// The build shell's command channel: a WebSocket per connection to a granted shell
// (`wss://<command channel host>/shells/<shell id>`), binary messages whose first byte is the
// channel. The shell it plays echoes input on standard output, answers "exit N" with an exit
// status, logs heartbeats, resizes and close frames, and plays what a scenario's "commandChannel"
// section scripts (README.md). Registers the "NativeDocument" operations that grant the shells too.
namespace commandchannel
{
// Bounds of a "commandChannel" step; a step past one is refused with the scenario.
inline constexpr qint64 kMaxRepeat = 10'000;
inline constexpr qint64 kMaxMessageBytes = 1024 * 1024;
inline constexpr qint64 kStepBytes = 64LL * 1024 * 1024;
// The largest message a client may send: the channel's frame.
inline constexpr qint64 kMaxClientMessageBytes = 65536;

void registerService(ServiceRegistry &registry);

// Why a "commandChannel" step is invalid, or an empty text.
QString validate(const Json &step);
} // namespace commandchannel
