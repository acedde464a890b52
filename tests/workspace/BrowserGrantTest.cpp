#include "workspace/BrowserFrame.h"
#include "workspace/BrowserGrant.h"

#include "WorkspaceFakes.h"
#include "core/HubError.h"

#include <QtEndian>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace
{
struct UrlCase
{
    const char *name;
    const char *url;
    bool grant;      // accepted as a grant's live view
    bool navigation; // the live view may go there
};

class LiveViewUrl : public ::testing::TestWithParam<UrlCase>
{
};

TEST_P(LiveViewUrl, FollowsTheGrantAndNavigationRules)
{
    const UrlCase &c = GetParam();
    EXPECT_EQ(browsergrant::liveViewURL(Json{{"url", c.url}}).has_value(), c.grant);
    EXPECT_EQ(browsergrant::allowsLiveViewNavigation(QUrl(QString::fromLatin1(c.url))), c.navigation);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LiveViewUrl,
    ::testing::Values(
        UrlCase{"LiveViewPage", "https://live.tavrilo.example/browser-live/index.html#token=a", true, true},
        UrlCase{"WithAQuery", "https://live.tavrilo.example/browser-live/index.html?x=1#t", true, true},
        UrlCase{"WithoutFragment", "https://live.tavrilo.example/browser-live/index.html", false, true},
        UrlCase{"PlainHttp", "http://live.tavrilo.example/browser-live/index.html#t", false, false},
        UrlCase{"OtherHost", "https://evil.example/browser-live/index.html#t", false, false},
        UrlCase{"HostAsSuffix", "https://live.tavrilo.example.evil.example/browser-live/index.html#t", false, false},
        UrlCase{"OtherPath", "https://live.tavrilo.example/browser-live/other.html#t", false, false},
        UrlCase{"PathPrefix", "https://live.tavrilo.example/browser-live/index.html/x#t", false, false},
        UrlCase{"Blank", "about:blank", false, true},
        UrlCase{"MoreThanBlank", "about:blankx", false, false},
        UrlCase{"LocalFile", "file:///browser-live/index.html", false, false},
        UrlCase{"Empty", "", false, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BrowserGrant, AnswerMembersOfTheWrongTypeAreNoGrant)
{
    EXPECT_FALSE(browsergrant::liveViewURL(Json::object()));
    EXPECT_FALSE(browsergrant::liveViewURL(Json{{"url", 7}}));
    EXPECT_FALSE(browsergrant::sessionIdentity(Json{{"browserSessionId", ""}}));
    EXPECT_FALSE(browsergrant::sessionIdentity(Json{{"browserSessionId", 7}}));
    EXPECT_TRUE(browsergrant::sessionIdentity(Json{{"browserSessionId", std::string(256, 'b')}}));
    EXPECT_FALSE(browsergrant::sessionIdentity(Json{{"browserSessionId", std::string(257, 'b')}}));
    // Characters as the user perceives them: 256 flags of two code points each are 256 characters.
    std::string flags;
    for (int i = 0; i < 256; ++i)
        flags += "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
    EXPECT_TRUE(browsergrant::sessionIdentity(Json{{"browserSessionId", flags}}));
}

TEST(BrowserGrant, RenewsThirtySecondsBeforeExpiryWithinASecondAndADay)
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000, Qt::UTC);
    const qint64 at = now.toMSecsSinceEpoch();
    const auto delay = [&](Json grant) { return browsergrant::renewalDelay(grant, now); };
    EXPECT_EQ(delay(Json::object()), 30s);
    EXPECT_EQ(delay(Json{{"expiresAt", nullptr}}), 30s);
    EXPECT_EQ(delay(Json{{"expiresAt", at + 10'000}}), 1s);
    EXPECT_EQ(delay(Json{{"expiresAt", at - 3'600'000}}), 1s);
    EXPECT_EQ(delay(Json{{"expiresAt", at + 31'500}}), 1500ms);
    EXPECT_EQ(delay(Json{{"expiresAt", double(at + 3'600'000)}}), 59min + 30s);
    EXPECT_EQ(delay(Json{{"expiresAt", at + 86'430'000}}), 24h);
    // Far beyond any integer range: a day, not an overflow.
    EXPECT_EQ(delay(Json{{"expiresAt", 1e300}}), 24h);
    EXPECT_EQ(delay(Json{{"expiresAt", std::numeric_limits<quint64>::max()}}), 24h);
    EXPECT_EQ(delay(Json{{"expiresAt", -1e300}}), 1s);
}

TEST(InputRequestPage, GoesOnlyToHttpsPagesAtTheTop)
{
    EXPECT_TRUE(browsergrant::allowsInputRequestNavigation(QUrl(QStringLiteral("https://consent.example/a")), true));
    EXPECT_FALSE(browsergrant::allowsInputRequestNavigation(QUrl(QStringLiteral("https://consent.example/a")), false));
    EXPECT_FALSE(browsergrant::allowsInputRequestNavigation(QUrl(QStringLiteral("http://consent.example/a")), true));
    EXPECT_FALSE(browsergrant::allowsInputRequestNavigation(QUrl(QStringLiteral("file:///etc/passwd")), true));
    EXPECT_FALSE(browsergrant::allowsInputRequestNavigation(QUrl(QStringLiteral("data:text/html,x")), true));
}

QByteArray png(int width, int height)
{
    return workspacefakes::pngOf(width, height);
}

// A real PNG with its header's size rewritten: the bounds are read from the header before
// anything is decoded.
QByteArray withHeaderSize(QByteArray bytes, quint32 width, quint32 height)
{
    qToBigEndian(width, bytes.data() + 16);
    qToBigEndian(height, bytes.data() + 20);
    return bytes;
}

QString failureOf(const QByteArray &base64)
{
    try {
        browserframe::decode(base64);
    } catch (const HubError &error) {
        return error.description();
    }
    return {};
}

const QString kUnbounded = QStringLiteral("The DCV server did not return a bounded PNG screenshot.");
const QString kInvalid = QStringLiteral("The DCV screenshot dimensions or image were invalid.");

TEST(BrowserFrame, DecodesABoundedPNG)
{
    const QImage image = browserframe::decode(png(64, 48).toBase64());
    EXPECT_EQ(image.size(), QSize(64, 48));
    EXPECT_EQ(image.pixelColor(3, 3), QColor(Qt::darkGreen));
}

TEST(BrowserFrame, RefusesWhatIsNoBoundedPNG)
{
    const QByteArray good = png(4, 4);
    EXPECT_EQ(failureOf("not base64!"), kUnbounded);
    EXPECT_EQ(failureOf(good.toBase64().chopped(1)), kUnbounded) << "cut short";
    EXPECT_EQ(failureOf(good.toBase64().insert(8, '\n')), kUnbounded);
    EXPECT_EQ(failureOf(good.left(23).toBase64()), kUnbounded);
    EXPECT_NE(failureOf(good.left(24).toBase64()), kUnbounded) << "24 bytes pass the size bound";
    EXPECT_EQ(failureOf(QByteArray(good).replace(1, 3, "JPG").toBase64()), kUnbounded);
    EXPECT_EQ(failureOf(QByteArray(12582913, 'x').replace(0, 8, good.left(8)).toBase64()), kUnbounded);
    EXPECT_EQ(failureOf(QByteArray(16777220, 'A')), kUnbounded) << "text past 16 MiB";
}

TEST(BrowserFrame, ChecksTheSizeInTheHeaderBeforeDecoding)
{
    const QByteArray small = png(4, 4);
    for (const auto &[width, height] : std::vector<std::pair<quint32, quint32>>{
             {0, 4}, {4, 0}, {8193, 1}, {1, 8193}, {8192, 4097}, {4097, 8192}, {0xFFFFFFFF, 0xFFFFFFFF}})
        EXPECT_EQ(failureOf(withHeaderSize(small, width, height).toBase64()), kInvalid) << width << "x" << height;
    EXPECT_EQ(failureOf(small.left(40).toBase64()), kInvalid) << "a header without an image";
}

// The largest frame allowed decodes: the decoder's own allocation limit admits it.
TEST(BrowserFrame, TheLargestFrameAllowedDecodes)
{
    const QByteArray largest = png(8192, 4096);
    ASSERT_LT(largest.size(), browserframe::kMaximumPNGBytes);
    EXPECT_EQ(browserframe::decode(largest.toBase64()).size(), QSize(8192, 4096));
}
} // namespace
