// What the session model reads from an identity token, and which journal stops it mirrors.
#include "SessionTestSupport.h"

#include "session/IdentityClaims.h"
#include "session/JournalInterrupt.h"
#include "support/SignInTestSupport.h"

#include <gtest/gtest.h>

using namespace sessiontest;
using testsupport::failureOf;

namespace
{
using sessiontest::PrintTo;

QString segment(const QByteArray &json)
{
    return QString::fromLatin1(json.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

struct ClaimsCase
{
    const char *name;
    QString token;
    QString failure; // empty: the claims are read
};

class Claims : public ::testing::TestWithParam<ClaimsCase>
{
};

TEST_P(Claims, AreReadOrRefusedWithTheirSentence)
{
    const ClaimsCase &c = GetParam();
    const QString outcome = failureOf([&] { identityclaims::read(c.token); });
    EXPECT_EQ(outcome, c.failure.isEmpty() ? QStringLiteral("(no failure)") : c.failure);
    // Hydration reads the same way and words an unreadable payload its own way.
    const QString hydration = failureOf([&] { identityclaims::read(c.token, identityclaims::kHydrationUnreadable); });
    EXPECT_EQ(hydration, outcome == QStringLiteral("Unreadable identity token.")
                             ? QStringLiteral("Identity token claims are unreadable.")
                             : outcome);
}

const QString kMalformed = QStringLiteral("Malformed identity token.");
const QString kUnreadable = QStringLiteral("Unreadable identity token.");

INSTANTIATE_TEST_SUITE_P(
    Cases, Claims,
    ::testing::Values(
        ClaimsCase{
            "Signed", QStringLiteral("h.") + segment(R"({"custom:tenant_id":"t","exp":5})") + QStringLiteral(".s"), {}},
        // Four and five bytes encode to 6 and 7 characters: padded with "==" and "=".
        ClaimsCase{"TwoShortOfAQuad", QStringLiteral("h.") + segment("{  }") + QStringLiteral(".s"), {}},
        ClaimsCase{"OneShortOfAQuad", QStringLiteral("h.") + segment("{   }") + QStringLiteral(".s"), {}},
        ClaimsCase{"OneOverAQuad", QStringLiteral("h.e30xA.s"), kUnreadable},
        ClaimsCase{"TwoSegments", QStringLiteral("h.e30"), kMalformed},
        ClaimsCase{"FourSegments", QStringLiteral("h.e30.s.x"), kMalformed},
        ClaimsCase{"EmptyMiddleSegment", QStringLiteral("h..s"), kMalformed},
        ClaimsCase{"EmptySegmentsAreDropped", QStringLiteral(".h.e30..s."), {}},
        ClaimsCase{"NotBase64", QStringLiteral("h.e3*0.s"), kUnreadable},
        ClaimsCase{"NotAnObject", QStringLiteral("h.") + segment("[1]") + QStringLiteral(".s"), kUnreadable},
        ClaimsCase{"NotJson", QStringLiteral("h.") + segment("{x") + QStringLiteral(".s"),
                   json::decodingErrorSentence()}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Claims, TenantAndExpiryAreTakenOnlyWithTheirTypes)
{
    const Json claims = identityclaims::read(QStringLiteral("h.") + segment(R"({"custom:tenant_id":"t","exp":1.5e9})") +
                                             QStringLiteral(".s"));
    EXPECT_EQ(identityclaims::tenant(claims), QStringLiteral("t"));
    EXPECT_EQ(identityclaims::expiry(claims), 1.5e9);
    const Json odd = identityclaims::read(QStringLiteral("h.") + segment(R"({"custom:tenant_id":7,"exp":"5"})") +
                                          QStringLiteral(".s"));
    EXPECT_FALSE(identityclaims::tenant(odd));
    EXPECT_FALSE(identityclaims::expiry(odd));
}

struct StampCase
{
    const char *name;
    const char *text;
    qint64 msecs; // since 1970; -1: refused
};

class Stamps : public ::testing::TestWithParam<StampCase>
{
};

TEST_P(Stamps, ParseOnlyWithAZone)
{
    const auto parsed = journalinterrupt::parseTimestamp(QString::fromLatin1(GetParam().text));
    if (GetParam().msecs < 0) {
        EXPECT_FALSE(parsed);
    } else {
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->toMSecsSinceEpoch(), GetParam().msecs);
    }
}

// 2026-05-01T10:00:00Z
constexpr qint64 kTen = 1777629600000;

INSTANTIATE_TEST_SUITE_P(Cases, Stamps,
                         ::testing::Values(StampCase{"Whole", "2026-05-01T10:00:00Z", kTen},
                                           StampCase{"Fraction", "2026-05-01T10:00:00.250Z", kTen + 250},
                                           StampCase{"LongFractionIsCut", "2026-05-01T10:00:00.2509Z", kTen + 250},
                                           StampCase{"ShortFraction", "2026-05-01T10:00:00.5Z", kTen + 500},
                                           StampCase{"Offset", "2026-05-01T12:30:00+02:30", kTen},
                                           StampCase{"NegativeOffset", "2026-05-01T07:00:00-03:00", kTen},
                                           StampCase{"NoZone", "2026-05-01T10:00:00", -1},
                                           StampCase{"NoZoneWithFraction", "2026-05-01T10:00:00.250", -1},
                                           StampCase{"EmptyFraction", "2026-05-01T10:00:00.Z", -1},
                                           StampCase{"SpaceForT", "2026-05-01 10:00:00Z", -1},
                                           StampCase{"NoSeconds", "2026-05-01T10:00Z", -1},
                                           StampCase{"NoMonth13", "2026-13-01T10:00:00Z", -1},
                                           StampCase{"NoHour24", "2026-05-01T24:00:00Z", -1},
                                           StampCase{"OffsetWithoutColon", "2026-05-01T10:00:00+0200", -1},
                                           StampCase{"Trailing", "2026-05-01T10:00:00Z ", -1},
                                           StampCase{"Empty", "", -1}),
                         [](const auto &info) { return std::string(info.param.name); });

struct MirrorCase
{
    const char *name;
    const char *kind;
    const char *timestamp;
    EventPayload payload;
    bool mirrored;
};

class Mirror : public ::testing::TestWithParam<MirrorCase>
{
};

TEST_P(Mirror, OnlyAnotherClientsStopOfThisSession)
{
    const MirrorCase &c = GetParam();
    WorkspaceEvent stop = event(QStringLiteral("e"), c.kind);
    stop.payload = c.payload;
    stop.timestamp = QString::fromLatin1(c.timestamp);
    const QDateTime connectedAt = QDateTime::fromMSecsSinceEpoch(kTen, Qt::UTC);
    EXPECT_EQ(journalinterrupt::mirrors(stop, connectedAt, QStringLiteral("S")), c.mirrored);
}

const char *const kAtConnect = "2026-05-01T10:00:00Z";

INSTANTIATE_TEST_SUITE_P(
    Cases, Mirror,
    ::testing::Values(
        MirrorCase{"EmptyPayload", "command.interrupt", kAtConnect, {}, true},
        MirrorCase{
            "OwnPlatformsClientOfThisSession",
            "command.interrupt",
            kAtConnect,
            {{QStringLiteral("client"), QStringLiteral("macos")}, {QStringLiteral("session_id"), QStringLiteral("S")}},
            false},
        MirrorCase{"OwnPlatformsClientWithoutSession",
                   "command.interrupt",
                   kAtConnect,
                   {{QStringLiteral("client"), QStringLiteral("macos")}},
                   false},
        MirrorCase{
            "OtherClient", "command.interrupt", kAtConnect, {{QStringLiteral("client"), QStringLiteral("cli")}}, true},
        MirrorCase{
            "OtherClientOfThisSession",
            "command.interrupt",
            kAtConnect,
            {{QStringLiteral("client"), QStringLiteral("cli")}, {QStringLiteral("session_id"), QStringLiteral("S")}},
            true},
        MirrorCase{
            "OtherClientOfAnotherSession",
            "command.interrupt",
            kAtConnect,
            {{QStringLiteral("client"), QStringLiteral("cli")}, {QStringLiteral("session_id"), QStringLiteral("T")}},
            false},
        MirrorCase{"NoClientOfThisSession",
                   "command.interrupt",
                   kAtConnect,
                   {{QStringLiteral("session_id"), QStringLiteral("S")}},
                   true},
        MirrorCase{"StampedWithFraction", "command.interrupt", "2026-05-01T10:00:00.250Z", {}, true},
        MirrorCase{"StampedBeforeTheWindowWasReady", "command.interrupt", "2026-05-01T09:59:59.999Z", {}, false},
        MirrorCase{"StampedWithoutZone", "command.interrupt", "2026-05-01T10:00:05", {}, false},
        MirrorCase{"Unstamped", "command.interrupt", "soon", {}, false},
        MirrorCase{"AnotherKind", "command.pause", kAtConnect, {}, false}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
