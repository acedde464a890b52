#include "ui/PositionsPresenter.h"
#include "ui/AgentNames.h"

#include <gtest/gtest.h>

namespace
{
struct NameCase
{
    const char *name;
    QString agentID;
    QString shortName;
    QString displayName;
};

class AgentName : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(AgentName, DropsEveryPrefixAndCapitalisesEachWordWhole)
{
    const NameCase &c = GetParam();
    EXPECT_EQ(agentnames::shortName(c.agentID), c.shortName);
    EXPECT_EQ(agentnames::displayName(c.agentID), c.displayName);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AgentName,
    ::testing::Values(
        NameCase{"Prefixed", QStringLiteral("tavrilo_builder"), QStringLiteral("builder"), QStringLiteral("Builder")},
        NameCase{"UnderscoreIsNoWordBreak", QStringLiteral("tavrilo_code_REVIEWER"), QStringLiteral("code_REVIEWER"),
                 QStringLiteral("Code_reviewer")},
        NameCase{"WithoutPrefix", QStringLiteral("builder"), QStringLiteral("builder"), QStringLiteral("Builder")},
        NameCase{"PrefixAnywhere", QStringLiteral("lead tavrilo_ops tavrilo_"), QStringLiteral("lead ops "),
                 QStringLiteral("Lead Ops ")},
        NameCase{"SpacesTabsAndLineEndsKept", QStringLiteral("a  b\tc\nd\r\ne-f"), QStringLiteral("a  b\tc\nd\r\ne-f"),
                 QStringLiteral("A  B\tC\nD\r\nE-f")},
        // Upper-casing "ß" gives two letters; the rest of the word keeps its place and its own case.
        NameCase{"SharpS", QStringLiteral("tavrilo_ßTRASSE ßx"), QStringLiteral("ßTRASSE ßx"),
                 QStringLiteral("SStrasse SSx")},
        NameCase{"SharpSInsideAWord", QStringLiteral("GROßE"), QStringLiteral("GROßE"), QStringLiteral("Große")},
        // Lower-casing "İ" gives "i" and a combining dot: longer, and nothing after it is lost.
        NameCase{"DottedCapitalI", QStringLiteral("İSTANBUL ALİ"), QStringLiteral("İSTANBUL ALİ"),
                 QStringLiteral("İstanbul Ali\u0307")},
        NameCase{"CombiningMarkStaysWithItsLetter", QStringLiteral("tavrilo_e\u0301COLE"),
                 QStringLiteral("e\u0301COLE"), QStringLiteral("E\u0301cole")},
        NameCase{"EmojiFirst", QStringLiteral("🤖BOT 👩‍💻 dev"), QStringLiteral("🤖BOT 👩‍💻 dev"),
                 QStringLiteral("🤖bot 👩‍💻 Dev")},
        NameCase{"Empty", QString(), QString(), QString()}),
    [](const auto &info) { return std::string(info.param.name); });

EventProjection::Position position(const char *id, const char *owner, QString text = QStringLiteral("Claim"))
{
    return {QString::fromUtf8(id), QString::fromUtf8(owner), std::move(text),
            QStringLiteral("0.8"), QStringLiteral("tests"),  QStringLiteral("none")};
}

QStringList ids(const PositionsBlock &block)
{
    QStringList out;
    for (const PositionRow &row : block.rows)
        out.append(row.id);
    return out;
}

TEST(PositionsBlock, FirstThreeUnlessTheSectionIsExpanded)
{
    const QList<EventProjection::Position> five{position("1", "a"), position("2", "b"), position("3", "c"),
                                                position("4", "d"), position("5", "e")};
    EXPECT_EQ(ids(positionsBlock(five, {}, {})), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(ids(positionsBlock(five, QStringLiteral("workforce"), {})), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(ids(positionsBlock(five, QStringLiteral("events"), {})), (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(ids(positionsBlock(five.mid(0, 2), {}, {})), (QStringList{"1", "2"}));

    const PositionsBlock some = positionsBlock(five, {}, {});
    EXPECT_TRUE(some.showCaption);
    EXPECT_FALSE(some.showWaiting);
    const PositionsBlock none = positionsBlock({}, QStringLiteral("events"), {});
    EXPECT_FALSE(none.showCaption);
    EXPECT_TRUE(none.showWaiting);
    EXPECT_TRUE(none.rows.isEmpty());
}

TEST(PositionsBlock, RowsOpenByOwnerAndNameTheRawOwner)
{
    const QList<EventProjection::Position> positions{position("1", "tavrilo_builder"), position("2", "tavrilo_builder"),
                                                     position("3", "tavrilo_reviewer")};
    const PositionsBlock block = positionsBlock(positions, {}, {QStringLiteral("tavrilo_builder")});
    ASSERT_EQ(block.rows.size(), 3);
    for (const PositionRow &row : block.rows.mid(0, 2)) {
        EXPECT_TRUE(row.expanded);
        EXPECT_EQ(row.chevronSymbol, QStringLiteral("chevron.up"));
        EXPECT_EQ(row.positionLineLimit, PositionRow::kNoLineLimit);
        EXPECT_EQ(row.accessibleName, QStringLiteral("Collapse tavrilo_builder position"));
        EXPECT_EQ(row.displayName, QStringLiteral("Builder"));
    }
    const PositionRow &closed = block.rows[2];
    EXPECT_FALSE(closed.expanded);
    EXPECT_EQ(closed.chevronSymbol, QStringLiteral("chevron.down"));
    EXPECT_EQ(closed.positionLineLimit, 2);
    EXPECT_EQ(closed.accessibleName, QStringLiteral("Read full tavrilo_reviewer position"));
    EXPECT_EQ(closed.owner, QStringLiteral("tavrilo_reviewer"));
    EXPECT_EQ(closed.confidence, QStringLiteral("0.8"));
    EXPECT_EQ(closed.dependsOn, QStringLiteral("tests"));
    EXPECT_EQ(closed.conflictsWith, QStringLiteral("none"));
}
} // namespace
