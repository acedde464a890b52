#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// The build shells the stand-in has granted: the GraphQL operations grant, authorise resizes of and
// release them; the command channel's connections look them up.
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
};
