#include "session/RunControlOutcome.h"

namespace
{
QString inputText(const NativeControls::Command &command, std::string_view key)
{
    const Json input = command.request().variables.value("input", Json::object());
    return json::string(input, key).value_or(QString());
}
} // namespace

runcontroloutcome::Outcome runcontroloutcome::accepted(const NativeControls::Command &command,
                                                       const NativeControls::Answer &answer)
{
    using Kind = NativeControls::Command::Kind;
    switch (command.kind()) {
    case Kind::interject:
        return {QStringLiteral("Interjection queued: ") + QString::number(answer.queued.value_or(0)) +
                    QStringLiteral(" \u00b7 after round ") + answer.round.value_or(QStringLiteral("unreported")),
                {},
                {}};
    case Kind::browser: {
        const QString holder = inputText(command, "holder");
        return {holder == QLatin1StringView("customer") ? QStringLiteral("Browser control taken.")
                                                        : QStringLiteral("Browser control released."),
                holder,
                {}};
    }
    case Kind::runState: {
        const bool paused = inputText(command, "state") == QLatin1StringView("paused");
        return {paused ? QStringLiteral("Pause recorded. The runtime will stop at its next hook boundary.")
                       : QStringLiteral("Resume recorded."),
                {},
                paused};
    }
    case Kind::skip:
        return {QStringLiteral("Skip-step recorded for the next matching hook."), {}, {}};
    case Kind::approval:
        return {QStringLiteral("Approval recorded for this session."), {}, {}};
    case Kind::stop:
        break;
    }
    return {};
}
