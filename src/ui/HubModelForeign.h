#pragma once

#include "session/HubModel.h"

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
