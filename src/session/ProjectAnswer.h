#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The answer of one project call, kept by call key so that a replay of the same request gets the same
// answer and a changed replay is refused.
struct ProjectAnswer
{
    QString sessionID;
    QByteArray requestDigest; // SHA-256 of the call's request
    QString handsID;          // the executor the call was addressed to
    QString tool;
    double deadline = 0; // as the platform sent it, milliseconds since 1970
    QString status;
    QString result;
    QStringList changed;   // project paths the call changed
    bool recorded = false; // the platform confirmed the answer; the only field that changes later

    // What the answer costs the cache: the UTF-8 bytes of result, status, each changed path, handsID
    // and tool. The session, digest and deadline are left out.
    qsizetype payloadBytes() const;
};

// A project call that was started. It outlives its answer, so a changed replay of the key is
// refused even after the answer was evicted.
struct ProjectCallTombstone
{
    QString sessionID;
    QByteArray requestDigest;
};
