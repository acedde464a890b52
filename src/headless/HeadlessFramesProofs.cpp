// The live tool proofs: the observed session's browser and build shell shown to work end to end
// before their frames are exported.
#include "headless/HeadlessFrames.h"

#include "cloud/NativeControls.h"
#include "core/HubError.h"
#include "core/async/Sleep.h"
#include "session/HubModel.h"

#include <QElapsedTimer>
#include <QUuid>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace
{
// A deadline on the monotonic clock.
class Deadline
{
public:
    explicit Deadline(std::chrono::milliseconds span) : m_span(span) { m_clock.start(); }
    bool before() const { return m_clock.elapsed() < m_span.count(); }

private:
    QElapsedTimer m_clock;
    std::chrono::milliseconds m_span;
};

std::chrono::milliseconds longWait(double wait)
{
    return std::max(std::chrono::milliseconds(qint64(wait * 1000)), std::chrono::milliseconds(120'000));
}

HubError turnEnded(const QString &code)
{
    return HubError(QStringLiteral("The observed turn ended (") + code +
                    QStringLiteral(") before the requested specialist activity; no connected frame was exported."));
}
} // namespace

HeadlessFrames::BrowserNavigationState HeadlessFrames::browserNavigationState(const QList<WorkspaceEvent> &events,
                                                                             const std::optional<QString> &turnID)
{
    if (!turnID)
        return BrowserNavigationState::Pending;
    bool failed = false;
    for (auto event = events.crbegin(); event != events.crend(); ++event) {
        if (event->kind != QLatin1StringView("tool_end") || event->payload.value(QStringLiteral("turnId")) != *turnID ||
            event->payload.value(QStringLiteral("tool")) != QLatin1StringView("tavrilo_owned_browser_goto"))
            continue;
        const QString call = event->payload.contains(QStringLiteral("id")) ? event->payload.value(QStringLiteral("id"))
                                                                           : event->payload.value(QStringLiteral("toolUseId"));
        if (call.isEmpty())
            continue;
        const QString ok = event->payload.value(QStringLiteral("resultOk"));
        if (ok == QLatin1StringView("true"))
            return BrowserNavigationState::Succeeded;
        if (ok == QLatin1StringView("false"))
            failed = true;
    }
    return failed ? BrowserNavigationState::Failed : BrowserNavigationState::Pending;
}

QCoro::Task<void> HeadlessFrames::browserProof(HubModel &model, double wait, qint64 windowsBefore, CancelToken token)
{
    const Deadline deadline(longWait(wait));
    for (;;) {
        token.throwIfCancelled();
        const BrowserNavigationState state =
            browserNavigationState(model.events(), model.headlessTurnProgress().turnID);
        if (state == BrowserNavigationState::Succeeded)
            break;
        if (!deadline.before())
            throw HubError(state == BrowserNavigationState::Pending
                               ? QStringLiteral("The connected specialist did not complete a browser navigation before capture.")
                               : QStringLiteral("The connected specialists' browser navigations did not succeed."));
        co_await sleepFor(250ms, token);
    }

    // One deadline for the navigation and the opening: a live view the platform is still preparing
    // is asked for again until then.
    for (;;) {
        token.throwIfCancelled();
        try {
            co_await model.documents()->openBrowser();
            break;
        } catch (const NativeControls::Refusal &refusal) {
            if (refusal.code() != QLatin1StringView("BROWSER_UNAVAILABLE") || !deadline.before())
                throw;
        }
        co_await sleepFor(500ms, token);
        if (!deadline.before())
            throw NativeControls::Refusal(QStringLiteral("BROWSER_UNAVAILABLE"));
    }
    co_await sleepFor(2s, token);
    if (const std::optional<QString> &code = model.headlessTurnProgress().terminalCode)
        throw turnEnded(*code);
    model.setCapturedBrowser(co_await model.documents()->captureBrowserSession());
    requireOffscreen(windowsBefore, QStringLiteral("browser-snapshot"));
}

QString HeadlessFrames::newProofMarker()
{
    return QStringLiteral("TAVRILO_SHELL_PROOF_") +
           QUuid::createUuid().toString(QUuid::WithoutBraces).remove(u'-').toUpper();
}

QString HeadlessFrames::proofCommand(const QString &marker)
{
    // Two arguments printed without a separator: the echoed command line keeps the space between
    // them, so only the command's output holds the marker whole.
    const QString prefix = QStringLiteral("TAVRILO_SHELL_PROOF_");
    return QStringLiteral("printf '%s%s\\n' ") + prefix + u' ' + marker.mid(prefix.size()) + u'\n';
}

QCoro::Task<void> HeadlessFrames::shellProof(HubModel &model, CancelToken token)
{
    NativeDocuments &documents = *model.documents();
    co_await documents.openShell();
    co_await documents.resize(100, 30);
    const Deadline connection(15s);
    while (!documents.shellReady()) {
        token.throwIfCancelled();
        if (!connection.before())
            throw HubError(QStringLiteral("The actual build shell did not complete its connection before capture."));
        co_await sleepFor(100ms, token);
    }

    const QString marker = newProofMarker();
    co_await documents.send(proofCommand(marker));
    const Deadline output(20s);
    while (!documents.shellText().contains(marker)) {
        token.throwIfCancelled();
        if (!documents.shellReady() || !output.before())
            throw HubError(QStringLiteral("The actual build shell did not return the harmless stdout proof marker."));
        co_await sleepFor(100ms, token);
    }
}
