#include "PlatformAnswerCases.h"

#include <QDir>

namespace platformcases
{
HubConfiguration configurationWithEndpoint(const QUrl &endpoint)
{
    HubConfiguration configuration({{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub-tests")},
                                    {QStringLiteral("TAVRILO_WORKSPACE_ROOT"), QDir::tempPath()}});
    configuration.graphQLEndpoint = endpoint;
    return configuration;
}

QByteArray padded(QByteArray json, qsizetype size)
{
    json.append(QByteArray(size - json.size(), ' '));
    return json;
}

std::vector<GraphQLAnswer> graphQLAnswers()
{
    const QString failed = QStringLiteral("Platform request failed.");
    const QString noData = QStringLiteral("Platform returned no data.");
    return {
        {"Data", 200, R"({"data":{"tavriloMyWorkspaces":[]}})", QByteArray(R"({"tavriloMyWorkspaces":[]})"), {}},
        {"Status299", 299, R"({"data":{"x":1}})", QByteArray(R"({"x":1})"), {}},
        {"Redirect", 302, "", std::nullopt, failed},
        {"BadRequest", 400, R"({"errors":[{"message":"Syntax."}]})", std::nullopt, failed},
        {"Unauthorized", 401, R"({"data":{}})", std::nullopt, failed},
        {"Forbidden", 403, "", std::nullopt, failed},
        {"ServerError", 500, R"({"errors":[{"message":"boom"}]})", std::nullopt, failed},
        {"EmptyBody", 200, "", std::nullopt, kDecoding},
        {"NotJson", 200, "<html>", std::nullopt, kDecoding},
        {"BareValue", 200, R"("data")", std::nullopt, kDecoding},
        {"TopLevelArray", 200, R"([{"data":{}}])", std::nullopt, failed},
        {"ErrorsJoinedSkippingOneWithoutMessage", 200,
         R"({"errors":[{"message":"First."},{"path":["x"]},{"message":"Third."}],"data":{"x":1}})", std::nullopt,
         QStringLiteral("First.; Third.")},
        // The platform gave no words: the user still reads a sentence.
        {"ErrorWithoutMessage", 200, R"({"errors":[{}]})", std::nullopt, failed},
        {"ErrorWithBlankMessage", 200, R"({"errors":[{"message":" "}],"data":{}})", std::nullopt, failed},
        {"EmptyErrorsWithEmptyData", 200, R"({"errors":[],"data":{}})", QByteArray("{}"), {}},
        {"ErrorsAsStringIgnored", 200, R"({"errors":"bad","data":{"a":true}})", QByteArray(R"({"a":true})"), {}},
        {"ErrorsWithANonObjectIgnored",
         200,
         R"({"errors":[{"message":"x"},5],"data":{"a":1}})",
         QByteArray(R"({"a":1})"),
         {}},
        {"NullData", 200, R"({"data":null})", std::nullopt, noData},
        {"NoData", 200, R"({"extensions":{}})", std::nullopt, noData},
        {"EmptyObject", 200, "{}", std::nullopt, noData},
        {"DataNotAnObject", 200, R"({"data":[1]})", std::nullopt, noData},
    };
}

std::vector<ControlAnswer> controlAnswers()
{
    const QString rejected = QStringLiteral("The platform control request was rejected.");
    const QString incomplete = QStringLiteral("The platform could not complete this control request.");
    const QByteArray ok = R"({"data":{"tavriloStopRun":{"ok":true,"detail":"stopping"}}})";
    return {
        {"Ok", 200, ok, {}},
        {"ExactlyOneMebibyte", 200, padded(ok, 1048576), {}},
        {"OneByteOverOneMebibyte", 200, padded(ok, 1048577), rejected},
        {"Redirect", 302, ok, rejected},
        {"BadRequest", 400, ok, rejected},
        {"Unauthorized", 401, ok, rejected},
        {"ServerError", 500, ok, rejected},
        {"EmptyBody", 200, "", kDecoding},
        {"NotJson", 200, "{", kDecoding},
        {"EmptyErrorsAccepted", 200, R"({"errors":[],"data":{"tavriloStopRun":{"ok":true}}})", {}},
        {"Errors", 200, R"({"errors":[{"message":"denied"}],"data":{"tavriloStopRun":{"ok":true}}})", incomplete},
        {"ErrorWithoutMessage", 200, R"({"errors":[{}]})", kDecoding},
        {"NoData", 200, "{}", incomplete},
        {"NullData", 200, R"({"data":null})", incomplete},
        {"NoAnswerForTheField", 200, R"({"data":{"tavriloOther":null}})", incomplete},
        {"NullAnswer", 200, R"({"data":{"tavriloStopRun":null}})", incomplete},
        {"RefusedWithoutReason", 200, R"({"data":{"tavriloStopRun":{"ok":false}}})",
         QStringLiteral("Control refused: unavailable")},
        {"RefusedWithCode", 200, R"({"data":{"tavriloStopRun":{"ok":false,"refusal":"RUN_NOT_ACTIVE"}}})",
         QStringLiteral("Control refused: RUN_NOT_ACTIVE")},
        // Shown as sent: the code rule is not applied here.
        {"RefusedWithText", 200, R"({"data":{"tavriloStopRun":{"ok":false,"refusal":"not now"}}})",
         QStringLiteral("Control refused: not now")},
        {"RefusedWithBlankReason", 200, R"({"data":{"tavriloStopRun":{"ok":false,"refusal":""}}})",
         QStringLiteral("Control refused: unavailable")},
        {"OkMissing", 200, R"({"data":{"tavriloStopRun":{"refusal":"X"}}})", kDecoding},
        {"OkNotBoolean", 200, R"({"data":{"tavriloStopRun":{"ok":"true"}}})", kDecoding},
        {"RefusalNotString", 200, R"({"data":{"tavriloStopRun":{"ok":false,"refusal":7}}})", kDecoding},
        {"QueuedNotInteger", 200, R"({"data":{"tavriloStopRun":{"ok":true,"queued":"1"}}})", kDecoding},
    };
}
} // namespace platformcases
