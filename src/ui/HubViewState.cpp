#include "ui/HubViewState.h"

#include "core/async/NextEmission.h"
#include "session/HubActions.h"
#include "session/HubModel.h"

#include <QProcess>
#include <QStandardPaths>
#include <cmath>

QString ComposerRules::title(bool interjection)
{
    return interjection ? QObject::tr("Interject in this run") : QObject::tr("Give your workforce a task");
}

QString ComposerRules::primaryLabel(bool interjection)
{
    return interjection ? QObject::tr("Queue interjection") : QObject::tr("Save task");
}

bool ComposerRules::primaryEnabled(bool interjection, bool controlsConnected, const QString &interjectionText)
{
    if (!interjection)
        return true;
    return controlsConnected && !interjectionText.trimmed().isEmpty();
}

namespace
{
// Qt's own default animation, where the layout gives no motion: a quarter second, linear.
constexpr double defaultSeconds = 0.25;
constexpr int curveDurationMs = 240;

QVariantList bezierCurve(const QList<double> &points)
{
    if (points.size() != 4)
        return {};
    return {points[0], points[1], points[2], points[3], 1.0, 1.0};
}
} // namespace

HubViewState::HubViewState(QObject *parent) : QObject(parent), m_reduceMotion(systemReducesMotion())
{
    connect(this, &HubViewState::reduceMotionChanged, this, &HubViewState::motionChanged);
    connect(this, &HubViewState::offscreenExportChanged, this, &HubViewState::motionChanged);
}

const HubLayout *HubViewState::layout() const
{
    return m_model && m_model->layout() ? &*m_model->layout() : nullptr;
}

double HubViewState::springSeconds() const
{
    if (m_reduceMotion || m_offscreenExport)
        return 0;
    const HubLayout *hubLayout = layout();
    if (!hubLayout)
        return defaultSeconds;
    const double settling = hubLayout->motion.spring.settlingSeconds();
    // A spring without damping never settles; it is cut where a user would expect a transition to end.
    return std::isfinite(settling) ? std::min(settling, 2.0) : 2.0;
}

double HubViewState::profileProgress(double seconds) const
{
    const double total = springSeconds();
    if (total <= 0 || seconds >= total)
        return 1;
    if (seconds <= 0)
        return 0;
    const HubLayout *hubLayout = layout();
    return hubLayout ? hubLayout->motion.spring.progress(seconds) : seconds / total;
}

QVariantList HubViewState::emphasisedCurve() const
{
    const HubLayout *hubLayout = layout();
    return hubLayout ? bezierCurve(hubLayout->motion.emphasised) : QVariantList();
}

QVariantList HubViewState::standardCurve() const
{
    const HubLayout *hubLayout = layout();
    return hubLayout ? bezierCurve(hubLayout->motion.standard) : QVariantList();
}

int HubViewState::curveMilliseconds() const
{
    if (m_reduceMotion || m_offscreenExport)
        return 0;
    return layout() ? curveDurationMs : int(defaultSeconds * 1000);
}

HubViewState::~HubViewState() = default;

void HubViewState::setModel(HubModel *model)
{
    if (model == m_model)
        return;
    disconnect(m_inspectorConnection);
    disconnect(m_layoutConnection);
    m_model = model;
    if (model) {
        // Opening or closing an inspector section by its title makes the thinking disclosure follow
        // the inspector again; the initial value is no change.
        m_inspectorConnection =
            connect(model, &HubModel::expandedInspectorChanged, this, [this] { setThinkingOverride(QVariant()); });
        m_layoutConnection = connect(model, &HubModel::layoutChanged, this, &HubViewState::motionChanged);
        // The interjection goes out through the model's actions, as every other control of the
        // window does; the sheet learns the send has ended from `interjectionEnded`.
        const QPointer<HubActions> actions = model->actions();
        m_sender = [actions](QString text) -> QCoro::Task<void> {
            if (!actions)
                co_return;
            // Connected before the send starts: a send refused at once announces before any wait.
            bool ended = false;
            QObject receiver;
            connect(actions.data(), &HubActions::interjectionEnded, &receiver, [&ended] { ended = true; });
            actions->interject(text);
            while (!ended && actions) {
                NextEmission<HubActions> next(actions.data(), {&HubActions::interjectionEnded});
                co_await std::move(next);
            }
        };
    } else {
        m_sender = nullptr;
    }
    Q_EMIT modelChanged();
    Q_EMIT motionChanged();
}

void HubViewState::setControlSender(ControlSender sender)
{
    m_sender = std::move(sender);
}

bool HubViewState::systemReducesMotion()
{
    static const bool reduce = [] {
        if (qEnvironmentVariable("TAVRILO_REDUCE_MOTION") == QLatin1String("1"))
            return true;
        // Read once through gsettings; a desktop without the key (or without gsettings) animates.
        const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
        if (gsettings.isEmpty())
            return false;
        QProcess process;
        process.start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                                  QStringLiteral("enable-animations")});
        if (!process.waitForFinished(2000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            process.kill();
            process.waitForFinished(500);
            return false;
        }
        return process.readAllStandardOutput().trimmed() == "false";
    }();
    return reduce;
}

void HubViewState::openComposer(bool interjection)
{
    setComposingInterjection(interjection);
    setShowingComposer(true);
}

void HubViewState::composerPrimary()
{
    if (!m_composingInterjection) {
        setShowingComposer(false);
        return;
    }
    if (!m_sender)
        return;
    std::erase_if(m_sends, [](const Job &job) { return job.isFinished(); });
    m_sends.push_back(Job::start([self = QPointer<HubViewState>(this)](CancelToken) -> QCoro::Task<void> {
        if (!self)
            co_return;
        // Read as it is when the task runs, and sent as typed: the trim is only for the check. The
        // session is the one the model is in when the send starts.
        const QString text = self->m_interjectionText;
        const ControlSender sender = self->m_sender;
        try {
            co_await sender(text);
        } catch (...) {
            // The model reports the outcome in its status line; the sheet closes either way.
        }
        if (!self)
            co_return;
        self->setShowingComposer(false);
        Q_EMIT self->composerSendFinished();
    }));
}

QStringList HubViewState::toggled(const QStringList &list, const QString &id)
{
    QStringList result = list;
    if (!result.removeAll(id))
        result.append(id);
    return result;
}
