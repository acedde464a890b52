#pragma once

#include <QMap>
#include <QString>
#include <QUrl>

#include <optional>

using HubEnvironment = QMap<QString, QString>;

// Which application instance this process is, where the user's workspace lies and which platform
// endpoints it talks to. Built from the environment merged with the workspace's `.env` files.
class HubConfiguration
{
public:
    // Validates `environment`; throws HubError with the first failed check's sentence.
    explicit HubConfiguration(const HubEnvironment &environment);

    // The process environment plus what the default workspace root's `.env` files add. Never fails.
    static HubEnvironment configuredEnvironment();
    // As above, over a given process environment and current folder.
    static HubEnvironment configuredEnvironment(HubEnvironment process, const QString &currentFolder);

    // The workspace root for a run from the process's current folder, computed afresh on every read.
    static QString defaultWorkspaceRoot();
    static QString defaultWorkspaceRoot(const QString &currentFolder);

    struct CanonicalProject
    {
        QString root; // resolved absolute path of the project directory
        QString sessionID; // "prj-" and 40 hexadecimal digits
    };
    // Resolves `root` and derives the project's session id for `tenantID`.
    CanonicalProject canonicalProject() const;

    static bool isIdentifier(const QString &value);

    QString appID;
    QString tenantID;
    QString root; // absolute, standardised file path
    std::optional<QString> clientID;
    std::optional<QString> redirectURI;
    std::optional<QUrl> graphQLEndpoint;
    QUrl authDomain;
    std::optional<QString> tokenIssuer;
};
