#pragma once

#include "core/WorkspaceEvent.h"

#include <QString>

#include <optional>

// One agent's live token and cost tally, folded from "usage" events. The flags only ever turn on:
// `unconfirmedTokens` makes `tokens` a lower bound, `unknown` makes the cost unknown.
struct NativeUsage
{
    qint64 tokens = 0;
    bool tokensObserved = false;
    bool unconfirmedTokens = false;
    double estimatedAmount = 0;
    std::optional<QString> currency; // fixed by the first accepted cost
    bool unknown = false;

    void apply(const WorkspaceEvent &event);

    // "Est. " and the amount in the current locale's currency style, or "Cost unknown".
    QString label() const;

private:
    void applyTokens(const EventPayload &payload);
    void applyCost(const EventPayload &payload);
};
