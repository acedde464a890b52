#pragma once

#include "cloud/NativeControls.h"
#include "core/async/Job.h"
#include "session/HubModel.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <functional>

// The composer sheet's decisions: which title and primary button it shows and when that button
// may be pressed. The interjection is checked trimmed and sent as typed.
struct ComposerRules
{
    static QString title(bool interjection);
    static QString primaryLabel(bool interjection);
    static bool primaryEnabled(bool interjection, bool controlsConnected, const QString &interjectionText);
};

// The view-local state that every section of one root view shares (open disclosures, the typed
// texts, the inspected specialist, the repository fields), and the composer's actions. One per root
// view: the window makes one for its life, the headless export a fresh one for every frame. Nothing
// here is persisted.
class HubViewState : public QObject
{
    Q_OBJECT
    QML_ELEMENT

#define HUB_VIEW_STATE(Type, name, Name)                                                                               \
    Q_PROPERTY(Type name READ name WRITE set##Name NOTIFY name##Changed)                                               \
public:                                                                                                                \
    const Type &name() const                                                                                           \
    {                                                                                                                  \
        return m_##name;                                                                                               \
    }                                                                                                                  \
    void set##Name(const Type &value)                                                                                  \
    {                                                                                                                  \
        if (m_##name == value)                                                                                         \
            return;                                                                                                    \
        m_##name = value;                                                                                              \
        Q_EMIT name##Changed();                                                                                        \
    }                                                                                                                  \
    Q_SIGNAL void name##Changed();                                                                                     \
                                                                                                                       \
private:                                                                                                               \
    Type m_##name{};

    // The window's model; the composer sends through it and the thinking choice follows it.
    Q_PROPERTY(HubModel *model READ model WRITE setModel NOTIFY modelChanged)
    // The motion of the screen switch: the layout's spring, run for `springSeconds` and read through
    // `profileProgress`; without a layout Qt's default animation (0.25 s, linear). Zero seconds under
    // reduced motion or off screen.
    Q_PROPERTY(double springSeconds READ springSeconds NOTIFY motionChanged)
    // `easing.bezierCurve` of the tab change and of the lane change (0.24 s each), empty where the
    // default animation applies; `curveMilliseconds` is their duration, 0 when nothing animates.
    Q_PROPERTY(QVariantList emphasisedCurve READ emphasisedCurve NOTIFY motionChanged)
    Q_PROPERTY(QVariantList standardCurve READ standardCurve NOTIFY motionChanged)
    Q_PROPERTY(int curveMilliseconds READ curveMilliseconds NOTIFY motionChanged)
    // True only while the view is drawn off screen for the headless export.
    HUB_VIEW_STATE(bool, offscreenExport, OffscreenExport)
    // No transition animates: the desktop asks for reduced motion, or TAVRILO_REDUCE_MOTION=1.
    HUB_VIEW_STATE(bool, reduceMotion, ReduceMotion)
    HUB_VIEW_STATE(bool, showingComposer, ShowingComposer)
    // The user's own choice for the thinking disclosure: undefined follows the model's inspector.
    HUB_VIEW_STATE(QVariant, thinkingOverride, ThinkingOverride)
    HUB_VIEW_STATE(QStringList, expandedApprovalIDs, ExpandedApprovalIDs)
    HUB_VIEW_STATE(QStringList, expandedPositionOwners, ExpandedPositionOwners)
    HUB_VIEW_STATE(QStringList, expandedResponseOwners, ExpandedResponseOwners)
    HUB_VIEW_STATE(QStringList, expandedReleaseDetails, ExpandedReleaseDetails)
    HUB_VIEW_STATE(bool, expandedReviewReason, ExpandedReviewReason)
    HUB_VIEW_STATE(bool, composingInterjection, ComposingInterjection)
    // Kept across closing the composer and across a send.
    HUB_VIEW_STATE(QString, interjectionText, InterjectionText)
    // The specialist whose detail panel is open; undefined when none.
    HUB_VIEW_STATE(QVariant, inspectedAgent, InspectedAgent)
    HUB_VIEW_STATE(QString, shellInput, ShellInput)
    // Input-request form values keyed "<request id>:<field name>".
    HUB_VIEW_STATE(QVariantMap, elicitationValues, ElicitationValues)
    HUB_VIEW_STATE(bool, showingRepository, ShowingRepository)
    HUB_VIEW_STATE(QString, repositoryAddress, RepositoryAddress)
    HUB_VIEW_STATE(QString, repositoryRef, RepositoryRef)
#undef HUB_VIEW_STATE

public:
    // Sends an interjection of `text` for the composer and ends when the send has, whatever its
    // outcome; the model's `actions.interject` in the window.
    using ControlSender = std::function<QCoro::Task<void>(QString text)>;

    explicit HubViewState(QObject *parent = nullptr);
    ~HubViewState() override;

    HubModel *model() const
    {
        return m_model;
    }
    void setModel(HubModel *model);
    // Replaces the model's sender (for tests of the composer without a model).
    void setControlSender(ControlSender sender);

    double springSeconds() const;
    Q_INVOKABLE double profileProgress(double seconds) const;
    QVariantList emphasisedCurve() const;
    QVariantList standardCurve() const;
    int curveMilliseconds() const;

    // Desktop setting and environment, read once per process.
    static bool systemReducesMotion();

    // The composer.
    Q_INVOKABLE void openComposer(bool interjection);
    Q_INVOKABLE void cancelComposer()
    {
        setShowingComposer(false);
    }
    // "Save task" closes the sheet (the task is already in the model); "Queue interjection" reads the
    // session and the text when its task runs, sends them and closes the sheet whatever the outcome.
    Q_INVOKABLE void composerPrimary();
    Q_INVOKABLE QString composerTitle(bool interjection) const
    {
        return ComposerRules::title(interjection);
    }
    Q_INVOKABLE QString composerPrimaryLabel(bool interjection) const
    {
        return ComposerRules::primaryLabel(interjection);
    }
    Q_INVOKABLE bool composerPrimaryEnabled(bool interjection, bool controlsConnected, const QString &text) const
    {
        return ComposerRules::primaryEnabled(interjection, controlsConnected, text);
    }

    // `list` with `id` added when absent and removed when present; for the sets of open disclosures.
    Q_INVOKABLE static QStringList toggled(const QStringList &list, const QString &id);

Q_SIGNALS:
    void modelChanged();
    void motionChanged();
    // An interjection send this state started has ended (whatever its outcome).
    void composerSendFinished();

private:
    const HubLayout *layout() const;

    QPointer<HubModel> m_model;
    QMetaObject::Connection m_inspectorConnection;
    QMetaObject::Connection m_layoutConnection;
    ControlSender m_sender;
    std::vector<Job> m_sends;
};
