#pragma once

class EventLog;
class Scenario;

// What every service may use: the log and the current scenario (replaced in place, so the
// reference stays good).
struct ServiceContext
{
    EventLog &log;
    Scenario &scenario;
};
