#pragma once

#include "core/Json.h"
#include "core/async/CancelToken.h"
#include "platform/ChildProcess.h"
#include "project/ProjectRoot.h"

#include <QRegularExpression>
#include <QString>

#include <memory>

// Text search over the project with `rg`: a bounded walk picks the files (hidden entries, build
// output folders and refused paths left out), `rg` searches them within a time budget and an
// output cap, and the report says when it was cut.
namespace projectsearch
{
inline const QString kMarker = QStringLiteral("[bounded search; narrow path or glob for remaining results]");

// The expression for a project-relative glob: "*" and "?" stay within one folder, "**" crosses
// folders, every other character matches itself. A glob without "/" matches at any depth. Throws
// HubError when the glob is absolute or climbs with "..".
QRegularExpression globExpression(const QString &glob);

// Searches `location` (a folder or one file) for `pattern` with the options of `input`
// ("max_results", "glob", "regex", "ignore_case"). `interrupt` (the hands closing) and `token` stop
// a running `rg`; the search then throws CancelledError.
QString search(const ProjectRoot &root, const QString &pattern, const Json &input, const ProjectLocation &location,
               const std::shared_ptr<ChildInterrupt> &interrupt, const CancelToken &token);

// The report of one run: `rg`'s lines, cut to `wanted` with the marker when anything was left out
// (more lines, output `cut` at its cap, a `slow` run, a `walkFull` walk). Throws the search failure
// when `rg` ended with 2 or more, quickly, without a line.
QString report(const QByteArray &output, int status, bool cut, bool slow, bool walkFull, qint64 wanted);
} // namespace projectsearch
