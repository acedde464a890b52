#pragma once

#include "core/Json.h"
#include "standin/RealtimeService.h"

#include <QByteArray>

#include <string>
#include <vector>

// Session frames and their "frame_chunk" slices, cut as the stand-in platform cuts them.
namespace chunks
{
inline Json frame(qint64 seq, std::string kind = "message", std::size_t payloadBytes = 16, std::string turn = "turn-1",
                  std::string session = "prj-1", std::string tenant = "tenant-1")
{
    return Json{{"v", 1},
                {"ts", "2026-01-01T00:00:00Z"},
                {"turnId", turn},
                {"seq", seq},
                {"sessionId", session},
                {"tenantId", tenant},
                {"agent", "builder"},
                {"kind", kind},
                {"payload", {{"text", std::string(payloadBytes, 'x')}}}};
}

// The chunk frames of `bytes`, announced with the identity of `whole`.
inline std::vector<Json> split(const Json &whole, const QByteArray &bytes, const std::string &id)
{
    return realtimeservice::chunkFrames(whole, bytes, id);
}

inline std::vector<Json> split(const Json &whole, const std::string &id)
{
    return split(whole, json::dump(whole), id);
}
} // namespace chunks
