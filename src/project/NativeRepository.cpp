#include "project/NativeRepository.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "core/StrictDecoder.h"
#include "platform/ChildProcess.h"
#include "project/CompanionRunner.h"
#include "project/Detached.h"

namespace NativeRepository
{
namespace
{
constexpr qsizetype kRequestLimit = 16384;
}

Owner::Owner() : m_stop(std::make_shared<ChildInterrupt>()) {}

void Owner::cancel()
{
    std::lock_guard guard(m_lock);
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_stop->trigger();
}

bool Owner::cancelled() const
{
    std::lock_guard guard(m_lock);
    return m_cancelled;
}

std::shared_ptr<ChildInterrupt> Owner::admit() const
{
    std::lock_guard guard(m_lock);
    if (m_cancelled)
        throw CancelledError();
    return m_stop;
}

QByteArray request(const QString &url, const QString &ref, const QString &workspaceRoot)
{
    Json origin = {{"kind", "git"}, {"url", url.toStdString()}};
    if (!ref.isEmpty())
        origin["ref"] = ref.toStdString();
    const QByteArray bytes =
        json::dump(Json{{"origin", std::move(origin)}, {"workspaceRoot", workspaceRoot.toStdString()}});
    if (bytes.size() > kRequestLimit)
        throw HubError(QStringLiteral("Repository request exceeds its limit."));
    return bytes;
}

Result decode(const QByteArray &reply)
{
    const Json document = json::parse(reply);
    const StrictDecoder fields(document);
    Result result;
    result.directory = fields.text("directory");
    const Json *origin = fields.optionalObject("origin");
    if (!origin)
        throw HubError(json::decodingErrorSentence());
    result.origin = StrictDecoder(*origin).text("kind");
    result.fetchFailed = fields.optionalText("fetchFailed");
    if (result.origin != u"git" || !result.directory.startsWith(u'/'))
        throw HubError(QStringLiteral("The repository companion returned an invalid project."));
    return result;
}

Result execute(const QByteArray &input, const std::shared_ptr<Owner> &owner)
{
    const std::shared_ptr<ChildInterrupt> stop = owner->admit();
    try {
        return decode(companion::run(companion::Job::repository, input, stop));
    } catch (...) {
        // A failed or stopped run leaves the opening cancelled: nothing may start for it again.
        owner->cancel();
        throw;
    }
}

QCoro::Task<Result> open(QString url, QString ref, QString workspaceRoot, CancelToken token)
{
    const QByteArray input = request(url, ref, workspaceRoot);
    auto owner = std::make_shared<Owner>();
    const CancelRegistration onCancel = token.onCancel([owner] { owner->cancel(); });
    auto work = [input, owner] { return execute(input, owner); };
    co_return co_await detached(std::move(work));
}
} // namespace NativeRepository
