#include "ui/MiddleCut.h"

#include <QTextLayout>
#include <QTextOption>

#include <cmath>

namespace
{
bool fits(const QString &text, const QFont &font, double width, int lines)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int count = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (++count > lines || line.naturalTextWidth() > width + 0.5) {
            layout.endLayout();
            return false;
        }
    }
    layout.endLayout();
    return true;
}

// The text with `kept` characters kept around an ellipsis in its middle, never splitting a
// surrogate pair.
QString withMiddleCut(const QString &text, qsizetype kept)
{
    qsizetype head = (kept + 1) / 2;
    qsizetype tail = kept - head;
    if (head > 0 && head < text.size() && text.at(head - 1).isHighSurrogate())
        --head;
    qsizetype tailStart = text.size() - tail;
    if (tailStart > 0 && tailStart < text.size() && text.at(tailStart).isLowSurrogate())
        ++tailStart;
    return text.left(head) + QChar(0x2026) + text.mid(tailStart);
}
} // namespace

QString middlecut::cut(const QString &text, const QFont &font, double width, int lines)
{
    if (lines < 1 || !std::isfinite(width) || width <= 0 || fits(text, font, width, lines))
        return text;
    // Fitting grows with the characters kept, so the longest fitting cut is found by halving.
    qsizetype low = 0;
    qsizetype high = text.size() - 1;
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (fits(withMiddleCut(text, mid), font, width, lines))
            low = mid;
        else
            high = mid - 1;
    }
    return withMiddleCut(text, low);
}

QString TextCut::middle(const QString &text, const QFont &font, double width, int lines)
{
    return middlecut::cut(text, font, width, lines);
}
