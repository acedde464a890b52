#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QPointer>

class HubModel;

// What the quit and close guards need of the window's model: whether it owns work that must be
// cleaned up before the hub goes, and the clean-up itself, which ends true when it completed (its
// failure is the model's to report). The guards see only this, so they can be driven by a stand-in
// whose clean-up a test controls.
class SessionCleanup
{
public:
    virtual ~SessionCleanup() = default;
    virtual bool hasOwnedCleanup() const = 0;
    virtual QCoro::Task<bool> closeSession() = 0;
};

// The window's model as the guards see it: the close goes through the model's actions, as the
// window's own Stop does, and ends with their `sessionCloseEnded`. Holds the model weakly: once it
// is gone nothing is owned and nothing is left to clean up.
class HubModelCleanup final : public SessionCleanup
{
public:
    explicit HubModelCleanup(HubModel *model);
    bool hasOwnedCleanup() const override;
    QCoro::Task<bool> closeSession() override;

private:
    QPointer<HubModel> m_model;
};

// Writes `line` and a line feed to standard error as one write, unbuffered, so that lines of several
// writers never interleave.
void writeStandardErrorLine(const QByteArray &line);
