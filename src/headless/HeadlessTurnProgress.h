#pragma once

#include <QString>

#include <optional>

// The turn a headless export observes and the terminal code that ended it.
struct HeadlessTurnProgress
{
    std::optional<QString> turnID;
    std::optional<QString> terminalCode;
};
