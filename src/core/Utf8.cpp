#include "core/Utf8.h"

#include <cstring>

namespace utf8
{
namespace
{
// How many bytes of the sequence starting at `s[0]` are well-formed: the whole sequence's length
// when it is complete, else the length of its maximal ill-formed subpart (at least 1). `complete`
// tells which. `s[0]` is not ASCII.
size_t sequence(const unsigned char *s, size_t n, bool &complete)
{
    const unsigned char c = s[0];
    if (c < 0xC2 || c > 0xF4) {
        complete = false;
        return 1;
    }
    const size_t length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    // The second byte's range narrows for the leads where a wider one would be overlong (E0, F0),
    // a surrogate (ED) or above U+10FFFF (F4).
    const unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    size_t k = 1;
    if (k < n && s[k] >= lo && s[k] <= hi) {
        ++k;
        while (k < length && k < n && s[k] >= 0x80 && s[k] <= 0xBF)
            ++k;
    }
    complete = k == length;
    return k;
}

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

int sequenceLength(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
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
} // namespace utf8
