#pragma once

#include "support/StandIn.h"

#include <gtest/gtest.h>

#include <optional>

// One stand-in for a whole test program, started before the first test and stopped after the last:
// hub code reads the proxy and trust variables once per process, so they must point at one stand-in
// before anything is sent. Register it with ::testing::AddGlobalTestEnvironment.
class SharedStandIn : public ::testing::Environment
{
public:
    explicit SharedStandIn(std::optional<Json> scenario = std::nullopt) : m_scenario(std::move(scenario)) {}

    void SetUp() override
    {
        s_standIn = new StandIn(m_scenario);
        s_standIn->applyToEnvironment();
    }
    void TearDown() override
    {
        delete s_standIn;
        s_standIn = nullptr;
    }

    // The running stand-in; only between SetUp and TearDown.
    static StandIn &get() { return *s_standIn; }

private:
    static inline StandIn *s_standIn = nullptr;
    std::optional<Json> m_scenario;
};
