#pragma once

#include "core/Json.h"

#include <utility>

// Pieces of a turn the stand-in plays: a realtime frame of session turn "t1", the action that sends
// it, and an open deployment gate of that turn.
namespace scriptedturn
{
inline Json sessionFrame(int seq, const char *kind, Json payload, const char *agent = "tavrilo_builder")
{
    return {{"v", 1},       {"ts", "2026-05-01T10:00:00Z"}, {"turnId", "t1"}, {"seq", seq}, {"agent", agent},
            {"kind", kind}, {"payload", std::move(payload)}};
}

inline Json send(Json frame, int delayMs = 0)
{
    Json action{{"frame", std::move(frame)}};
    if (delayMs > 0)
        action["delayMs"] = delayMs;
    return action;
}

inline const Json kDeployGate{{"id", "gate-1"},
                              {"kind", "deploy"},
                              {"summary", "Ship the fix"},
                              {"detail", Json::array()},
                              {"paused", true},
                              {"decision", nullptr},
                              {"recordedAt", nullptr},
                              {"acceptanceCriteria", Json::array()},
                              {"turnId", "t1"},
                              {"revision", nullptr},
                              {"round", "1"}};
} // namespace scriptedturn
