#pragma once

#include "project/NativeChangeResult.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <optional>

// The working-tree changes of a project, read through the companion program.
namespace NativeChanges
{
// The changes request for `root`, selecting `path` when one is given (even an empty one).
QByteArray request(const QString &root, const std::optional<QString> &path);

// Runs the companion off the calling thread and decodes its reply. Does not judge `kind`: the caller
// applies NativeChangeResult::usable(). Throws the companion's or the decoder's error. The run is not
// tied to the caller's cancellation; its deadline bounds it.
QCoro::Task<NativeChangeResult> read(QString root, std::optional<QString> path);
} // namespace NativeChanges
