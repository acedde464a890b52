#pragma once

#include <QString>

// The validated shared layout of the workspace window: grid columns and rows, four regions, motion
// curves and spring, read from the "layout.json" resource.
class HubLayout
{
public:
    // Reads and validates the bundled resource; throws HubError "Shared layout resource missing." or
    // "Invalid shared workspace geometry or motion tokens.".
    static HubLayout load();
};
