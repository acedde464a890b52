#include "core/GraphemeText.h"

#include <QRandomGenerator>
#include <QStringList>

#include <gtest/gtest.h>

namespace
{
// Pieces whose cluster boundaries depend on what precedes them: combining marks, emoji with
// modifiers and joiners, flags (regional indicators pair up), Hangul jamo, CR LF.
const QStringList kPieces{
    QStringLiteral("a"),
    QStringLiteral(" "),
    QStringLiteral("e\u0301"),
    QStringLiteral("\u0301"),
    QStringLiteral("\u0308\u0323"),
    QString::fromUcs4(U"\U0001F1E9"),
    QString::fromUcs4(U"\U0001F1EA"),
    QString::fromUcs4(U"\U0001F468"),
    QStringLiteral("\u200D"),
    QString::fromUcs4(U"\U0001F3FD"),
    QString::fromUcs4(U"\U0001F469\u200D\U0001F467"),
    QStringLiteral("\r"),
    QStringLiteral("\n"),
    QStringLiteral("\u1100"),
    QStringLiteral("\u1161"),
    QStringLiteral("\u11A8"),
    QStringLiteral("\u0915\u094D"),
    QStringLiteral("x\uFE0F"),
};

QString randomChunk(QRandomGenerator &random)
{
    QString chunk;
    const int pieces = random.bounded(0, 6);
    for (int i = 0; i < pieces; ++i)
        chunk += kPieces[random.bounded(int(kPieces.size()))];
    return chunk;
}

// Appending piece by piece keeps exactly what cutting the whole text at once keeps.
TEST(GraphemeTail, MatchesTrimmingTheWholeText)
{
    QRandomGenerator random(20261210);
    for (const qsizetype limit : {1, 2, 3, 7, 40}) {
        const graphemes::Tail tail(limit);
        for (int round = 0; round < 300; ++round) {
            QString whole;
            QString stored;
            qsizetype clusters = 0;
            for (int step = 0; step < 12; ++step) {
                const QString chunk = randomChunk(random);
                whole += chunk;
                clusters = tail.append(stored, clusters, chunk);
                const QString expected = graphemes::last(whole, limit);
                ASSERT_EQ(stored, expected) << "limit " << limit << " round " << round << " step " << step << " in "
                                            << whole.toUtf8().toHex(' ').toStdString();
                ASSERT_EQ(clusters, graphemes::count(expected));
            }
        }
    }
}

TEST(GraphemeText, NeverCutsASurrogatePair)
{
    // An emoji after an Indic syllable: a script-tailored segmentation once cut inside the pairs.
    const QString text = QString::fromUcs4(U"\u0915\u094D\U0001F468 \u200D\U0001F468");
    for (const qsizetype cut : graphemes::boundaries(text))
        EXPECT_FALSE(cut < text.size() && text[cut].isLowSurrogate()) << cut;
    EXPECT_EQ(graphemes::last(text, 1), QString::fromUcs4(U"\U0001F468"));
}

TEST(GraphemeTail, UnknownCountIsCountedAgain)
{
    const graphemes::Tail tail(3);
    QString stored = QStringLiteral("abcd"); // more than the limit, set from outside
    EXPECT_EQ(tail.append(stored, -1, u"e"), 3);
    EXPECT_EQ(stored, QStringLiteral("cde"));
}

TEST(GraphemeText, CountsUtf8BytesWithoutConverting)
{
    for (const QString &text : {QString(), QStringLiteral("abc"), QStringLiteral("\u00e9\u20ac"),
                                QString::fromUcs4(U"\U0001F600x"), QString(QChar(0xD800)) + QLatin1Char('a')})
        EXPECT_EQ(graphemes::utf8Length(text), text.toUtf8().size()) << text.toStdString();
}
} // namespace
