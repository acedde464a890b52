#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QPointer>

class HubModel;

// What the quit and close guards need of the window's model: whether it owns work that must be
// cleaned up before the hub goes, and the clean-up itself (which throws when it did not complete).
// The guards see only this, so they can be driven by a stand-in whose clean-up a test controls.
class SessionCleanup
{
public:
    virtual ~SessionCleanup() = default;
    virtual bool hasOwnedCleanup() const = 0;
    virtual QCoro::Task<void> closeSession() = 0;
};

// The window's model as the guards see it. Holds the model weakly: once it is gone nothing is owned.
class HubModelCleanup final : public SessionCleanup
{
public:
    explicit HubModelCleanup(HubModel *model);
    bool hasOwnedCleanup() const override;
    QCoro::Task<void> closeSession() override;

private:
    QPointer<HubModel> m_model;
};

// Writes `line` and a line feed to standard error as one write, unbuffered, so that lines of several
// writers never interleave.
void writeStandardErrorLine(const QByteArray &line);
