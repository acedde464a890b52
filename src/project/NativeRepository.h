#pragma once

#include <QString>

#include <optional>

// The repository companion: opens a git repository into the workspace.
namespace NativeRepository {

// The companion's reply: the opened directory, the repository's origin and, when refreshing the
// existing clone failed, why.
struct Result
{
    QString directory;
    QString origin;
    std::optional<QString> fetchFailed;
};

} // namespace NativeRepository
