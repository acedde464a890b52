#pragma once

#include "core/Json.h"

#include <map>
#include <string>

// The live sessions the stand-in's platform runs: a session starts with `NativeStart`, the
// pending-inputs query reads its open gates, input requests and browser, the run controls steer it
// and the stop ends it. Shared by the turn service and the run controls.
class LiveSessions
{
public:
    struct Session
    {
        std::string tenant;
        std::string handsID;               // the start's "handsId": the executor its project calls name
        Json approvals = Json::array();    // records as the pending-inputs query lists them
        Json elicitations = Json::array(); // {"requestId", "params", "requestState"}
        bool browserAvailable = false;
        std::string browserHolder = "agent";
        bool paused = false;
        bool stopped = false;
    };

    void start(const std::string &id, Session session) { m_sessions[id] = std::move(session); }
    const Session *find(const std::string &id) const
    {
        const auto it = m_sessions.find(id);
        return it == m_sessions.end() ? nullptr : &it->second;
    }

    // What a run control the platform accepted changes: the decision of a gate, who holds the
    // browser, the run state, or the end of the session. `field` is the mutation's result field.
    void controlAccepted(const std::string &field, const Json &variables);

private:
    std::map<std::string, Session> m_sessions;
};
