#pragma once

#include "standin/HttpResponse.h"

#include <QString>

// What the stand-in does with one HTTPS request: answer it, or a scripted fault, after a delay.
struct Outcome
{
    enum class Fault {
        None,     // write the response
        Drop,     // close the connection without answering
        Stall,    // never answer; the connection stays open until the client leaves
        Truncate, // announce the whole body, send half of it, close
    };

    HttpResponse response;
    Fault fault = Fault::None;
    int delayMs = 0;
    bool scripted = false; // whether a scenario step shaped it (shown in the log)
};
