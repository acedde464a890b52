#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// The workspace tools the stand-in has granted: build shells, which the GraphQL operations grant,
// authorise resizes of and release and the command channel's connections look up, and live-browser
// sessions.
struct BuildShells
{
    struct Shell
    {
        QString sessionID;
        bool released = false;
        int connections = 0;                // opened so far
        QList<QPair<int, int>> authorised;  // (columns, rows) the platform authorised
    };

    QHash<QString, Shell> shells; // by shell id
    int granted = 0;

    // Live-browser sessions granted, by browser session id, with their session.
    QHash<QString, QString> browserSessions;
    int browsersGranted = 0;
};
