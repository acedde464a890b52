#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "core/Json.h"

#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
using Census = HeadlessFrames::WindowCensus;

Census census(int windows, int visible, bool frontmost, const QString &className = "QQuickWindow")
{
    Census c;
    for (int i = 0; i < windows; ++i)
        c.windows.append({className, 100 + i, i < visible, false, false});
    c.visible = visible;
    c.frontmost = frontmost;
    return c;
}

QString refusal(const Census &c, qint64 before, const QString &phase)
{
    try {
        HeadlessFrames::requireOffscreen(c, before, phase);
    } catch (const HubError &error) {
        return error.description();
    }
    return {};
}

TEST(OffscreenWindowGuard, AcceptsOnlyWhenNothingAppeared)
{
    const QString longName = QString(130, 'W');
    struct Case
    {
        const char *name;
        Census census;
        qint64 before;
        QString sentence; // empty: a proof
    };
    const Case cases[] = {
        {"nothing before or after", census(0, 0, false), 0, {}},
        {"a window that was there and stays hidden", census(1, 0, false), 1, {}},
        {"a visible window appeared", census(1, 1, false), 0,
         "Offscreen guard refused render-complete: windows 0\u21921, visible 1, frontmost false. No staged frames were "
         "published."},
        {"frontmost without a window", census(0, 0, true), 0,
         "Offscreen guard refused render-complete: windows 0\u21920, visible 0, frontmost true. No staged frames were "
         "published."},
        {"a hidden window appeared", census(2, 0, false), 1,
         "Offscreen guard refused render-complete: windows 1\u21922, visible 0, frontmost false. No staged frames were "
         "published."},
        {"a window closed", census(0, 0, false), 1,
         "Offscreen guard refused render-complete: windows 1\u21920, visible 0, frontmost false. No staged frames were "
         "published."},
        {"thirteen windows with long names", census(13, 13, true, longName), 0,
         "Offscreen guard refused render-complete: windows 0\u219213, visible 13, frontmost true. No staged frames "
         "were published."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(refusal(c.census, c.before, "render-complete"), c.sentence) << c.name;
    const OffscreenWindowProof proof = HeadlessFrames::requireOffscreen(census(1, 0, false), 1, "x");
    EXPECT_EQ(proof.before, 1);
    EXPECT_EQ(proof.after, 1);
    EXPECT_TRUE(proof.valid());
}

TEST(OffscreenWindowGuard, DiagnosticDescribesTwelveWindowsWithShortenedNames)
{
    Census c = census(13, 13, true, QString(130, 'W'));
    c.windows[0].key = true;
    c.windows[0].main = true;
    const auto refusal = HeadlessFrames::guardRefusal(c, 0, "snapshot-01-app-selector %1");
    ASSERT_TRUE(refusal.line.startsWith("CAPTURE_WINDOW_GUARD {"));
    ASSERT_TRUE(refusal.line.endsWith("}\n"));
    EXPECT_EQ(refusal.line.count('\n'), 1);
    const QByteArray body = refusal.line.mid(21).chopped(1);
    // Compact, keys sorted.
    EXPECT_TRUE(body.startsWith(R"({"after":13,"before":0,"frontmost":true,"phase":"snapshot-01-app-selector %1",)"
                                R"("visible":13,"windows":[{"class":")"))
        << body.left(200).toStdString();
    const Json record = Json::parse(body.toStdString());
    ASSERT_EQ(record["windows"].size(), 12u);
    EXPECT_EQ(record["windows"][0]["class"], std::string(100, 'W'));
    EXPECT_EQ(record["windows"][0]["number"], 100);
    EXPECT_EQ(record["windows"][0]["key"], true);
    EXPECT_EQ(record["windows"][0]["main"], true);
    EXPECT_EQ(record["windows"][11]["number"], 111);
    EXPECT_EQ(record["windows"][11]["key"], false);
    EXPECT_EQ(record["windows"][11]["visible"], true);
    // A phase is written as it is, never read as a placeholder.
    EXPECT_TRUE(refusal.sentence.startsWith("Offscreen guard refused snapshot-01-app-selector %1: windows 0"));
}

// The census of the offscreen platform: a window counts once the platform knows it; the window a
// render control draws for never does.
TEST(OffscreenWindowGuard, CountsPlatformWindowsButNotRenderTargets)
{
    const qint64 before = HeadlessFrames::windowCount();
    QQuickRenderControl control;
    QQuickWindow rendered(&control);
    rendered.setGeometry(0, 0, 320, 200);
    EXPECT_EQ(HeadlessFrames::windowCount(), before);

    QWindow hidden;
    EXPECT_EQ(HeadlessFrames::windowCount(), before) << "a window not yet made counts for nothing";
    hidden.create();
    auto census = HeadlessFrames::windowCensus();
    EXPECT_EQ(census.windows.size(), before + 1);
    EXPECT_EQ(census.visible, 0);
    EXPECT_THROW(HeadlessFrames::requireOffscreen(before, "render-complete"), HubError);

    QWindow shown;
    shown.show();
    census = HeadlessFrames::windowCensus();
    EXPECT_EQ(census.windows.size(), before + 2);
    EXPECT_EQ(census.visible, 1);
    const auto described = std::find_if(census.windows.cbegin(), census.windows.cend(),
                                        [&](const auto &window) { return window.number == qint64(shown.winId()); });
    ASSERT_NE(described, census.windows.cend());
    EXPECT_EQ(described->className, "QWindow");
    EXPECT_TRUE(described->visible);
}
} // namespace
