#pragma once

#include "core/HubConfiguration.h"
#include "core/async/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QLatin1StringView>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class Keyring;
class QNetworkAccessManager;
class WebAuthSession;

// Hosted sign-in (authorization code with PKCE, S256) and silent renewal from the stored refresh
// token. Of the tokens received only the refresh token is kept, and only in the keyring: one secret
// per app client id. Main thread only.
//
// The keyring and the sign-in window are the platform's: whoever assembles the hub hands them in
// (the user's keyring and the browser-engine window in the application, stand-ins in tests).
class CognitoLogin : public QObject
{
    Q_OBJECT

public:
    // Stored secrets of earlier versions are found under this service name: never change it.
    static constexpr QLatin1StringView keychainService{"com.tavrilo.native-hub.account"};
    // Where the page behind an https redirect URI sends the browser on to.
    static constexpr QLatin1StringView desktopCallbackURL{"tavrilo-code://auth/callback"};

    struct Tokens
    {
        QString accessToken;
        std::optional<QString> identityToken;
    };

    using WebAuthSessionFactory = std::function<std::unique_ptr<WebAuthSession>()>;

    // `webSessions` makes the sign-in window of each sign-in; `network` sends the token requests.
    CognitoLogin(std::shared_ptr<Keyring> keyring, WebAuthSessionFactory webSessions, QNetworkAccessManager *network,
                 QObject *parent = nullptr);
    ~CognitoLogin() override;

    // Renews the tokens silently from the stored refresh token. Nothing, and no traffic, when no
    // client id is configured or no token is stored for it.
    QCoro::Task<std::optional<Tokens>> restore(HubConfiguration configuration, CancelToken token = {});
    // Signs the user in through the hosted pages in the sign-in window.
    QCoro::Task<Tokens> login(HubConfiguration configuration, CancelToken token = {});

    // The RFC 7636 code verifier of `randomBytes`: unpadded base64url.
    static QString codeVerifier(const QByteArray &randomBytes);
    // The S256 code challenge of `verifier`.
    static QString codeChallenge(const QString &verifier);
    // `authDomain` with `component` appended to whatever path it carries.
    static QUrl endpoint(const QUrl &authDomain, const QString &component);
    // The callback URL a sign-in waits for with `redirectURI` configured: the desktop callback for
    // an https redirect URI, else the redirect URI itself. Nothing when the redirect URI is refused
    // (absent, unparsable, plain http, or leaving a callback without a scheme). Its scheme is the
    // one the sign-in window must catch.
    static std::optional<QUrl> expectedCallback(const std::optional<QString> &redirectURI);

private:
    // Decodes a token answer, stores the refresh token it holds (if any) and returns the rest.
    QCoro::Task<Tokens> keepRefreshToken(QByteArray answerBody, QString client);
    QCoro::Task<std::optional<QString>> storedRefreshToken(QString account, CancelToken token);
    QCoro::Task<void> saveRefreshToken(QString token, QString client);

    std::shared_ptr<Keyring> m_keyring;
    WebAuthSessionFactory m_webSessions;
    QNetworkAccessManager *m_network;
    // The web session of the latest sign-in, from its start until its callback arrives.
    std::unique_ptr<WebAuthSession> m_session;
};
