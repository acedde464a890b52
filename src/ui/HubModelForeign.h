#pragma once

#include "session/HubActions.h"
#include "session/HubModel.h"
#include "session/KeyedListModel.h"
#include "workspace/ShellLines.h"

#include <QtQml/qqml.h>

// The session model, as the views know it: one per window, made by the application and handed to
// the root view, never created from QML.
struct HubModelForeign
{
    Q_GADGET
    QML_FOREIGN(HubModel)
    QML_NAMED_ELEMENT(HubModel)
    QML_UNCREATABLE("The application makes the session model and hands it to the window.")
};

// The model's actions (`model.actions`), for views that are handed them alone.
struct HubActionsForeign
{
    Q_GADGET
    QML_FOREIGN(HubActions)
    QML_NAMED_ELEMENT(HubActions)
    QML_UNCREATABLE("The session model owns its actions.")
};

// A list the model shows row by row (`model.events`, `model.approvals`, ...).
struct KeyedListModelForeign
{
    Q_GADGET
    QML_FOREIGN(KeyedListModel)
    QML_NAMED_ELEMENT(KeyedListModel)
    QML_UNCREATABLE("The session model owns its lists.")
};

// The build shell's transcript as lines (`model.documents.shellLines`).
struct ShellLinesForeign
{
    Q_GADGET
    QML_FOREIGN(ShellLines)
    QML_NAMED_ELEMENT(ShellLines)
    QML_UNCREATABLE("The workspace tools own the transcript.")
};
