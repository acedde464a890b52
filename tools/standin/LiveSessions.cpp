#include "standin/LiveSessions.h"

#include <QDateTime>

void LiveSessions::controlAccepted(const std::string &field, const Json &variables)
{
    const Json &input = field == "tavriloStopRun" ? variables : variables.value("input", Json::object());
    const auto found = m_sessions.find(input.value("sessionId", std::string()));
    if (found == m_sessions.end())
        return;
    Session &session = found->second;
    if (field == "tavriloStopRun") {
        session.stopped = true;
        session.approvals = Json::array();
        session.elicitations = Json::array();
        session.browserAvailable = false;
        session.browserHolder = "agent";
    } else if (field == "tavriloRecordApproval") {
        for (Json &approval : session.approvals)
            if (approval.value("id", std::string()) == input.value("toolUseId", std::string())) {
                approval["decision"] = input.value("decision", Json());
                approval["recordedAt"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
                approval["paused"] = false;
            }
    } else if (field == "tavriloSetBrowserControl") {
        session.browserHolder = input.value("holder", session.browserHolder);
    } else if (field == "tavriloSetRunState") {
        session.paused = input.value("state", std::string()) == "paused";
    }
}
