#include "core/GraphemeText.h"

#include <unicode/ubrk.h>

#include <limits>
#include <memory>

namespace graphemes
{
namespace
{
struct BreakIteratorCloser
{
    void operator()(UBreakIterator *iterator) const { ubrk_close(iterator); }
};

// ICU's character break iterator, one per thread, opened once: opening one loads its rules.
// QTextBoundaryFinder is not used here: in Qt 6.4 its script tailoring after an Indic syllable
// reports boundaries inside surrogate pairs, and cutting there would corrupt the text.
UBreakIterator *characterBreaks()
{
    thread_local const std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UBreakIterator *opened = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status)) {
            ubrk_close(opened);
            opened = nullptr;
        }
        return std::unique_ptr<UBreakIterator, BreakIteratorCloser>(opened);
    }();
    return iterator.get();
}

// Appends the cluster boundaries of `window` after its start, shifted by `offset`, to `out`. The
// window's end is reported only when `includeEnd` is set: the end of a cut-off window is no
// boundary of the text it was cut from.
void collect(QStringView window, qsizetype offset, std::vector<qsizetype> &out, bool includeEnd)
{
    if (window.isEmpty())
        return;
    UBreakIterator *iterator = characterBreaks();
    bool ready = iterator && window.size() <= std::numeric_limits<int32_t>::max();
    if (ready) {
        UErrorCode status = U_ZERO_ERROR;
        ubrk_setText(iterator, window.utf16(), int32_t(window.size()), &status);
        ready = U_SUCCESS(status);
    }
    if (!ready) {
        // No break rules: every code point is a character of its own.
        for (qsizetype p = 1; p <= window.size(); ++p) {
            if (p < window.size() && window[p].isLowSurrogate() && window[p - 1].isHighSurrogate())
                continue;
            if (p < window.size() || includeEnd)
                out.push_back(offset + p);
        }
        return;
    }
    for (int32_t p = ubrk_next(iterator); p != UBRK_DONE; p = ubrk_next(iterator)) {
        if (p == window.size() && !includeEnd)
            break;
        out.push_back(offset + p);
    }
}

char32_t codePointBefore(QStringView text, qsizetype pos, qsizetype &start)
{
    const char16_t low = text[pos - 1].unicode();
    if (QChar::isLowSurrogate(low) && pos >= 2 && QChar::isHighSurrogate(text[pos - 2].unicode())) {
        start = pos - 2;
        return QChar::surrogateToUcs4(text[pos - 2].unicode(), low);
    }
    start = pos - 1;
    return low;
}

// Characters that a cluster boundary rule looks back across: extending marks and joiners (emoji
// sequences) and regional indicators (flags pair up from the start of their run).
bool joinsBackwards(char32_t c)
{
    if (c == 0x200C || c == 0x200D)
        return true;
    if (c >= 0x1F1E6 && c <= 0x1F1FF)
        return true; // regional indicators
    if (c >= 0x1F3FB && c <= 0x1F3FF)
        return true; // emoji modifiers
    if (c >= 0xE0020 && c <= 0xE007F)
        return true; // tags
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

// Where to start segmenting so that every boundary at or after `end` comes out as in the whole
// text: before the run of joining characters that ends at `end`, its base, and a little more.
qsizetype contextStart(QStringView text, qsizetype end)
{
    qsizetype pos = end;
    qsizetype start = pos;
    while (pos > 0 && joinsBackwards(codePointBefore(text, pos, start)))
        pos = start;
    for (int extra = 0; extra < 4 && pos > 0; ++extra) {
        codePointBefore(text, pos, start);
        pos = start;
    }
    return pos;
}

// Offset of the `n`-th boundary (1-based) strictly inside `text`, found by segmenting growing
// prefixes: a boundary before a prefix's end does not depend on what follows the prefix.
qsizetype nthInnerBoundary(QStringView text, qsizetype n)
{
    qsizetype window = std::min(text.size(), 2 * n + 32);
    for (;;) {
        std::vector<qsizetype> found;
        found.reserve(size_t(std::min(window, 2 * n + 32)));
        collect(text.first(window), 0, found, window == text.size());
        if (qsizetype(found.size()) >= n)
            return found[size_t(n - 1)];
        if (window == text.size())
            return text.size();
        window = std::min(text.size(), window * 2);
    }
}
} // namespace

std::vector<qsizetype> boundaries(QStringView text)
{
    std::vector<qsizetype> out;
    collect(text, 0, out, true);
    return out;
}

qsizetype count(QStringView text)
{
    return qsizetype(boundaries(text).size());
}

QString first(QStringView text, qsizetype n)
{
    if (n <= 0)
        return {};
    const auto cuts = boundaries(text);
    if (qsizetype(cuts.size()) <= n)
        return text.toString();
    return text.first(cuts[size_t(n - 1)]).toString();
}

QString last(QStringView text, qsizetype n)
{
    if (n <= 0)
        return {};
    const auto cuts = boundaries(text);
    const auto total = qsizetype(cuts.size());
    if (total <= n)
        return text.toString();
    return text.sliced(cuts[size_t(total - n - 1)]).toString();
}

qsizetype utf8Length(QStringView text)
{
    qsizetype bytes = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x80) {
            bytes += 1;
        } else if (u < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(u) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            bytes += 4;
            ++i;
        } else if (QChar::isSurrogate(u)) {
            bytes += 1; // as QString::toUtf8 writes a lone surrogate: one replacement byte
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

qsizetype Tail::append(QString &stored, qsizetype clusters, QStringView added) const
{
    const qsizetype join = stored.size();
    if (clusters < 0)
        clusters = count(stored);
    const qsizetype context = contextStart(stored, join);
    QString whole = stored;
    whole.append(added);

    // Boundaries of the whole text at or after the join; those inside the old text are known by
    // count. The join itself stays a boundary unless the added text extends the last cluster.
    std::vector<qsizetype> tail;
    collect(QStringView(whole).sliced(context), context, tail, true);
    std::erase_if(tail, [join](qsizetype p) { return p < join || p == 0; });
    const qsizetype inner = std::max<qsizetype>(clusters - 1, 0); // boundaries strictly inside the old text
    const qsizetype total = inner + qsizetype(tail.size());

    if (total <= m_limit) {
        stored = std::move(whole);
        return total;
    }
    const qsizetype drop = total - m_limit;
    const qsizetype cut =
        drop <= inner ? nthInnerBoundary(QStringView(whole).first(join), drop) : tail[size_t(drop - inner - 1)];
    stored = whole.sliced(cut);
    return m_limit;
}
} // namespace graphemes
