// Release checks of EventProjection: the evaluators' verdicts and the guidance under a turn error.
#include "live/EventProjection.h"

#include "live/PayloadInput.h"
#include "live/ReadPayload.h"
#include "live/StrictNumbers.h"

namespace
{
const QString kRequestedRound = QStringLiteral("requested-specialist-round");
const QString kPass = QStringLiteral("PASS");
const QString kFail = QStringLiteral("FAIL");

// "tavrilo_code_reviewer" -> "Code_reviewer": the prefix dropped, each space-separated word with
// its first letter upper case and the rest lower case.
QString roleDisplayName(QString role)
{
    role.remove(QStringLiteral("tavrilo_"));
    QStringList words = role.split(QLatin1Char(' '));
    for (QString &word : words)
        if (!word.isEmpty())
            word = word.left(1).toUpper() + word.mid(1).toLower();
    return words.join(QLatin1Char(' '));
}
} // namespace

const QStringList &EventProjection::releaseLabels()
{
    static const QStringList labels{QStringLiteral("build-green"),      QStringLiteral("diff-within-plan"),
                                    QStringLiteral("criteria-covered"), QStringLiteral("no-secret-in-diff"),
                                    QStringLiteral("preview-answered"), QStringLiteral("review-fidelity")};
    return labels;
}

QStringList EventProjection::releaseCheckLabels() const
{
    QStringList labels;
    if (evaluatorLabels.contains(kRequestedRound))
        labels.append(kRequestedRound);
    labels.append(releaseLabels());
    return labels;
}

void EventProjection::takeRelease(const ReadPayload &payload, const PayloadInput &input)
{
    if (const ReadValue released = payload.value("released"); released.isBoolean())
        releaseAuthorized = released.json->get<bool>();
    if (const ReadValue roles = payload.value("requiredRoles"); roles.isStringList())
        requiredRoles = roles.stringList();
    if (const ReadValue roles = payload.value("observedRoles"); roles.isStringList())
        observedRoles = roles.stringList();
    if (const ReadValue results = payload.value("results"); results.isArray()) {
        const bool allObjects =
            std::all_of(results.json->begin(), results.json->end(), [](const Json &r) { return r.is_object(); });
        if (allObjects)
            for (const Json &result : *results.json)
                recordEvaluator(result);
    }
    if (const ReadValue fidelity = payload.value("reviewFidelity"); fidelity.isObject())
        reviewerGrade = json::string(*fidelity.json, "label");

    const ReadValue nested = input.value("checks");
    for (const QString &key : releaseLabels()) {
        const std::string name = key.toStdString();
        const ReadValue check = nested.isObject() ? ReadValue::of(*nested.json, name) : input.value(name);
        if (!check.isBoolean())
            continue;
        const bool pass = check.json->get<bool>();
        evaluators.insert(key, pass);
        evaluatorLabels.insert(key, pass ? kPass : kFail);
    }
}

void EventProjection::recordEvaluator(const Json &result)
{
    const auto evaluator = json::string(result, "evaluator");
    const auto label = json::string(result, "label");
    if (!evaluator || !label || !(releaseLabels().contains(*evaluator) || *evaluator == kRequestedRound))
        return;
    evaluatorLabels.insert(*evaluator, *label);
    QString detail = *label;
    if (const ReadValue value = ReadValue::of(result, "value"); value.isNumber())
        detail += QStringLiteral(" (") + strictnumbers::plainText(*value.json) + QLatin1Char(')');
    detail += QStringLiteral(" \u00b7 ");
    if (const auto explanation = json::string(result, "explanation"))
        detail += *explanation;
    else if (const auto reason = json::string(result, "reason"))
        detail += *reason;
    evaluatorDetails.insert(*evaluator, detail);
    if (*label == kPass)
        evaluators.insert(*evaluator, true);
    else if (*label == kFail)
        evaluators.insert(*evaluator, false);
    else
        evaluators.remove(*evaluator);
}

std::optional<QString> EventProjection::errorGuidance() const
{
    if (!latestErrorCode)
        return std::nullopt;
    if (*latestErrorCode == QLatin1StringView("ITERATION_CAP"))
        return QStringLiteral("The team reached its handoff limit. Review the positions or ask a narrower follow-up.");
    if (*latestErrorCode != QLatin1StringView("DELIVERY_HELD"))
        return QStringLiteral("This turn ended before delivery. Review the events and try again.");
    if (evaluatorLabels.value(kRequestedRound) == kFail) {
        QStringList missing;
        for (const QString &role : requiredRoles)
            if (!observedRoles.contains(role))
                missing.append(roleDisplayName(role));
        if (missing.isEmpty())
            return QStringLiteral("The requested parallel specialist round did not complete. Delivery remains held.");
        return QStringLiteral("The requested parallel round is incomplete. Missing: ") +
               missing.join(QStringLiteral(", ")) + QLatin1Char('.');
    }
    if (evaluatorLabels.value(QStringLiteral("review-fidelity")) == kFail)
        return QStringLiteral(
            "Independent review failed. Correct the unsupported claims or missing evidence below, then "
            "request a new review.");
    if (evaluatorLabels.value(QStringLiteral("criteria-covered")) == kFail)
        return QStringLiteral("Acceptance criteria lack verified tests. Add coverage before delivery.");
    return QStringLiteral("Release checks held this turn. Open a failed badge for the reason before continuing.");
}
