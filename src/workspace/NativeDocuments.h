#pragma once

#include "cloud/TokenSource.h"
#include "core/HubConfiguration.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <optional>

// The build shell and live browser of the current session: a main-thread observable model bound to
// one configuration, session id and token source at a time.
class NativeDocuments : public QObject
{
    Q_OBJECT

public:
    explicit NativeDocuments(QObject *parent = nullptr);
    ~NativeDocuments() override;

    // Binds the tools to a session. The same session and tenant only replace the token source;
    // anything else starts a new context and clears the browser grant.
    void configure(HubConfiguration configuration, QString session, TokenSource tokenSource);
    // Drops the live-browser grant and everything loaded from it.
    void invalidateBrowser();
    // Closes the session's build shell (on the platform too, when one is open there) and browser.
    // Throws the platform's sentence when the remote close is not confirmed.
    QCoro::Task<void> close();

private:
    std::optional<HubConfiguration> m_configuration;
    QString m_session;
    TokenSource m_tokenSource;
};
