#include "project/ProjectCall.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "project/BuildVerification.h"
#include "project/ProjectFileTools.h"
#include "project/ProjectSearch.h"

#include <QRegularExpression>

#include <array>
#include <chrono>

namespace projectcall
{
namespace
{
using Answer = NativeProjectHands::Answer;

const QString kWriteFile = QStringLiteral("project_write_file");
const QString kEditFile = QStringLiteral("project_edit_file");
const QString kReadFile = QStringLiteral("project_read_file");
const QString kListDirectory = QStringLiteral("project_list_directory");
const QString kSearch = QStringLiteral("project_search");
const QString kVerifyBuild = QStringLiteral("project_verify_build");

constexpr qsizetype kMaxPathBytes = 4096;
constexpr double kWriteMargin = 5000;

double nowMilliseconds()
{
    using namespace std::chrono;
    return double(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) / 1000.0;
}

bool isWriterAgent(const QString &agent)
{
    return agent == u"tavrilo_builder" || agent == u"tavrilo_operator";
}

bool isPreviewPath(const QString &path)
{
    return path == u"__tavrilo_preview_vision__" || path == u"__tavrilo_preview_devtools__" ||
           path == u"__tavrilo_preview_motion__";
}

Answer success(const ProjectToolResult &result)
{
    return {QStringLiteral("success"), cut(result.text), result.changed};
}

Answer failure(const QString &description)
{
    return {QStringLiteral("error"), cut(description), {}};
}

Routed route(NativeProjectHands::State &state, const QByteArray &encoded, const QString &agent,
             const CancelToken &token)
{
    const std::optional<Json> parsed = json::tryParse(encoded);
    if (!parsed || !(parsed->is_object() || parsed->is_array()))
        throw HubError(json::decodingErrorSentence());
    if (!parsed->is_object())
        throw HubError(QStringLiteral("Malformed project call."));
    const Json &call = *parsed;

    const std::optional<QString> tool = json::string(call, "tool");
    const auto input = call.find("input");
    const auto deadline = call.find("deadline");
    if (!tool || input == call.end() || !input->is_object() || deadline == call.end() || !deadline->is_number() ||
        !(deadline->get<double>() > nowMilliseconds()))
        throw HubError(QStringLiteral("Project call expired or malformed."));
    const double deadlineMs = deadline->get<double>();

    if (*tool == kVerifyBuild) {
        static const QRegularExpression verificationID(QStringLiteral("^pv-[0-9a-f]{32}$"));
        const std::optional<QString> toolUseID = json::string(call, "toolUseId");
        if (agent != u"tavrilo_operator" || !input->empty() || !toolUseID ||
            !verificationID.match(*toolUseID).hasMatch())
            throw HubError(QStringLiteral("Only an authenticated system verification request is permitted."));
        return {{QStringLiteral("success"),
                 buildverification::verify(state.root, state.originals, state.verificationGroup, deadlineMs, token),
                 {}},
                std::nullopt};
    }

    const bool writes = *tool == kWriteFile || *tool == kEditFile;
    if (writes && (!isWriterAgent(agent) || !(deadlineMs > nowMilliseconds() + kWriteMargin)))
        throw HubError(QStringLiteral("Write requires an authorized specialist and at least five seconds remaining."));

    const QString path = json::string(*input, "path").value_or(QStringLiteral("."));
    if (path.toUtf8().size() > kMaxPathBytes || path.contains(QChar(0)))
        throw HubError(QStringLiteral("Project paths exceed the safe local-tool limit."));

    if (*tool == kReadFile && isPreviewPath(path)) {
        previewbridge::Prepared prepared = previewbridge::prepare(state.root.path(), path, *input, agent);
        return {{prepared.status, prepared.result, {}}, std::move(prepared.request)};
    }

    const ProjectLocation location = state.root.inside(path, writes);
    if (*tool == kReadFile)
        return {success(projectfiles::readLines(state.root, location, *input)), std::nullopt};
    if (*tool == kListDirectory)
        return {success(projectfiles::list(state.root, location, *input)), std::nullopt};
    if (*tool == kSearch) {
        const std::optional<QString> pattern = json::string(*input, "pattern");
        if (!pattern || pattern->isEmpty())
            throw HubError(QStringLiteral("Search requires pattern text."));
        return {success({projectsearch::search(state.root, *pattern, *input, location, state.closing, token), {}}),
                std::nullopt};
    }
    if (writes)
        return {success(projectfiles::write(state.root, location, path, *input, *tool == kEditFile, state.originals)),
                std::nullopt};
    throw HubError(QStringLiteral("Unknown project tool."));
}
} // namespace

QString cut(const QString &text, qsizetype limit)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= limit)
        return text;
    bytes.truncate(limit);
    const bool split = utf8text::dropIncompleteEnd(bytes);
    return utf8text::decode(bytes) + (split ? QStringLiteral("\uFFFD") : QString());
}

Routed dispatch(NativeProjectHands::State &state, const QByteArray &encoded, const QString &agent,
                const CancelToken &token)
{
    try {
        return route(state, encoded, agent, token);
    } catch (const std::exception &error) {
        return {failure(errorDescription(error)), std::nullopt};
    }
}

QCoro::Task<NativeProjectHands::Answer> finish(Routed routed, CancelToken token)
{
    if (!routed.preview)
        co_return routed.answer;
    try {
        auto [status, text] = co_await previewbridge::send(std::move(*routed.preview), std::move(token));
        co_return Answer{status, text, {}};
    } catch (const std::exception &error) {
        co_return failure(errorDescription(error));
    }
}
} // namespace projectcall
