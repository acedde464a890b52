#include "cloud/NativeControls.h"

#include "cloud/HubNetwork.h"
#include "cloud/NativeLive.h"
#include "core/GraphemeText.h"
#include "core/StrictDecoder.h"


namespace
{
const QString kNotSignedIn = QStringLiteral("Sign in to the configured platform API before sending controls.");
const QString kRejected = QStringLiteral("The platform control request was rejected.");
const QString kIncomplete = QStringLiteral("The platform could not complete this control request.");
const QString kToolRefused = QStringLiteral("The platform refused this workspace tool request.");
const QString kNotSecureShell = QStringLiteral("The build-shell grant was not a secure WebSocket URL.");

constexpr int kInterjectionCharacters = 2000;

[[noreturn]] void notDecodable()
{
    throw HubError(json::decodingErrorSentence());
}

NativeControls::Answer decodeControlAnswer(const Json &object)
{
    const StrictDecoder fields(object);
    return NativeControls::Answer{fields.boolean("ok"), fields.optionalText("refusal"),
                                  fields.optionalInteger("queued"), fields.optionalText("round")};
}

// The answer envelope of a run control: "errors", when present, is an array of objects with a
// string "message"; "data", when present, maps result fields to answer objects or null.
struct ControlEnvelope
{
    bool hasErrors = false;
    std::optional<NativeControls::Answer> answer;
};

ControlEnvelope decodeControlEnvelope(const QByteArray &body, const std::string &field)
{
    const Json envelope = json::parse(body);
    if (!envelope.is_object())
        notDecodable();
    ControlEnvelope decoded;
    const auto errors = envelope.find("errors");
    if (errors != envelope.end() && !errors->is_null()) {
        if (!errors->is_array())
            notDecodable();
        for (const Json &error : *errors) {
            if (!json::string(error, "message"))
                notDecodable();
        }
        decoded.hasErrors = !errors->empty();
    }
    const auto data = envelope.find("data");
    if (data != envelope.end() && !data->is_null()) {
        if (!data->is_object())
            notDecodable();
        for (const auto &[name, value] : data->items()) {
            if (value.is_null())
                continue;
            NativeControls::Answer answer = decodeControlAnswer(value);
            if (name == field)
                decoded.answer = std::move(answer);
        }
    }
    return decoded;
}

Json input(const QString &session)
{
    return Json{{"sessionId", json::toStd(session)}};
}
} // namespace

NativeControls::Command NativeControls::Command::stop(QString session)
{
    return Command(Kind::stop, std::move(session));
}

NativeControls::Command NativeControls::Command::interject(QString session, QString text)
{
    Command command(Kind::interject, std::move(session));
    command.m_text = std::move(text);
    return command;
}

NativeControls::Command NativeControls::Command::approval(QString session, QString toolUseID, QString decision,
                                                          std::optional<QString> expectedTurnID,
                                                          std::optional<QString> expectedRevision)
{
    Command command(Kind::approval, std::move(session));
    command.m_toolUseID = std::move(toolUseID);
    command.m_decision = std::move(decision);
    command.m_expectedTurnID = std::move(expectedTurnID);
    command.m_expectedRevision = std::move(expectedRevision);
    return command;
}

NativeControls::Command NativeControls::Command::browser(QString session, QString holder)
{
    Command command(Kind::browser, std::move(session));
    command.m_holder = std::move(holder);
    return command;
}

NativeControls::Command NativeControls::Command::runState(QString session, QString state)
{
    Command command(Kind::runState, std::move(session));
    command.m_state = std::move(state);
    return command;
}

NativeControls::Command NativeControls::Command::skip(QString session, QString toolUseID, QString tool)
{
    Command command(Kind::skip, std::move(session));
    command.m_toolUseID = std::move(toolUseID);
    command.m_tool = std::move(tool);
    return command;
}

NativeControls::Command::Request NativeControls::Command::request() const
{
    Json in = input(m_session);
    switch (m_kind) {
    case Kind::stop:
        return {QStringLiteral("tavriloStopRun"),
                QStringLiteral("mutation NativeStop($sessionId: ID!) { tavriloStopRun(sessionId: $sessionId) { ok "
                               "refusal detail } }"),
                Json{{"sessionId", json::toStd(m_session)}}};
    case Kind::interject:
        in["text"] = json::toStd(graphemes::first(m_text, kInterjectionCharacters));
        return {QStringLiteral("tavriloInterject"),
                QStringLiteral("mutation NativeInterject($input: TavriloInterjectInput!) { tavriloInterject(input: "
                               "$input) { ok refusal detail queued round } }"),
                Json{{"input", in}}};
    case Kind::approval:
        in["toolUseId"] = json::toStd(m_toolUseID);
        in["decision"] = json::toStd(m_decision);
        if (m_expectedTurnID)
            in["expectedTurnId"] = json::toStd(*m_expectedTurnID);
        if (m_expectedRevision)
            in["expectedRevision"] = json::toStd(*m_expectedRevision);
        return {QStringLiteral("tavriloRecordApproval"),
                QStringLiteral("mutation NativeApproval($input: TavriloApprovalDecisionInput!) { "
                               "tavriloRecordApproval(input: $input) { ok refusal detail } }"),
                Json{{"input", in}}};
    case Kind::browser:
        in["holder"] = json::toStd(m_holder);
        return {QStringLiteral("tavriloSetBrowserControl"),
                QStringLiteral("mutation NativeBrowser($input: TavriloBrowserControlInput!) { "
                               "tavriloSetBrowserControl(input: $input) { ok refusal detail } }"),
                Json{{"input", in}}};
    case Kind::runState:
        in["state"] = json::toStd(m_state);
        in["reason"] = json::toStd(QStringLiteral("Human operator requested ") + m_state);
        return {QStringLiteral("tavriloSetRunState"),
                QStringLiteral("mutation NativeRunState($input: TavriloSetRunStateInput!) { tavriloSetRunState(input: "
                               "$input) { ok refusal detail } }"),
                Json{{"input", in}}};
    case Kind::skip:
        in["toolUseId"] = json::toStd(m_toolUseID);
        in["tool"] = json::toStd(m_tool);
        in["reason"] = "Human operator requested skip-step";
        return {QStringLiteral("tavriloSkipStep"),
                QStringLiteral("mutation NativeSkip($input: TavriloSkipStepInput!) { tavriloSkipStep(input: $input) { "
                               "ok refusal detail } }"),
                Json{{"input", in}}};
    }
    Q_UNREACHABLE();
}

NativeControls::Refusal::Refusal(QString code)
    : HubError(QStringLiteral("The platform refused this workspace tool request (") + code + QStringLiteral(").")),
      m_code(std::move(code))
{}

QCoro::Task<NativeControls::Answer> NativeControls::execute(Command command, HubConfiguration configuration,
                                                            QString token, CancelToken cancel)
{
    if (!configuration.graphQLEndpoint || token.isEmpty())
        throw HubError(kNotSignedIn);
    const Command::Request request = command.request();
    HubNetwork::Request post =
        NativeLive::request(*configuration.graphQLEndpoint, token, request.query, request.variables);
    post.maxBytes = kMaximumAnswerBytes;
    const HubNetwork::Reply reply = co_await HubNetwork::send(HubNetwork::shared().httpSession(), post, cancel);
    cancel.throwIfCancelled();

    if (reply.status < 200 || reply.status > 299 || reply.overCap)
        throw HubError(kRejected);
    const ControlEnvelope envelope = decodeControlEnvelope(reply.body, json::toStd(request.field));
    if (envelope.hasErrors || !envelope.answer)
        throw HubError(kIncomplete);
    if (!envelope.answer->ok) {
        // A blank refusal would leave the sentence unfinished.
        const QString refusal = envelope.answer->refusal.value_or(QString()).trimmed().isEmpty()
                                    ? QStringLiteral("unavailable")
                                    : *envelope.answer->refusal;
        throw HubError(QStringLiteral("Control refused: ") + refusal);
    }
    co_return *envelope.answer;
}

bool NativeControls::isRefusalCode(const QString &code)
{
    if (code.isEmpty() || code.size() > 64 || code[0] < u'A' || code[0] > u'Z')
        return false;
    return std::all_of(code.begin(), code.end(),
                       [](QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_'; });
}

Json NativeControls::decodeAnswer(const QByteArray &body, const QString &field, qint64 maximumBytes)
{
    if (body.size() > maximumBytes)
        throw HubError(kToolRefused);
    const Json envelope = json::parse(body);
    if (!envelope.is_object() || envelope.contains("errors"))
        throw HubError(kToolRefused);
    const auto data = envelope.find("data");
    if (data == envelope.end() || !data->is_object())
        throw HubError(kToolRefused);
    const auto answer = data->find(json::toStd(field));
    if (answer == data->end() || !answer->is_object())
        throw HubError(kToolRefused);
    const auto ok = answer->find("ok");
    if (ok != answer->end() && ok->is_boolean() && ok->get<bool>())
        return *answer;
    const std::optional<QString> refusal = json::string(*answer, "refusal");
    if (refusal && isRefusalCode(*refusal))
        throw Refusal(*refusal);
    throw HubError(kToolRefused);
}

QNetworkRequest NativeControls::commandShellRequest(const QUrl &url)
{
    if (!url.isValid() || url.scheme() != QLatin1String("wss") || url.host().isEmpty() || !url.userName().isEmpty() ||
        !url.password().isEmpty() || url.hasFragment())
        throw HubError(kNotSecureShell);
    QNetworkRequest request(url);
    request.setTransferTimeout(60000);
    return request;
}
