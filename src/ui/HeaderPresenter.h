#pragma once

#include "cloud/NativeLive.h"

#include "ui/ModelFollower.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <optional>

// What the working screen's header shows and allows, from the model's values.
struct HeaderInputs
{
    QString displayProfile;
    bool closingSession = false;
    bool controlsConnected = false;
    bool controlInFlight = false;
    QList<NativeLive::Workspace> workspaces;
    QString tenantName;
    QString role;
    QString planName;
    QString workspaceLedgerLabel;
    QString sessionLedgerLabel;
    bool ledgerRefreshRunning = false;
    QString persistedCostLabel;
    std::optional<QString> unattributedLedgerLabel;
    QString sessionTokenLabel;
    std::optional<QString> teamRevision;
    bool cloudConnected = false;
    bool signedIn = false; // an access token is held
    bool hasConfiguration = false;
};

struct HeaderView
{
    Q_GADGET
    QML_VALUE_TYPE(headerView)
    Q_PROPERTY(QString profileText MEMBER profileText)
    Q_PROPERTY(bool profileEnabled MEMBER profileEnabled)
    Q_PROPERTY(QString workspaceMenuText MEMBER workspaceMenuText)
    Q_PROPERTY(bool workspaceMenuEnabled MEMBER workspaceMenuEnabled)
    Q_PROPERTY(QStringList workspaceTitles MEMBER workspaceTitles)
    Q_PROPERTY(QStringList workspaceIDs MEMBER workspaceIDs)
    Q_PROPERTY(bool planShown MEMBER planShown)
    Q_PROPERTY(QString planText MEMBER planText)
    Q_PROPERTY(QString workspaceLedgerText MEMBER workspaceLedgerText)
    Q_PROPERTY(QString sessionLedgerText MEMBER sessionLedgerText)
    Q_PROPERTY(QString ledgerHelp MEMBER ledgerHelp)
    Q_PROPERTY(bool refreshEnabled MEMBER refreshEnabled)
    Q_PROPERTY(QString costText MEMBER costText)
    Q_PROPERTY(bool unattributedShown MEMBER unattributedShown)
    Q_PROPERTY(QString unattributedText MEMBER unattributedText)
    Q_PROPERTY(QString costHelp MEMBER costHelp)
    Q_PROPERTY(bool revisionShown MEMBER revisionShown)
    Q_PROPERTY(QString revisionText MEMBER revisionText)
    Q_PROPERTY(QString revisionHelp MEMBER revisionHelp)
    Q_PROPERTY(QString connectionText MEMBER connectionText)
    Q_PROPERTY(QColor connectionDotColor MEMBER connectionDotColor)
    Q_PROPERTY(QString accountText MEMBER accountText)
    Q_PROPERTY(bool accountEnabled MEMBER accountEnabled)

public:
    friend bool operator==(const HeaderView &, const HeaderView &) = default;

    QString profileText;
    bool profileEnabled = false;
    QString workspaceMenuText; // "name · role", or "Local workspace" without a workspace name
    bool workspaceMenuEnabled = false;
    QStringList workspaceTitles; // "name · role" per workspace, in the model's order
    QStringList workspaceIDs;
    bool planShown = false;
    QString planText;
    QString workspaceLedgerText;
    QString sessionLedgerText;
    QString ledgerHelp;
    bool refreshEnabled = false;
    QString costText;
    bool unattributedShown = false;
    QString unattributedText; // also its own tooltip
    QString costHelp;
    bool revisionShown = false;
    QString revisionText; // "Tavrilo team · " and the revision's first 12 characters
    QString revisionHelp; // the whole revision
    QString connectionText;
    QColor connectionDotColor;
    QString accountText;
    bool accountEnabled = false;
};

HeaderView headerView(const HeaderInputs &in);
HeaderInputs headerInputs(const HubModel &model);

// The window's HeaderView, followed from the model: `HeaderPresenter { model: root.model }` and
// `text: presenter.view.someText`.
class HeaderPresenter : public ModelFollower
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(HeaderView view READ view NOTIFY viewChanged)

public:
    using ModelFollower::ModelFollower;

    const HeaderView &view() const { return m_view; }

Q_SIGNALS:
    void viewChanged();

protected:
    void refresh() override;

private:
    HeaderView m_view = headerView({});
};
