// tavrilo-code: the companion program the hub hands two jobs to, as this machine runs it.
//
//   tavrilo-code workspace --documents      working-tree changes of a git project, with the diff and
//                                           a syntax-tree summary of one file
//   tavrilo-code workspace --project-open   a git repository cloned (or an existing clone reused)
//                                           below a parent folder
//
// Each reads one JSON request on standard input and writes one JSON reply on standard output; the
// exit status says whether it worked. Git never prompts: the hub gives the companion no terminal.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

#include <cstdio>
#include <optional>

namespace
{
constexpr int kMostFiles = 200;
constexpr int kGitTimeoutMs = 100000;

struct Run
{
    int status = -1;
    QByteArray out;
};

Run run(const QString &program, const QStringList &arguments, const QString &directory = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GIT_TERMINAL_PROMPT"), QStringLiteral("0"));
    environment.insert(QStringLiteral("GIT_ASKPASS"), QStringLiteral("/bin/false"));
    environment.insert(QStringLiteral("SSH_ASKPASS"), QStringLiteral("/bin/false"));
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!directory.isEmpty())
        process.setWorkingDirectory(directory);
    process.start(program, arguments);
    if (!process.waitForFinished(kGitTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput()};
}

Run git(const QString &root, QStringList arguments)
{
    return run(QStringLiteral("git"), QStringList{QStringLiteral("-C"), root} + arguments);
}

int reply(const QJsonObject &object, int status = 0)
{
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    return status;
}

// The syntax-tree summary of a Python file: top-level functions, classes (with their methods) and
// imports that were added, removed or changed, from Python's own parser.
const char *const kPythonSummary = R"PY(
import ast, json, sys
old_text, new_text = json.load(sys.stdin)
def parse(text):
    return ast.parse(text) if text is not None else ast.Module(body=[], type_ignores=[])
def entries(body, prefix):
    out = {}
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            out[prefix + "function " + node.name] = ("function", node.name, node)
        elif isinstance(node, ast.ClassDef):
            out[prefix + "class " + node.name] = ("class", node.name, node)
        elif isinstance(node, (ast.Import, ast.ImportFrom)):
            for alias in node.names:
                name = (node.module + "." if isinstance(node, ast.ImportFrom) and node.module else "") + alias.name
                out[prefix + "import " + name] = ("import", name, node)
    return out
def compare(old_body, new_body, prefix):
    old, new = entries(old_body, prefix), entries(new_body, prefix)
    nodes = []
    for key in list(old) + [k for k in new if k not in old]:
        kind, name, before = old.get(key, (None, None, None))
        kind2, name2, after = new.get(key, (None, None, None))
        node = {"id": key, "kind": kind or kind2, "name": name or name2, "children": []}
        if before is None:
            node["change"] = "added"
        elif after is None:
            node["change"] = "removed"
        elif ast.dump(before) != ast.dump(after):
            node["change"] = "modified"
        else:
            continue
        if before is not None:
            node["beforeLine"] = before.lineno
        if after is not None:
            node["afterLine"] = after.lineno
        if node["kind"] == "class" and before is not None and after is not None:
            node["children"] = compare(before.body, after.body, key + ".")
        nodes.append(node)
    return nodes
try:
    nodes = compare(parse(old_text).body, parse(new_text).body, "")
    print(json.dumps({"status": "parsed", "language": "Python", "scope": "Top-level declarations and imports",
                      "nodes": nodes}))
except SyntaxError as error:
    print(json.dumps({"status": "unparsed", "language": "Python", "reason": "Syntax error on line %s." % error.lineno}))
)PY";

QJsonObject summary(const QString &root, const QString &path, bool tracked)
{
    if (!path.endsWith(QLatin1String(".py")))
        return {{QStringLiteral("status"), QStringLiteral("unsupported")},
                {QStringLiteral("reason"), QStringLiteral("No parser for this language is installed.")}};
    QJsonValue before = QJsonValue::Null;
    if (tracked) {
        const Run shown = git(root, {QStringLiteral("show"), QStringLiteral("HEAD:") + path});
        if (shown.status == 0)
            before = QString::fromUtf8(shown.out);
    }
    QJsonValue after = QJsonValue::Null;
    QFile file(QDir(root).filePath(path));
    if (file.open(QIODevice::ReadOnly))
        after = QString::fromUtf8(file.readAll());

    QProcess python;
    python.setStandardErrorFile(QProcess::nullDevice());
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kPythonSummary)});
    python.write(QJsonDocument(QJsonArray{before, after}).toJson(QJsonDocument::Compact));
    python.closeWriteChannel();
    if (!python.waitForFinished(kGitTimeoutMs) || python.exitCode() != 0)
        return {{QStringLiteral("status"), QStringLiteral("unavailable")},
                {QStringLiteral("reason"), QStringLiteral("The Python parser could not be run.")}};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

int changes(const QJsonObject &request)
{
    const QString root = request.value(QStringLiteral("root")).toString();
    const QJsonObject inner = request.value(QStringLiteral("request")).toObject();
    if (root.isEmpty() || inner.value(QStringLiteral("kind")).toString() != u"changes")
        return 2;
    if (git(root, {QStringLiteral("rev-parse"), QStringLiteral("--is-inside-work-tree")}).status != 0)
        return reply({{QStringLiteral("kind"), QStringLiteral("unavailable")},
                      {QStringLiteral("message"), QStringLiteral("The selected project is not a git working tree.")}});

    const Run status = git(root, {QStringLiteral("status"), QStringLiteral("--porcelain=v1"), QStringLiteral("-z"),
                                  QStringLiteral("--untracked-files=all")});
    if (status.status != 0)
        return 1;
    QJsonArray files;
    QMap<QString, QString> statuses;
    bool truncated = false;
    const QList<QByteArray> records = status.out.split('\0');
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QByteArray &record = records[i];
        if (record.size() < 4)
            continue;
        const QString code = QString::fromUtf8(record.left(2)).trimmed();
        const QString path = QString::fromUtf8(record.mid(3));
        // A rename names its source in the next record.
        if (record[0] == 'R' || record[0] == 'C')
            ++i;
        if (files.size() == kMostFiles) {
            truncated = true;
            break;
        }
        files.append(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("status"), code}});
        statuses.insert(path, code);
    }

    QJsonObject answer{{QStringLiteral("kind"), QStringLiteral("changes")}, {QStringLiteral("files"), files}};
    if (truncated)
        answer.insert(QStringLiteral("truncated"), true);
    std::optional<QString> chosen;
    if (inner.contains(QStringLiteral("path")) && !inner.value(QStringLiteral("path")).toString().isEmpty())
        chosen = inner.value(QStringLiteral("path")).toString();
    else if (!files.isEmpty())
        chosen = files.first().toObject().value(QStringLiteral("path")).toString();
    if (chosen && !statuses.contains(*chosen)) {
        answer.insert(QStringLiteral("selectionError"), QStringLiteral("No working-tree change for ") + *chosen + u'.');
    } else if (chosen) {
        const bool tracked = statuses.value(*chosen) != u"??";
        const bool hasHead =
            git(root, {QStringLiteral("rev-parse"), QStringLiteral("--verify"), QStringLiteral("HEAD")}).status == 0;
        const Run diff =
            tracked && hasHead
                ? git(root, {QStringLiteral("diff"), QStringLiteral("--no-color"), QStringLiteral("--no-ext-diff"),
                             QStringLiteral("HEAD"), QStringLiteral("--"), *chosen})
                : git(root, {QStringLiteral("diff"), QStringLiteral("--no-index"), QStringLiteral("--no-color"),
                             QStringLiteral("--"), QStringLiteral("/dev/null"), *chosen});
        answer.insert(QStringLiteral("selected"),
                      QJsonObject{{QStringLiteral("path"), *chosen},
                                  {QStringLiteral("diff"), QString::fromUtf8(diff.out)},
                                  {QStringLiteral("ast"), summary(root, *chosen, tracked && hasHead)}});
    }
    return reply(answer);
}

// The folder name a clone gets: the address's last part without ".git".
QString checkoutName(const QString &address)
{
    QString name = QUrl(address).path().section(u'/', -1, -1, QString::SectionSkipEmpty);
    if (name.isEmpty())
        name = address.section(u'/', -1, -1, QString::SectionSkipEmpty);
    if (name.endsWith(QLatin1String(".git")))
        name.chop(4);
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("-"));
    return name == u"." || name == u".." || name.isEmpty() ? QStringLiteral("repository") : name;
}

int projectOpen(const QJsonObject &request)
{
    const QJsonObject origin = request.value(QStringLiteral("origin")).toObject();
    const QString url = origin.value(QStringLiteral("url")).toString();
    const QString ref = origin.value(QStringLiteral("ref")).toString();
    const QString parent = request.value(QStringLiteral("workspaceRoot")).toString();
    if (origin.value(QStringLiteral("kind")).toString() != u"git" || url.isEmpty() || !QDir(parent).exists())
        return 2;
    const QString directory = QDir(parent).filePath(checkoutName(url));
    QJsonObject answer{{QStringLiteral("directory"), directory},
                       {QStringLiteral("origin"), QJsonObject{{QStringLiteral("kind"), QStringLiteral("git")}}}};

    if (QFileInfo::exists(directory)) {
        // Existing work is preserved: only a clone of the same address is reused.
        const Run remote =
            git(directory, {QStringLiteral("config"), QStringLiteral("--get"), QStringLiteral("remote.origin.url")});
        if (remote.status != 0 || QString::fromUtf8(remote.out).trimmed() != url)
            return 1;
        if (git(directory, {QStringLiteral("fetch"), QStringLiteral("--quiet"), QStringLiteral("origin")}).status != 0)
            answer.insert(QStringLiteral("fetchFailed"), QStringLiteral("The remote could not be reached."));
        if (!ref.isEmpty() && git(directory, {QStringLiteral("checkout"), QStringLiteral("--quiet"), ref}).status != 0)
            return 1;
        return reply(answer);
    }
    QStringList arguments{QStringLiteral("clone"), QStringLiteral("--quiet")};
    if (!ref.isEmpty())
        arguments << QStringLiteral("--branch") << ref;
    arguments << QStringLiteral("--") << url << directory;
    if (run(QStringLiteral("git"), arguments).status != 0)
        return 1;
    return reply(answer);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() != 2 || arguments[0] != u"workspace")
        return 2;
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return 1;
    const QJsonDocument request = QJsonDocument::fromJson(input.readAll());
    if (!request.isObject())
        return 2;
    if (arguments[1] == u"--documents")
        return changes(request.object());
    if (arguments[1] == u"--project-open")
        return projectOpen(request.object());
    return 2;
}
