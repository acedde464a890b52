#include "core/Utf8.h"

#include <cstring>

namespace utf8
{
namespace
{
// Calls `illFormed(at, length)` for each maximal ill-formed subpart in order, until it returns false.
template <typename IllFormed> void forEachIllFormed(std::string_view bytes, IllFormed illFormed)
{
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time: the common case of text.
        while (n - i >= 8) {
            quint64 word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i == n)
            break;
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        bool complete;
        const size_t k = sequence(s + i, n - i, complete);
        if (!complete && !illFormed(i, k))
            return;
        i += k;
    }
}
} // namespace

bool isWellFormed(QByteArrayView bytes)
{
    bool wellFormed = true;
    forEachIllFormed(std::string_view(bytes.data(), size_t(bytes.size())), [&wellFormed](size_t, size_t) {
        wellFormed = false;
        return false; // the first one decides
    });
    return wellFormed;
}

qsizetype validPrefixLength(QByteArrayView bytes)
{
    qsizetype prefix = bytes.size();
    forEachIllFormed(std::string_view(bytes.data(), size_t(bytes.size())), [&prefix](size_t at, size_t) {
        prefix = qsizetype(at);
        return false;
    });
    return prefix;
}

void appendWellFormed(QByteArray &out, std::string_view bytes)
{
    size_t run = 0; // start of the well-formed bytes not yet appended
    forEachIllFormed(bytes, [&](size_t at, size_t length) {
        out.append(bytes.data() + run, qsizetype(at - run));
        out.append("\xEF\xBF\xBD", 3);
        run = at + length;
        return true;
    });
    out.append(bytes.data() + run, qsizetype(bytes.size() - run));
}
QString decode(QByteArrayView bytes)
{
    // QStringDecoder could keep the mark too, but only on its byte-at-a-time path, many times
    // slower on large text.
    static constexpr char mark[] = "\xEF\xBB\xBF";
    if (bytes.startsWith(QByteArrayView(mark, 3)))
        return QChar(0xFEFF) + QString::fromUtf8(bytes.sliced(3));
    return QString::fromUtf8(bytes);
}
} // namespace utf8
