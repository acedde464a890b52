#pragma once

#include "cloud/NativeControls.h"

#include <QString>

// The status line after the platform accepted a run control: what the user is told for each kind of
// control, from the platform's answer and the control's own values. An approval's sentence is
// shown only once the pending inputs were read again; a stop reports through the session close.
namespace runcontroloutcome
{
// What an accepted control sets beside the status line.
struct Outcome
{
    QString sentence;
    std::optional<QString> browserHolder; // a browser control: who holds the browser now
    std::optional<bool> operatorPaused;   // a run-state control: whether the run is paused now
};

Outcome accepted(const NativeControls::Command &command, const NativeControls::Answer &answer);
} // namespace runcontroloutcome
