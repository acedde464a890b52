// The transcript's lines as a view reads them: after every sync the rows are the transcript's lines,
// a finished row is never changed again, and the cap takes rows from the front.
#include "workspace/ShellLines.h"

#include <QAbstractItemModelTester>
#include <QStringList>

#include <gtest/gtest.h>

namespace
{
constexpr quint8 kOut = 1;

QStringList rows(const ShellLines &lines)
{
    QStringList out;
    for (int row = 0; row < lines.rowCount(); ++row)
        out.append(lines.data(lines.index(row), ShellLines::TextRole).toString());
    return out;
}

// The transcript's text as lines; a final line feed opens no line yet.
QStringList linesOf(const ShellTranscript &transcript)
{
    QStringList lines = QString::fromUtf8(transcript.utf8()).split(u'\n');
    if (lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

struct LinesCase
{
    const char *name;
    std::vector<QByteArray> messages; // a sync after each
};

class ShellLinesSync : public ::testing::TestWithParam<LinesCase>
{
};

TEST_P(ShellLinesSync, RowsAreTheTranscriptsLinesAndOnlyTheLastChanges)
{
    ShellTranscript transcript;
    ShellLines lines;
    QAbstractItemModelTester tester(&lines, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QObject::connect(&lines, &QAbstractItemModel::dataChanged, &lines,
                     [&](const QModelIndex &from, const QModelIndex &to) {
                         EXPECT_EQ(from.row(), lines.rowCount() - 1) << "a finished line changed";
                         EXPECT_EQ(to.row(), from.row());
                     });
    for (const QByteArray &message : GetParam().messages) {
        transcript.append(message, kOut);
        lines.sync(transcript);
        ASSERT_EQ(rows(lines), linesOf(transcript)) << "after " << message.toStdString();
    }
    lines.clear();
    EXPECT_EQ(lines.rowCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Output, ShellLinesSync,
    ::testing::Values(LinesCase{"PlainLines", {"a\nb\n", "c", "d\n"}}, LinesCase{"ManyLinesInOneSync", {"1\n2\n3\n4"}},
                      LinesCase{"EmptyLines", {"\n\n", "x", "\n\n"}},
                      LinesCase{"ProgressRewritesTheOpenRow", {"10%", "\r20%", "\r30%\ndone", "\n"}},
                      LinesCase{"BackspaceAndEraseInLine", {"helo", "\b\blo", " world\x1b[K\n"}},
                      LinesCase{"TheOpenLineErased", {"abc", "\r\x1b[K", "x\n"}},
                      LinesCase{"ColouredLines", {"\x1b[31merror\x1b(B\x1b[m: failed\n", "\x1b[32mok\x1b[0m"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ShellLines, TheCapTakesWholeRowsFromTheFront)
{
    ShellTranscript transcript;
    ShellLines lines;
    QAbstractItemModelTester tester(&lines, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QByteArray chunk;
    for (int line = 0; line < 1000; ++line)
        chunk += "line " + QByteArray::number(line).rightJustified(6, '0') + '\n';
    for (int round = 0; round < 30; ++round) {
        transcript.append(chunk, kOut);
        lines.sync(transcript);
    }
    ASSERT_GT(transcript.cutBytes(), 0);
    const QString shown = rows(lines).join(u'\n') + u'\n';
    const QString kept = QString::fromUtf8(transcript.utf8());
    EXPECT_TRUE(shown.endsWith(kept.mid(kept.indexOf(u'\n') + 1)));
    EXPECT_LE(shown.toUtf8().size(), ShellTranscript::kMaximumBytes + 12);
    EXPECT_EQ(rows(lines).constLast(), QStringLiteral("line 000999"));
}

TEST(ShellLines, AStreamOfOutputThroughTheCapEndsAsItsLines)
{
    // Short messages with repeated lines and redrawn ones, synced after each, until the cap has cut
    // well into the text: the rows stay the transcript's lines, a partly cut first line kept whole.
    ShellTranscript transcript;
    ShellLines lines;
    QAbstractItemModelTester tester(&lines, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto check = [&](int message) {
        const QStringList want = linesOf(transcript);
        const QStringList got = rows(lines);
        ASSERT_EQ(got.size(), want.size()) << message;
        EXPECT_TRUE(got.constFirst().endsWith(want.constFirst())) << message;
        EXPECT_EQ(got.mid(1), want.mid(1)) << message;
    };
    for (int message = 0; transcript.cutBytes() < ShellTranscript::kMaximumBytes / 2; ++message) {
        QByteArray bytes = ("line " + QByteArray::number(message % 7) + ' ').repeated(message % 5 + 1);
        if (message % 3 == 0)
            bytes += '\n';
        if (message % 13 == 0)
            bytes += "\rredrawn ";
        transcript.append(bytes, kOut);
        lines.sync(transcript);
        if (message % 251 == 0) {
            ASSERT_NO_FATAL_FAILURE(check(message));
        }
    }
    check(-1);
}
} // namespace
