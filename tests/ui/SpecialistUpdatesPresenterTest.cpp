#include "ui/SpecialistUpdatesPresenter.h"

#include <gtest/gtest.h>

namespace
{
EventProjection answered(const QStringList &agents)
{
    EventProjection projection;
    projection.responseOrder = agents;
    for (const QString &agent : agents)
        projection.responses.insert(agent, QStringLiteral("Answer of ") + agent);
    return projection;
}

QStringList agents(const SpecialistUpdates &block)
{
    QStringList out;
    for (const SpecialistUpdate &update : block.updates)
        out.append(update.agent);
    return out;
}

TEST(SpecialistUpdates, NewestFirstThreeWhenExpandedElseOne)
{
    const EventProjection four = answered({"a", "b", "c", "d"});
    EXPECT_EQ(agents(specialistUpdates(four, QStringLiteral("events"), {})), (QStringList{"d", "c", "b"}));
    EXPECT_EQ(agents(specialistUpdates(four, QStringLiteral("documents"), {})), (QStringList{"d"}));
    EXPECT_EQ(agents(specialistUpdates(answered({"a", "b"}), QStringLiteral("events"), {})), (QStringList{"b", "a"}));
    EXPECT_TRUE(specialistUpdates(four, {}, {}).visible);

    const SpecialistUpdates none = specialistUpdates(EventProjection(), QStringLiteral("events"), {});
    EXPECT_FALSE(none.visible);
    EXPECT_TRUE(none.updates.isEmpty());
}

TEST(SpecialistUpdates, HeaderMarksClaimsUnverifiedOnlyAfterAFailedReview)
{
    EventProjection projection = answered({"a"});
    const QString attributed = QStringLiteral("SPECIALIST UPDATES · ATTRIBUTED CLAIMS");
    EXPECT_EQ(specialistUpdates(projection, {}, {}).header, attributed);
    projection.evaluatorLabels.insert(QStringLiteral("review-fidelity"), QStringLiteral("PASS"));
    EXPECT_EQ(specialistUpdates(projection, {}, {}).header, attributed);
    projection.evaluatorLabels.insert(QStringLiteral("review-fidelity"), QStringLiteral("Fail"));
    EXPECT_EQ(specialistUpdates(projection, {}, {}).header, attributed);
    projection.evaluatorLabels.insert(QStringLiteral("review-fidelity"), QStringLiteral("FAIL"));
    EXPECT_EQ(specialistUpdates(projection, {}, {}).header, QStringLiteral("SPECIALIST UPDATES · UNVERIFIED CLAIMS"));
}

TEST(SpecialistUpdates, ExcerptFoldedFullTextOpened)
{
    const QString agent = QStringLiteral("tavrilo_builder");
    EventProjection projection;
    projection.responseOrder = {agent};
    QString words;
    for (int i = 0; i < 200; ++i)
        words += QStringLiteral("word ");
    projection.responses.insert(agent, words);

    const SpecialistUpdate folded = specialistUpdates(projection, {}, {}).updates.front();
    EXPECT_EQ(folded.displayName, QStringLiteral("Builder"));
    EXPECT_TRUE(folded.showToggle);
    EXPECT_FALSE(folded.expanded);
    EXPECT_EQ(folded.toggleText, QStringLiteral("Full update"));
    EXPECT_EQ(folded.accessibleName, QStringLiteral("Read full builder update"));
    EXPECT_EQ(folded.accessibleValue, QStringLiteral("Collapsed"));
    EXPECT_EQ(folded.body, projection.responseExcerpt(agent, 420));
    EXPECT_LT(folded.body.size(), words.size());
    EXPECT_EQ(folded.bodyLineLimit, 3);

    const SpecialistUpdate opened = specialistUpdates(projection, {}, {agent}).updates.front();
    EXPECT_TRUE(opened.expanded);
    EXPECT_EQ(opened.toggleText, QStringLiteral("Collapse"));
    EXPECT_EQ(opened.accessibleName, QStringLiteral("Collapse builder update"));
    EXPECT_EQ(opened.accessibleValue, QStringLiteral("Expanded"));
    EXPECT_EQ(opened.body, words);
    EXPECT_EQ(opened.bodyLineLimit, SpecialistUpdate::kNoLineLimit);
}

TEST(SpecialistUpdates, AnAgentWithoutAResponseHasNoToggleAndAnEmptyBody)
{
    EventProjection projection;
    projection.responseOrder = {QStringLiteral("silent"), QStringLiteral("empty")};
    projection.responses.insert(QStringLiteral("empty"), QString());
    for (const SpecialistUpdate &update : specialistUpdates(projection, QStringLiteral("events"), {}).updates) {
        EXPECT_FALSE(update.showToggle) << update.agent.toStdString();
        EXPECT_TRUE(update.body.isEmpty()) << update.agent.toStdString();
    }
    const SpecialistUpdate opened =
        specialistUpdates(projection, QStringLiteral("events"), {QStringLiteral("silent")}).updates.back();
    EXPECT_TRUE(opened.body.isEmpty());
}

struct ThinkingCase
{
    const char *name;
    qsizetype blocks;
    std::optional<bool> override;
    QString inspector;
    bool offscreen;
    bool open;
    QString caption;
    bool emptyText;
    bool reasoning;
};

class Thinking : public ::testing::TestWithParam<ThinkingCase>
{
};

TEST_P(Thinking, FollowsTheOverrideElseTheSection)
{
    const ThinkingCase &c = GetParam();
    const ThinkingDisclosure d = thinkingDisclosure(c.blocks, c.override, c.inspector, c.offscreen);
    EXPECT_EQ(d.open, c.open);
    EXPECT_EQ(thinkingOpen(c.override, c.inspector), c.open);
    EXPECT_EQ(d.chevronSymbol, c.open ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));
    EXPECT_EQ(d.overrideOnPress, !c.open);
    EXPECT_EQ(d.caption, c.caption);
    EXPECT_EQ(d.showEmptyText, c.emptyText);
    EXPECT_EQ(d.showReasoning, c.reasoning);
    EXPECT_EQ(d.viewportHeightFixed, c.offscreen);
}

const QString kEvents = QStringLiteral("events");
const QString kNone = QStringLiteral("No reasoning blocks");

INSTANTIATE_TEST_SUITE_P(
    Table, Thinking,
    ::testing::Values(ThinkingCase{"ClosedByDefault", 0, std::nullopt, {}, false, false, kNone, false, false},
                      ThinkingCase{"OpenWithTheSectionAndEmpty", 0, std::nullopt, kEvents, false, true, kNone, true,
                                   false},
                      ThinkingCase{"OneBlockInTheWindow", 1, std::nullopt, kEvents, false, true,
                                   QStringLiteral("1 typed blocks · scroll to read"), false, true},
                      ThinkingCase{"OneBlockOffScreen", 1, std::nullopt, kEvents, true, true,
                                   QStringLiteral("1 typed blocks · captured excerpt"), false, true},
                      ThinkingCase{"OverrideClosesAnExpandedSection", 2, false, kEvents, false, false,
                                   QStringLiteral("2 typed blocks · scroll to read"), false, false},
                      ThinkingCase{"OverrideOpensACollapsedSection", 2, true, QStringLiteral("workforce"), false, true,
                                   QStringLiteral("2 typed blocks · scroll to read"), false, true}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
