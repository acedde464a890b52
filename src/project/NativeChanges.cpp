#include "project/NativeChanges.h"

#include "core/Json.h"
#include "project/CompanionRunner.h"
#include "project/Detached.h"

namespace NativeChanges
{
QByteArray request(const QString &root, const std::optional<QString> &path)
{
    Json inner = {{"kind", "changes"}};
    if (path)
        inner["path"] = path->toStdString();
    return json::dump(Json{{"root", root.toStdString()}, {"request", std::move(inner)}});
}

QCoro::Task<NativeChangeResult> read(QString root, std::optional<QString> path)
{
    auto work = [input = request(root, path)] {
        return NativeChangeResult::decode(companion::run(companion::Job::changes, input));
    };
    co_return co_await detached(std::move(work));
}
} // namespace NativeChanges
