#include "core/Utf8.h"

#include <cstring>

namespace utf8
{
namespace
{
bool isContinuation(unsigned char byte)
{
    return byte >= 0x80 && byte <= 0xBF;
}

// The well-formed UTF-8 sequence starting at `p` (Unicode's table of well-formed byte sequences):
// its length when it is whole and valid; otherwise the length of its maximal subpart, negated.
int sequenceAt(const unsigned char *p, const unsigned char *end)
{
    const unsigned char lead = *p;
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing past U+10FFFF
    } else {
        return -1;
    }
    int taken = 1;
    for (; taken < length; ++taken) {
        if (p + taken == end)
            return -taken;
        const unsigned char byte = p[taken];
        const bool fits = taken == 1 ? (byte >= low && byte <= high) : isContinuation(byte);
        if (!fits)
            return -taken;
    }
    return length;
}
} // namespace

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

qsizetype validPrefixLength(QByteArrayView bytes)
{
    const auto *begin = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = begin + bytes.size();
    const unsigned char *p = begin;
    while (p < end) {
        // ASCII eight bytes at a time.
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p == end)
            break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const int length = sequenceAt(p, end);
        if (length < 0)
            break;
        p += length;
    }
    return p - begin;
}

QByteArray replacingInvalid(QByteArrayView bytes)
{
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    QByteArray result;
    result.reserve(bytes.size() + 8);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const qsizetype valid = validPrefixLength(QByteArrayView(p, end - p));
        result.append(reinterpret_cast<const char *>(p), valid);
        p += valid;
        if (p == end)
            break;
        const int length = sequenceAt(p, end);
        result.append(kReplacement, 3);
        p += -length;
    }
    return result;
}

} // namespace utf8
