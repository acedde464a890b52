// The transcript of real programs' output, recorded through a pseudo-terminal of 100 columns
// (terminal/record.sh), against what a reference terminal shows of the same bytes: its history and
// its screen, the rows it wrapped joined again.

#include "workspace/ShellTranscript.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <gtest/gtest.h>

#include <vterm.h>

namespace
{
constexpr int kColumns = 100;
constexpr int kRows = 30;
constexpr quint8 kOut = 1;

QByteArray recorded(const char *name)
{
    QFile file(QStringLiteral(HUB_TERMINAL_LOGS "/%1.log").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// One row of cells as text; whether its last column holds a character (the row goes on on the next).
std::pair<QString, bool> rowText(int columns, const VTermScreenCell *cells)
{
    QString text;
    for (int column = 0; column < columns; ++column) {
        const VTermScreenCell &cell = cells[column];
        if (cell.chars[0] == uint32_t(-1))
            continue; // the right half of a wide character
        if (cell.chars[0] == 0)
            text += QLatin1Char(' ');
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i)
            text += QString::fromUcs4(reinterpret_cast<const char32_t *>(&cell.chars[i]), 1);
    }
    return {text, columns > 0 && cells[columns - 1].chars[0] != 0};
}

struct Rows
{
    QStringList lines;
    bool continues = false;

    void add(const std::pair<QString, bool> &row)
    {
        if (continues && !lines.isEmpty())
            lines.last() += row.first;
        else
            lines += row.first;
        continues = row.second;
    }
};

int pushLine(int columns, const VTermScreenCell *cells, void *user)
{
    static_cast<Rows *>(user)->add(rowText(columns, cells));
    return 1;
}

// Lines without trailing blanks, tabs expanded, without empty lines at the end.
QStringList tidy(QStringList lines)
{
    for (QString &line : lines) {
        QString expanded;
        for (QChar c : line) {
            if (c == QLatin1Char('\t'))
                expanded += QString(8 - expanded.size() % 8, QLatin1Char(' '));
            else
                expanded += c;
        }
        while (expanded.endsWith(QLatin1Char(' ')))
            expanded.chop(1);
        line = expanded;
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The transcript keeps the letters that a line-drawing set would show as box glyphs: it switches no
// character sets. The reference's glyphs are read back as those letters.
QString lineDrawingAsLetters(QString line)
{
    static const std::pair<char16_t, char> glyphs[] = {{u'\u250C', 'l'}, {u'\u2500', 'q'}, {u'\u2510', 'k'},
                                                       {u'\u2518', 'j'}, {u'\u2514', 'm'}, {u'\u2502', 'x'}};
    for (const auto &[glyph, letter] : glyphs)
        line.replace(QChar(glyph), QLatin1Char(letter));
    return line;
}

QStringList referenceTerminal(const QByteArray &bytes)
{
    VTerm *terminal = vterm_new(kRows, kColumns);
    vterm_set_utf8(terminal, 1);
    VTermScreen *screen = vterm_obtain_screen(terminal);
    Rows rows;
    VTermScreenCallbacks callbacks{};
    callbacks.sb_pushline = pushLine;
    vterm_screen_set_callbacks(screen, &callbacks, &rows);
    vterm_screen_reset(screen, 1);
    vterm_input_write(terminal, bytes.constData(), size_t(bytes.size()));
    std::vector<VTermScreenCell> cells(kColumns);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column)
            vterm_screen_get_cell(screen, VTermPos{row, column}, &cells[size_t(column)]);
        rows.add(rowText(kColumns, cells.data()));
    }
    vterm_free(terminal);
    for (QString &line : rows.lines)
        line = lineDrawingAsLetters(line);
    return tidy(rows.lines);
}

QStringList transcriptOf(const QByteArray &bytes, QRandomGenerator *cuts)
{
    ShellTranscript transcript;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype size = cuts ? cuts->bounded(1, 40) : bytes.size();
        transcript.append(QByteArrayView(bytes).sliced(at, std::min(size, bytes.size() - at)), kOut);
        at += size;
    }
    return tidy(QString::fromUtf8(transcript.utf8()).split(QLatin1Char('\n')));
}

class ReferenceTerminal : public ::testing::TestWithParam<const char *>
{
};

TEST_P(ReferenceTerminal, TranscriptReadsAsTheTerminalShowedIt)
{
    const QByteArray bytes = recorded(GetParam());
    ASSERT_FALSE(bytes.isEmpty());
    const QStringList want = referenceTerminal(bytes);
    EXPECT_EQ(transcriptOf(bytes, nullptr).join(QLatin1Char('\n')).toStdString(),
              want.join(QLatin1Char('\n')).toStdString());
    // The same bytes in messages cut anywhere, characters and sequences split between them.
    QRandomGenerator random(20261211);
    for (int round = 0; round < 20; ++round)
        ASSERT_EQ(transcriptOf(bytes, &random), want) << "round " << round;
}

INSTANTIATE_TEST_SUITE_P(Recorded, ReferenceTerminal, ::testing::Values("colours", "progress", "spinner", "edited"),
                         [](const auto &info) { return std::string(info.param); });

// The proof command's echo is wrapped by the terminal at 100 columns; its marker never joins the
// digits across the wrap, and only the command's output carries the marker.
TEST(ReferenceTerminal, EchoedProofMarkerIsNeverJoined)
{
    const QStringList lines = transcriptOf(recorded("edited"), nullptr);
    const QString marker = QStringLiteral("TAVRILO_SHELL_PROOF_0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(lines.join(QLatin1Char('\n')).count(marker), 1);
    EXPECT_TRUE(lines.contains(marker));
    EXPECT_TRUE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("TAVRILO_SHELL_PROOF_ 0123456789ABCDEF")));
}
} // namespace
