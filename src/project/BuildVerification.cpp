#include "project/BuildVerification.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "core/ResourceBundle.h"
#include "core/StrictDecoder.h"

#include <QFile>
#include <QUuid>

#include <chrono>
#include <cmath>

namespace buildverification
{
namespace
{
constexpr double kBuildCap = 300;
constexpr double kDiffCap = 30;
constexpr qint64 kBuildLog = 8192;
constexpr qint64 kDiffLimit = 32768;
constexpr qsizetype kEvidenceLimit = 65536;

const QString kDiffTooLong =
    QStringLiteral("Verification diff exceeds 32768 bytes; no incomplete evidence was submitted.");

double nowSeconds()
{
    using namespace std::chrono;
    return double(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) / 1e6;
}

QStringList texts(const Json &array)
{
    QStringList out;
    for (const Json &item : array) {
        if (!item.is_string())
            throw HubError(json::decodingErrorSentence());
        out.append(json::toQString(item.get_ref<const std::string &>()));
    }
    return out;
}

// A JSON string literal with "/" left as it is.
QString quote(const QString &text)
{
    QByteArray out;
    json::appendQuoted(out, text);
    return QString::fromUtf8(out);
}

// Removes the staging folder however verification ends.
struct Staging
{
    const ProjectRoot &root;
    std::optional<ProjectLocation> location;
    ~Staging()
    {
        if (location)
            root.removeTree(*location);
    }
};
} // namespace

Policy Policy::decode(const QByteArray &bytes)
{
    const Json document = json::parse(bytes);
    const StrictDecoder top(document);
    Policy policy;
    policy.nodeScripts = texts(top.array("nodeScripts"));
    for (const Json &row : top.array("technologyCommands")) {
        const StrictDecoder fields(row);
        policy.technologyCommands.append({fields.text("technology"), fields.text("manifest"),
                                          fields.optionalText("marker"), fields.text("command"),
                                          texts(fields.array("args"))});
    }
    return policy;
}

Policy Policy::shipped()
{
    const std::optional<QString> path = ResourceBundle::of(ResourceBundle::Module::TavriloHub)
                                            .resource(QStringLiteral("build-policy"), QStringLiteral("json"));
    if (!path)
        throw HubError(QStringLiteral("Shared build policy is unavailable."));
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        throw HubError(QStringLiteral("The shared build policy could not be read."));
    return decode(file.readAll());
}

std::optional<QStringList> buildCommand(const ProjectRoot &root, const Policy &policy)
{
    std::optional<Json> package;
    try {
        package = json::tryParse(
            root.read(root.inside(QStringLiteral("package.json"), false), projectfiles::kMaximum).toUtf8());
    } catch (const HubError &) {
        package.reset();
    }
    if (package && package->is_object()) {
        const auto scripts = package->find("scripts");
        if (scripts != package->end() && scripts->is_object()) {
            for (const QString &name : policy.nodeScripts) {
                const auto script = scripts->find(name.toStdString());
                if (script == scripts->end() || !script->is_string())
                    continue;
                const QString runner =
                    json::string(*package, "packageManager").value_or(QString()).startsWith(QLatin1String("bun"))
                        ? QStringLiteral("bun")
                        : QStringLiteral("npm");
                return QStringList{runner, QStringLiteral("run"), name};
            }
        }
    }
    for (const Policy::Technology &row : policy.technologyCommands) {
        std::optional<ProjectLocation> manifest;
        try {
            manifest = root.inside(row.manifest, false);
        } catch (const HubError &) {
            continue;
        }
        if (!root.status(*manifest))
            continue;
        if (row.marker && !root.read(*manifest, projectfiles::kMaximum).contains(*row.marker))
            continue;
        return QStringList{row.command} + row.args;
    }
    return std::nullopt;
}

QString rewriteHeaders(const QString &output, const QString &path, bool existed, bool exists)
{
    QStringList lines = output.split(u'\n');
    // Only the header names files; a hunk line that happens to begin with "--- " or "+++ " is a
    // removed "-- " or an added "++ " line of the file and stays as it is.
    for (QString &line : lines) {
        if (line.startsWith(QLatin1String("@@")))
            break;
        if (line.startsWith(QLatin1String("diff --git ")))
            line = QStringLiteral("diff --git ") + quote(QStringLiteral("a/") + path) + u' ' +
                   quote(QStringLiteral("b/") + path);
        else if (line.startsWith(QLatin1String("--- ")))
            line =
                QStringLiteral("--- ") + (existed ? quote(QStringLiteral("a/") + path) : QStringLiteral("/dev/null"));
        else if (line.startsWith(QLatin1String("+++ ")))
            line = QStringLiteral("+++ ") + (exists ? quote(QStringLiteral("b/") + path) : QStringLiteral("/dev/null"));
    }
    return lines.join(u'\n');
}

QString verify(const ProjectRoot &root, const ProjectOriginals &originals, VerificationChildGroup &group,
               double deadline, const CancelToken &token, const Policy *policy)
{
    const QStringList paths = originals.keys();
    const double buildBudget = std::min(deadline / 1000 - nowSeconds() - 2, kBuildCap);
    if (!(buildBudget > 0))
        throw HubError(QStringLiteral("Verification deadline expired."));

    Json evidence = {{"version", 1},          {"required", !paths.isEmpty()}, {"ran", false}, {"ok", true},
                     {"exitCode", nullptr},   {"command", nullptr},           {"log", ""},    {"diff", ""},
                     {"paths", Json::array()}};
    if (!paths.isEmpty()) {
        if (const std::optional<QStringList> command = buildCommand(root, policy ? *policy : Policy::shipped())) {
            const VerificationChildGroup::Outcome build =
                group.run(*command, root.path(), buildBudget, kBuildLog, true, token);
            if (build.timedOut)
                throw HubError(QStringLiteral("The project build did not finish within its time budget."));
            evidence["ran"] = true;
            evidence["ok"] = build.status == 0;
            evidence["exitCode"] = build.status;
            evidence["command"] = command->join(u' ').toStdString();
            evidence["log"] = build.output.toStdString();
        } else {
            evidence["ok"] = false;
        }

        Staging staging{root, std::nullopt};
        const ProjectLocation folder = root.inside(QStringLiteral(".tavrilo/verification/") +
                                                       QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
                                                   false);
        root.createDirectory(folder, 0700);
        staging.location = folder;

        QString diff;
        qsizetype diffBytes = 0;
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const ProjectOriginal &original = originals[paths[i]];
            const ProjectLocation current = root.inside(paths[i], false);
            const ProjectLocation copy{folder.path + u'/' + QString::number(i),
                                       folder.relative + u'/' + QString::number(i)};
            if (original.exists)
                root.replace(copy, original.text.toUtf8(), mode_t(original.permissions));
            const double diffBudget = std::min(deadline / 1000 - nowSeconds() - 1, kDiffCap);
            if (!(diffBudget > 0))
                throw HubError(QStringLiteral("Verification diff deadline expired."));
            const QString oldPath = original.exists ? copy.path : QStringLiteral("/dev/null");
            const QString newPath = root.status(current) ? current.path : QStringLiteral("/dev/null");
            const VerificationChildGroup::Outcome outcome = group.run(
                {QStringLiteral("git"), QStringLiteral("diff"), QStringLiteral("--no-index"),
                 QStringLiteral("--no-ext-diff"), QStringLiteral("--no-color"), QStringLiteral("--"), oldPath, newPath},
                root.path(), diffBudget, kDiffLimit, false, token);
            if (outcome.status > 1)
                throw HubError(QStringLiteral("The complete selected-project diff could not be read."));
            if (outcome.truncated)
                throw HubError(kDiffTooLong);
            if (outcome.output.isEmpty())
                continue;
            const QString rewritten =
                rewriteHeaders(outcome.output, paths[i], original.exists, root.status(current).has_value());
            diff += rewritten;
            diffBytes += rewritten.toUtf8().size();
            if (diffBytes > kDiffLimit)
                throw HubError(kDiffTooLong);
        }
        evidence["diff"] = diff.toStdString();
        Json list = Json::array();
        for (const QString &path : paths)
            list.push_back(path.toStdString());
        evidence["paths"] = std::move(list);
    }

    // The platform's writer puts a backslash before every "/"; a "/" occurs only inside strings
    // here, and no escape sequence holds one, so every "/" of the compact text is one to escape.
    QByteArray text = json::dump(evidence);
    text.replace("/", "\\/");
    if (text.size() > kEvidenceLimit)
        throw HubError(QStringLiteral("Verification result exceeds 65536 bytes."));
    return QString::fromUtf8(text);
}
} // namespace buildverification
