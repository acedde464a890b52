#include "core/HubConfiguration.h"

#include "core/Deployment.h"
#include "core/HubError.h"
#include "core/RegularFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringDecoder>

#include <array>
#include <cstdlib>
#include <memory>

#include <fcntl.h>

namespace
{
// The eleven keys a `.env` file may set, in the order the initialiser consults them.
const std::array<QLatin1StringView, 11> kKeys = {
    QLatin1StringView("TAVRILO_APP_ID"),
    QLatin1StringView("TAVRILO_CODE_COGNITO_USER_POOL_ID"),
    QLatin1StringView("TAVRILO_COGNITO_USER_POOL_ID"),
    QLatin1StringView("TAVRILO_WORKSPACE_ROOT"),
    QLatin1StringView("TAVRILO_COGNITO_CLIENT_ID"),
    QLatin1StringView("TAVRILO_CODE_COGNITO_CLIENT_ID"),
    QLatin1StringView("TAVRILO_REDIRECT_URI"),
    QLatin1StringView("TAVRILO_CODE_DESKTOP_REDIRECT_URI"),
    QLatin1StringView("TAVRILO_CODE_AUTH_DOMAIN"),
    QLatin1StringView("TAVRILO_CODE_PLATFORM_GRAPHQL_URL"),
    QLatin1StringView("TAVRILO_PLATFORM_GRAPHQL_URL"),
};

constexpr qint64 kEnvFileLimit = 131072;

bool isConfigurationKey(const QString &key)
{
    for (const auto &k : kKeys)
        if (key == k)
            return true;
    return false;
}

bool existsAtAll(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Reads at most the first 131072 bytes of a `.env` file as UTF-8; nothing when it cannot be opened,
// is not a regular file (a FIFO there would hold start-up), cannot be read, or is not valid UTF-8
// (a character split at the cut counts as invalid).
std::optional<QString> readEnvFile(const QString &path)
{
    RegularFile file = RegularFile::open(QFile::encodeName(path), O_RDONLY);
    if (!file.opened())
        return std::nullopt;
    const auto bytes = file.read(kEnvFileLimit);
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(*bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isQuote(QChar c) { return c == u'"' || c == u'\''; }

void mergeEnvText(HubEnvironment &environment, const QString &text)
{
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        qsizetype start = 0;
        while (start < line.size() && line[start] == u'=')
            ++start;
        const qsizetype equals = line.indexOf(u'=', start);
        if (equals < 0 || equals + 1 >= line.size())
            continue;

        QString key = line.mid(start, equals - start);
        qsizetype a = 0, b = key.size();
        while (a < b && (key[a] == u' ' || key[a] == u'\t'))
            ++a;
        while (b > a && (key[b - 1] == u' ' || key[b - 1] == u'\t'))
            --b;
        key = key.mid(a, b - a);
        key.remove(QStringLiteral("export "));
        if (!isConfigurationKey(key) || environment.contains(key))
            continue;

        QString value = line.mid(equals + 1).trimmed();
        qsizetype from = 0, to = value.size();
        while (from < to && isQuote(value[from]))
            ++from;
        while (to > from && isQuote(value[to - 1]))
            --to;
        environment.insert(key, value.mid(from, to - from));
    }
}

// The first present key of a field; a present key with an empty value still wins.
std::optional<QString> firstPresent(const HubEnvironment &environment, QLatin1StringView first,
                                    QLatin1StringView second = {})
{
    if (auto it = environment.constFind(first); it != environment.constEnd())
        return *it;
    if (!second.isEmpty())
        if (auto it = environment.constFind(second); it != environment.constEnd())
            return *it;
    return std::nullopt;
}

template <size_t N> bool isOneOf(const QString &host, const std::array<std::string_view, N> &set)
{
    for (const auto &h : set)
        if (host == QLatin1StringView(h.data(), qsizetype(h.size())))
            return true;
    return false;
}

// The URL's parts as written: QUrl lower-cases schemes and hosts, while the checks compare them
// exactly.
struct RawAuthority
{
    QString scheme;
    QString host;
};

RawAuthority rawAuthority(const QString &text)
{
    RawAuthority raw;
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0)
        return raw;
    raw.scheme = text.left(colon);
    if (!text.mid(colon + 1).startsWith(QStringLiteral("//")))
        return raw;
    QString authority = text.mid(colon + 3);
    const qsizetype end = authority.indexOf(QRegularExpression(QStringLiteral("[/?#]")));
    if (end >= 0)
        authority.truncate(end);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0)
        authority = authority.mid(at + 1);
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        raw.host = close > 0 ? authority.left(close + 1) : authority;
    } else {
        const qsizetype portColon = authority.indexOf(u':');
        raw.host = portColon >= 0 ? authority.left(portColon) : authority;
    }
    return raw;
}

std::optional<QUrl> parseHttps(const QString &text, RawAuthority &raw)
{
    const QUrl url(text, QUrl::StrictMode);
    raw = rawAuthority(text);
    if (!url.isValid() || raw.scheme != QLatin1StringView("https") || url.host().isEmpty() || raw.host.isEmpty())
        return std::nullopt;
    return url;
}

bool userInfoPresent(const QUrl &url, const QString &text)
{
    // "https://@host" has an empty but present user part; any "@" in the authority counts.
    const qsizetype colon = text.indexOf(u':');
    QString authority = text.mid(colon + 3);
    const qsizetype end = authority.indexOf(QRegularExpression(QStringLiteral("[/?#]")));
    if (end >= 0)
        authority.truncate(end);
    return authority.contains(u'@') || !url.userInfo().isEmpty();
}

const QRegularExpression &appSyncHost()
{
    static const QRegularExpression re(
        QStringLiteral("\\A[a-z0-9-]+\\.appsync-api\\.[a-z0-9-]+\\.amazonaws\\.com\\z"));
    return re;
}

bool isAllowedGraphQLHost(const QString &host)
{
    if (host == QLatin1StringView(deployment::kApiHost.data(), qsizetype(deployment::kApiHost.size())))
        return true;
    for (const auto &domain : deployment::kPlatformDomains)
        if (host.endsWith(u'.' + QLatin1StringView(domain.data(), qsizetype(domain.size()))))
            return true;
    return appSyncHost().match(host).hasMatch();
}

QString standardised(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}
} // namespace

bool HubConfiguration::isIdentifier(const QString &value)
{
    if (value.isEmpty() || value.size() > 64)
        return false;
    const auto alnum = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    };
    if (!alnum(value[0]))
        return false;
    for (qsizetype i = 1; i < value.size(); ++i)
        if (!alnum(value[i]) && value[i] != u'_' && value[i] != u'-')
            return false;
    return true;
}

QString HubConfiguration::defaultWorkspaceRoot()
{
    return defaultWorkspaceRoot(QDir::currentPath());
}

QString HubConfiguration::defaultWorkspaceRoot(const QString &currentFolder)
{
    const QString current = QDir::cleanPath(currentFolder);
    const QDir dir(current);
    if (existsAtAll(dir.filePath(QStringLiteral("tavrilo-code/native-hub/Package.swift"))))
        return dir.filePath(QStringLiteral("tavrilo-code"));
    if (QFileInfo(current).fileName() == QLatin1StringView("native-hub") &&
        existsAtAll(dir.filePath(QStringLiteral("Package.swift"))))
        return QDir::cleanPath(dir.filePath(QStringLiteral("..")));
    return current;
}

HubEnvironment HubConfiguration::configuredEnvironment()
{
    HubEnvironment process;
    const auto system = QProcessEnvironment::systemEnvironment();
    for (const QString &key : system.keys())
        process.insert(key, system.value(key));
    return configuredEnvironment(std::move(process), QDir::currentPath());
}

HubEnvironment HubConfiguration::configuredEnvironment(HubEnvironment environment, const QString &currentFolder)
{
    const QString root = defaultWorkspaceRoot(currentFolder);
    QStringList files{QDir(root).filePath(QStringLiteral(".env"))};
    if (QFileInfo(root).fileName() == QLatin1StringView("tavrilo-code"))
        files << QDir::cleanPath(root + QStringLiteral("/../.env"));
    for (const QString &path : files)
        if (const auto text = readEnvFile(path))
            mergeEnvText(environment, *text);
    return environment;
}

HubConfiguration::HubConfiguration(const HubEnvironment &environment)
{
    const auto appId = firstPresent(environment, QLatin1StringView("TAVRILO_APP_ID"));
    if (!appId || !isIdentifier(*appId))
        throw HubError(QStringLiteral("Set TAVRILO_APP_ID to an identifier containing letters, numbers, _ or -."));
    appID = *appId;

    if (const auto pool = firstPresent(environment, QLatin1StringView("TAVRILO_CODE_COGNITO_USER_POOL_ID"),
                                       QLatin1StringView("TAVRILO_COGNITO_USER_POOL_ID"))) {
        static const QRegularExpression poolId(
            QStringLiteral("\\A[a-z]{2}(?:-[a-z0-9]+)+-[0-9]+_[A-Za-z0-9]+\\z"));
        if (!poolId.match(*pool).hasMatch())
            throw HubError(QStringLiteral("The configured Cognito pool identifier is invalid."));
        const QString region = pool->section(u'_', 0, 0);
        tokenIssuer = QString::fromLatin1(deployment::kCognitoIssuerPrefix.data(),
                                          qsizetype(deployment::kCognitoIssuerPrefix.size())) +
                      region +
                      QString::fromLatin1(deployment::kCognitoIssuerSuffix.data(),
                                          qsizetype(deployment::kCognitoIssuerSuffix.size())) +
                      *pool;
    }

    tenantID = QString();
    const auto workspaceRoot = firstPresent(environment, QLatin1StringView("TAVRILO_WORKSPACE_ROOT"));
    root = workspaceRoot ? standardised(*workspaceRoot) : defaultWorkspaceRoot();
    clientID = firstPresent(environment, QLatin1StringView("TAVRILO_COGNITO_CLIENT_ID"),
                            QLatin1StringView("TAVRILO_CODE_COGNITO_CLIENT_ID"));
    redirectURI = firstPresent(environment, QLatin1StringView("TAVRILO_REDIRECT_URI"),
                               QLatin1StringView("TAVRILO_CODE_DESKTOP_REDIRECT_URI"));

    {
        const QString text = firstPresent(environment, QLatin1StringView("TAVRILO_CODE_AUTH_DOMAIN"))
                                 .value_or(QString::fromLatin1(deployment::kDefaultAuthDomain.data(),
                                                               qsizetype(deployment::kDefaultAuthDomain.size())));
        RawAuthority raw;
        const auto url = parseHttps(text, raw);
        if (!url || !isOneOf(raw.host, deployment::kSignInHosts) || userInfoPresent(*url, text) || url->hasQuery())
            throw HubError(QStringLiteral("Invalid native authentication domain."));
        authDomain = *url;
    }

    const auto endpoint = firstPresent(environment, QLatin1StringView("TAVRILO_CODE_PLATFORM_GRAPHQL_URL"),
                                       QLatin1StringView("TAVRILO_PLATFORM_GRAPHQL_URL"));
    if (!endpoint) {
        graphQLEndpoint = QUrl(QString::fromLatin1(deployment::kDefaultGraphQLEndpoint.data(),
                                                   qsizetype(deployment::kDefaultGraphQLEndpoint.size())));
        return;
    }
    RawAuthority raw;
    const auto url = parseHttps(*endpoint, raw);
    // The host as written and as stored: the stored URL's host is lower-cased and mapped to ASCII
    // (full-width letters, ideographic full stops), so a denied host may be written in a way the
    // text comparison alone would miss. Both forms must pass.
    const auto hostPasses = [](const QString &host) {
        return isAllowedGraphQLHost(host) && !isOneOf(host, deployment::kDeniedGraphQLHosts);
    };
    const bool valid = url && (url->port() == -1 || url->port() == 443) && hostPasses(raw.host) &&
                       hostPasses(url->host(QUrl::FullyEncoded)) && !userInfoPresent(*url, *endpoint) &&
                       !url->hasQuery() && !url->hasFragment();
    if (!valid)
        throw HubError(QStringLiteral("Invalid native platform GraphQL endpoint."));
    graphQLEndpoint = *url;
}

HubConfiguration::CanonicalProject HubConfiguration::canonicalProject() const
{
    const QByteArray path = QFile::encodeName(root);
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.constData(), nullptr), &std::free);
    if (!resolved)
        throw HubError(QStringLiteral("The selected project directory does not exist or is inaccessible."));
    const QByteArray resolvedPath(resolved.get());

    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(tenantID.toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(resolvedPath);
    const QByteArray hex = hash.result().toHex().left(40);
    return {QFile::decodeName(resolvedPath), QStringLiteral("prj-") + QString::fromLatin1(hex)};
}
