#pragma once

#include "core/Json.h"

#include <QByteArray>

#include <string>
#include <vector>

// Session frames and their "frame_chunk" slices, cut as the platform's chunk format says: the whole
// frame's bytes in slices of 12,000 (the last one shorter), each in standard Base64 with padding,
// announced with the identity of the whole frame. Written here from the format, not borrowed from
// the stand-in's sender, so that a fault shared by both cannot hide.
namespace chunks
{
inline constexpr qsizetype kSliceBytes = 12000;

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
    const qsizetype total = (bytes.size() + kSliceBytes - 1) / kSliceBytes;
    std::vector<Json> result;
    for (qsizetype index = 0; index < total; ++index) {
        Json chunk = Json::object();
        for (const char *key : {"tenantId", "sessionId", "turnId", "seq"})
            if (whole.contains(key))
                chunk[key] = whole[key];
        chunk["kind"] = "frame_chunk";
        chunk["payload"] = {{"id", id},
                            {"encoding", "base64"},
                            {"index", index},
                            {"total", total},
                            {"data", bytes.mid(index * kSliceBytes, kSliceBytes).toBase64().toStdString()}};
        result.push_back(std::move(chunk));
    }
    return result;
}

inline std::vector<Json> split(const Json &whole, const std::string &id)
{
    return split(whole, json::dump(whole), id);
}
} // namespace chunks
