#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// User-perceived characters (extended grapheme clusters) of a text.
namespace graphemes
{
// Offsets of the cluster boundaries of `text` after its start: one per cluster, the last one is the
// text's length. Empty for an empty text.
std::vector<qsizetype> boundaries(QStringView text);
qsizetype count(QStringView text);

// The first and the last `n` clusters of `text` (all of it when it has fewer).
QString first(QStringView text, qsizetype n);
QString last(QStringView text, qsizetype n);

// Bytes `text` takes in UTF-8, counted without converting it.
qsizetype utf8Length(QStringView text);

// A text that keeps only its last `limit` clusters while text is appended to it. Appending costs
// time in the length of the appended text (plus the short context it joins), not of the whole.
class Tail
{
public:
    explicit Tail(qsizetype limit) : m_limit(limit) {}

    // Appends `added` to `stored` (which holds `clusters` clusters, or -1 when unknown), keeps the
    // last `limit` clusters of the result in `stored` and returns how many it holds.
    qsizetype append(QString &stored, qsizetype clusters, QStringView added) const;

private:
    qsizetype m_limit;
};
} // namespace graphemes
