#pragma once

#include "cloud/CognitoLogin.h"
#include "cloud/NativeLive.h"
#include "core/Json.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class HubModel;
class Keyring;

// The headless export's live profile of one model: the project given on the command line as the
// workspace root, a sign-in without any window (credentials a parent process hands over on a
// private descriptor, else the stored sign-in), the identity hydrated and, with a session to
// observe, that session's realtime frames. `finish` is the clean-up of every road: nothing of the
// profile (subscription, build shell, browser grant, ledger task, credentials) outlives the export.
//
// The profile holds the subscription and the stored sign-in of its own, beside the model's: the
// export never starts a turn, so the model's own never run. Main thread only.
class HeadlessProfile
{
public:
    HeadlessProfile(HubModel &model, std::shared_ptr<Keyring> keyring);
    ~HeadlessProfile();
    HeadlessProfile(const HeadlessProfile &) = delete;
    HeadlessProfile &operator=(const HeadlessProfile &) = delete;

    // Prepares the model. A failure leaves it partly prepared; `finish` must still run. Throws
    // HubError sentences and the errors of what it calls. A descriptor that passed the first check is
    // closed on every road.
    QCoro::Task<void> prepare(QString project, std::optional<QString> observedSession,
                              std::optional<int> credentialDescriptor);
    // Runs the clean-up to its end, in a job the caller's cancellation cannot reach, and rethrows its
    // error. Valid from any state, prepared or not.
    QCoro::Task<void> finish();

    // The subscription's counters on one line, for the specialist wait's deadline sentence.
    QString transportDiagnostic() const;

    // 33 to 256 characters of letters, digits, "_" and "-", and nothing else.
    static bool isObservableSessionID(const QString &id);
    // What the frame handler notes of one frame before the model handles it: the turn progress, the
    // frame count (transport errors aside) and the running flag from a "working" list of texts.
    static void observeFrame(HubModel &model, const Json &frame);

private:
    QCoro::Task<void> cleanUp();

    QPointer<HubModel> m_model;
    CognitoLogin m_login;
    NativeLive m_live;
};
