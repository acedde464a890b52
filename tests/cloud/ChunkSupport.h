#pragma once

#include "core/Json.h"

#include <QByteArray>

#include <string>
#include <vector>

// Session frames and their "frame_chunk" slices, as the platform sends them.
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
inline std::vector<Json> split(const Json &whole, const QByteArray &bytes, const std::string &id, qsizetype slice = 12000)
{
    std::vector<Json> result;
    const int total = int((bytes.size() + slice - 1) / slice);
    for (int index = 0; index < total; ++index) {
        const QByteArray data = bytes.mid(index * slice, slice).toBase64();
        Json chunk{{"sessionId", whole.at("sessionId")},
                   {"tenantId", whole.at("tenantId")},
                   {"seq", whole.at("seq")},
                   {"kind", "frame_chunk"},
                   {"payload",
                    {{"id", id},
                     {"encoding", "base64"},
                     {"index", index},
                     {"total", total},
                     {"data", data.toStdString()}}}};
        if (whole.contains("turnId"))
            chunk["turnId"] = whole.at("turnId");
        result.push_back(std::move(chunk));
    }
    return result;
}

inline std::vector<Json> split(const Json &whole, const std::string &id)
{
    return split(whole, json::dump(whole), id);
}
} // namespace chunks
