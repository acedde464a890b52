#pragma once

#include "standin/Outcome.h"
#include "standin/Scenario.h"

#include "core/Json.h"

#include <QString>

#include <optional>

// One scripted answer of an HTTPS service: a scenario step (see README.md, "Steps").
namespace scriptedstep
{
// Why `step` is not a valid HTTPS step, or an empty text when it is. `graphql` allows the GraphQL
// body members ("data", "errors", "answer").
QString validate(const Json &step, bool graphql);

// Whether `pattern` holds in `value`: every member of an object pattern must be present and match
// recursively; any other pattern must equal the value.
bool matches(const Json &pattern, const Json &value);

// Shapes the outcome of a request from `step`, starting from the service's own answer, which is
// made only when the step needs it. `field` is the result field of a GraphQL operation ("answer"
// places its value there); empty when the operation is not known.
template <typename MakeDefault>
Outcome apply(const Json &step, const MakeDefault &makeDefault, const QString &field = {});

// The pieces `apply` is made of, for services that shape answers in other ways.
std::optional<Outcome::Fault> faultNamed(const std::string &name);
QByteArray padTo(QByteArray body, qsizetype size);
Outcome applyHttp(const Json &step, Outcome base, const QString &field);
bool replacesBody(const Json &step);
} // namespace scriptedstep

template <typename MakeDefault>
Outcome scriptedstep::apply(const Json &step, const MakeDefault &makeDefault, const QString &field)
{
    Outcome base;
    // A fault or a body of the step's own leaves the service's answer unmade, so that answers with
    // effects (counters) run only when they are sent.
    const bool faultOnly = step.contains("fault") && step["fault"] != "truncate";
    if (!faultOnly && !replacesBody(step))
        base = makeDefault();
    return applyHttp(step, std::move(base), field);
}

namespace scriptedstep
{
// The answer of an HTTPS route: the scenario's step for `section`/`key` applied to the route's own
// answer, or that answer alone when the scenario has no step for this request.
template <typename MakeDefault>
Outcome answer(Scenario &scenario, std::string_view section, std::string_view key, const Json &view,
               const MakeDefault &makeDefault)
{
    if (auto step = scenario.take(section, key, view))
        return scriptedstep::apply(*step, makeDefault);
    return makeDefault();
}
} // namespace scriptedstep
