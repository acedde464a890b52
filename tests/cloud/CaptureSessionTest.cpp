// The credential hand-off of a headless capture: what the descriptor must be, the limits of the
// read, and the checks of the tokens against the hub's own client and issuer.
#include "cloud/CaptureSession.h"

#include "core/HubConfiguration.h"
#include "core/HubError.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const QString kClient = QStringLiteral("client-7");
const QString kIssuer = QStringLiteral("https://cognito-idp.us-east-1.amazonaws.com/us-east-1_Pool");

HubConfiguration configuration()
{
    HubConfiguration c({{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("capture-test")},
                        {QStringLiteral("TAVRILO_COGNITO_CLIENT_ID"), kClient},
                        {QStringLiteral("TAVRILO_COGNITO_USER_POOL_ID"), QStringLiteral("us-east-1_Pool")},
                        {QStringLiteral("TAVRILO_REDIRECT_URI"), QStringLiteral("tavrilo-code://auth/callback")}});
    return c;
}

QByteArray base64url(const QByteArray &bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QString token(const Json &claims) { return QString::fromLatin1("e30." + base64url(json::dump(claims)) + ".c2ln"); }

double now() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000; }

Json idClaims(double exp)
{
    return {{"exp", exp}, {"iss", kIssuer.toStdString()}, {"aud", kClient.toStdString()}, {"token_use", "id"}, {"sub", "u1"}};
}
Json accessClaims(double exp)
{
    return {{"exp", exp}, {"iss", kIssuer.toStdString()}, {"client_id", kClient.toStdString()},
            {"token_use", "access"}, {"sub", "u1"}};
}

QByteArray credentials(double exp = now() + 3600)
{
    return json::dump(Json{{"idToken", token(idClaims(exp)).toStdString()},
                           {"accessToken", token(accessClaims(exp)).toStdString()},
                           {"expiresAt", exp * 1000}});
}

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

// A pipe whose write end has `bytes` written and is closed unless `keepWriting`; the read end is
// returned, the write end kept in `writer`.
int pipeWith(const QByteArray &bytes, int &writer, bool keepWriting = false)
{
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    // A pipe's buffer holds 64 KiB; the write end is made larger so the limit is reached in one go.
    ::fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    EXPECT_EQ(::write(ends[1], bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    writer = ends[1];
    if (!keepWriting) {
        ::close(ends[1]);
        writer = -1;
    }
    return ends[0];
}

std::string refusal(const std::function<void()> &run)
{
    try {
        run();
    } catch (const HubError &error) {
        return error.description().toStdString();
    }
    return "(accepted)";
}

TEST(CaptureSession, ReadsAndClosesAnOwnedPipe)
{
    int writer = -1;
    const int fd = pipeWith(credentials(), writer);
    const CaptureSession session = CaptureSession::read(fd, configuration());
    EXPECT_EQ(CaptureSession::claims(session.idToken).value("sub", ""), "u1");
    EXPECT_FALSE(isOpen(fd));

    // Exactly 64 KiB is taken; one byte more is refused.
    for (const qsizetype size : {CaptureSession::kLimit, CaptureSession::kLimit + 1}) {
        QByteArray padded = credentials();
        padded.insert(1, QByteArray(size - padded.size(), ' '));
        const int padFd = pipeWith(padded, writer);
        EXPECT_EQ(refusal([&] { CaptureSession::read(padFd, configuration()); }),
                  size == CaptureSession::kLimit ? "(accepted)" : "Capture credentials exceed the 64 KiB handoff limit.");
        EXPECT_FALSE(isOpen(padFd));
    }
}

TEST(CaptureSession, RefusesWhatIsNoPrivatePipe)
{
    // Standard error is refused and stays open.
    EXPECT_EQ(refusal([] { CaptureSession::read(2, configuration()); }),
              "Capture credentials require a private descriptor numbered 3 or higher.");
    EXPECT_TRUE(isOpen(2));

    const std::string notPrivate = "Capture credentials must arrive over an owned private pipe, never a file or terminal.";
    QTemporaryDir dir;
    QFile file(dir.filePath("credentials.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(credentials());
    file.close();
    const int regular = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(refusal([&] { CaptureSession::read(regular, configuration()); }), notPrivate);
    EXPECT_FALSE(isOpen(regular));

    if (::geteuid() != 0)
        GTEST_SKIP() << "a FIFO of another owner needs root to make";
    const QByteArray fifo = QFile::encodeName(dir.filePath("foreign"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    ASSERT_EQ(::chown(fifo.constData(), 65534, 65534), 0);
    const int foreign = ::open(fifo.constData(), O_RDWR | O_CLOEXEC);
    EXPECT_EQ(refusal([&] { CaptureSession::read(foreign, configuration()); }), notPrivate);
    EXPECT_FALSE(isOpen(foreign));
}

TEST(CaptureSession, TheReadEndsAtItsDeadlineAndOnTheProducersEnd)
{
    // A producer that keeps its end open without writing.
    int writer = -1;
    const int silent = pipeWith({}, writer, true);
    EXPECT_EQ(refusal([&] { CaptureSession::read(silent, configuration(), std::chrono::milliseconds(150)); }),
              "The private capture credential handoff failed.");
    EXPECT_FALSE(isOpen(silent));
    ::close(writer);

    // A socket closed without a word; then bytes that are no credential record.
    for (const QByteArray &bytes : {QByteArray(), QByteArray(R"({"idToken":"a.b.c","accessToken":"a.b.c","expiresAt":"1"})")}) {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        ASSERT_EQ(::write(pair[1], bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(pair[1]);
        EXPECT_EQ(refusal([&] { CaptureSession::read(pair[0], configuration()); }),
                  "The private capture session was empty or malformed.");
    }
}

TEST(CaptureSession, ValidationTable)
{
    const std::string expired = "Capture credentials are expired, near expiry, or issued to another configured "
                                "client/issuer. Renew through the account producer first.";
    const double t = 1'800'000'000;
    const double later = t + 3600;
    struct Case
    {
        const char *what;
        Json id;
        Json access;
        double expiresAt;
        std::string want;
    };
    Json otherSubject = accessClaims(later);
    otherSubject["sub"] = "u2";
    Json audienceList = idClaims(later);
    audienceList["aud"] = Json::array({kClient.toStdString()});
    Json otherIssuer = accessClaims(later);
    otherIssuer["iss"] = "https://elsewhere.example";
    Json swappedUse = idClaims(later);
    swappedUse["token_use"] = "access";
    const Case cases[] = {
        {"valid", idClaims(later), accessClaims(later), later * 1000, "(accepted)"},
        {"expiresAt exactly at the margin", idClaims(later), accessClaims(later), (t + 180) * 1000, expired},
        {"id token at the margin", idClaims(t + 180), accessClaims(later), later * 1000, expired},
        {"access subject differs", idClaims(later), otherSubject, later * 1000, expired},
        {"audience given as a list", audienceList, accessClaims(later), later * 1000, expired},
        {"access token of another issuer", idClaims(later), otherIssuer, later * 1000, expired},
        {"id token used as access", swappedUse, accessClaims(later), later * 1000, expired},
    };
    for (const Case &c : cases) {
        const CaptureSession session{token(c.id), token(c.access), c.expiresAt};
        EXPECT_EQ(refusal([&] { session.validate(configuration(), t); }), c.want) << c.what;
    }

    HubConfiguration noIssuer = configuration();
    noIssuer.tokenIssuer.reset();
    const CaptureSession valid{token(idClaims(later)), token(accessClaims(later)), later * 1000};
    EXPECT_EQ(refusal([&] { valid.validate(noIssuer, t); }), "Capture requires the configured Cognito client and issuer.");
}

TEST(CaptureSession, TokenClaimsTable)
{
    const std::string malformed = "Capture received a malformed session token.";
    const std::string unreadable = "Capture session claims are unreadable.";
    struct Case
    {
        QString token;
        std::string want;
    };
    const Case cases[] = {
        {QStringLiteral("e30.eyJhIjoxfQ.c2ln"), "(accepted)"}, // {"a":1} without its trailing "="
        {QStringLiteral("e30.eyJhIjoxfQ==.c2ln"), "(accepted)"},
        {QStringLiteral("e30.eyJhIjoxfQ"), malformed},
        {QStringLiteral("e30..c2ln"), malformed},
        {QStringLiteral("e30.a.b.c"), malformed},
        {QStringLiteral("e30.eyJhIjoxf.c2ln"), unreadable}, // a remainder of 1 modulo 4
        {QStringLiteral("e30.W10.c2ln"), unreadable},         // [] is no object
        {QStringLiteral("e30.ey$hIjoxfQ.c2ln"), unreadable},
    };
    for (const Case &c : cases)
        EXPECT_EQ(refusal([&] { CaptureSession::claims(c.token); }), c.want) << c.token.toStdString();
}

TEST(CaptureSession, TheDescriptorIsKeptFromChildren)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    CaptureSession::keepFromChildren(ends[0]);
    EXPECT_TRUE(::fcntl(ends[0], F_GETFD) & FD_CLOEXEC);
    ::close(ends[0]);
    ::close(ends[1]);
}
} // namespace
