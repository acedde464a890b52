#include "ui/WorkingScreenPresenter.h"

#include <gtest/gtest.h>

namespace
{
HubLayout layoutOf(QList<HubLayout::Region> regions)
{
    HubLayout layout;
    layout.columns = 12;
    layout.rows = 6;
    layout.regions = std::move(regions);
    return layout;
}

QRectF frameOf(const WorkingScreenView &view, const char *id)
{
    return view.frames.value(QString::fromLatin1(id)).toRectF();
}

TEST(WorkingScreenView, PlacesEachSectionByTheSharedGeometry)
{
    const WorkingScreenView view = workingScreenView(
        {layoutOf({{"header", 0, 0, 12, 1}, {"workforce", 0, 1, 8, 5}, {"documents", 8, 1, 4, 2}, {"events", 8, 1, 4, 5}}),
         {1200, 600},
         {},
         false,
         false});
    EXPECT_TRUE(view.layoutAvailable);
    EXPECT_EQ(frameOf(view, "header"), QRectF(6, 6, 1188, 88));
    EXPECT_EQ(frameOf(view, "events"), QRectF(806, 106, 388, 488));
    // Overlapping sections stack in the layout's order: the later one on top.
    EXPECT_LT(view.stacking.value("documents").toInt(), view.stacking.value("events").toInt());
}

TEST(WorkingScreenView, ShowsOnlyKnownSectionsAndEachOnce)
{
    const WorkingScreenView view = workingScreenView(
        {layoutOf({{"header", 0, 0, 12, 1}, {"Header", 0, 1, 4, 1}, {"sidebar", 0, 2, 4, 4}, {"events", 4, 1, 4, 5},
                   {"events", 8, 1, 4, 5}}),
         {1200, 600},
         {},
         false,
         false});
    EXPECT_EQ(view.frames.keys(), (QStringList{"events", "header"}));
    // A repeated id shows its section once, at the last of its regions, the one drawn on top.
    EXPECT_EQ(frameOf(view, "events"), QRectF(806, 106, 388, 488));
    EXPECT_EQ(view.stacking.value("events").toInt(), 4);
}

TEST(WorkingScreenView, WithoutALayoutPlacesNothingAndShowsTheStatusLine)
{
    const WorkingScreenView view = workingScreenView({std::nullopt, {1200, 600}, "Shared layout resource missing.", false, false});
    EXPECT_FALSE(view.layoutAvailable);
    EXPECT_TRUE(view.frames.isEmpty());
    EXPECT_EQ(view.placeholderText, QStringLiteral("Shared layout resource missing."));
}

TEST(WorkingScreenView, JournalStripTextsFollowTheConnection)
{
    struct Case
    {
        bool controls;
        bool cloud;
        const char *scope;
        const char *signIn;
    };
    for (const Case &c : {Case{false, false, "· Last five deltas · App-local journal", "Sign in to connect your workspace"},
                          Case{true, false, "· Last five deltas · Tenant scoped", "Sign in to connect your workspace"},
                          Case{true, true, "· Last five deltas · Tenant scoped", "Signed in to your Tavrilo workspace"}}) {
        const WorkingScreenView view = workingScreenView({std::nullopt, {}, {}, c.controls, c.cloud});
        EXPECT_EQ(view.journalScope, QString::fromUtf8(c.scope)) << c.controls << c.cloud;
        EXPECT_EQ(view.journalSignIn, QString::fromUtf8(c.signIn)) << c.controls << c.cloud;
    }
}
} // namespace
