#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <string_view>

// UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing above U+10FFFF.
namespace utf8
{
bool isWellFormed(QByteArrayView bytes);

// UTF-8 bytes as text, every invalid sequence replaced by U+FFFD. Every character is kept: a
// leading U+FEFF too, which QString::fromUtf8 alone would take for a byte order mark and drop.
QString decode(QByteArrayView bytes);

// The length of the longest well-formed prefix of `bytes`: it ends where the first ill-formed or
// incomplete sequence starts.
qsizetype validPrefixLength(QByteArrayView bytes);

// A byte that continues a character, never begins one.
inline bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the character that `lead` begins; 1 for anything that is no lead byte.
inline int sequenceLength(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// How many bytes of the sequence starting at `s[0]` are well-formed: the whole sequence's length
// when it is complete, else the length of its maximal ill-formed subpart (at least 1). `complete`
// tells which. `s[0]` is not ASCII. Inline: decoders call it for every character past ASCII.
inline size_t sequence(const unsigned char *s, size_t n, bool &complete)
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

// Appends `bytes` with each maximal ill-formed subpart replaced by one U+FFFD, as the Unicode
// Standard recommends (chapter 3, "U+FFFD Substitution of Maximal Subparts"): the longest start of
// a sequence that could still have become well-formed is one subpart ("E2 82" gives one U+FFFD),
// any other ill-formed byte is one ("C0 AF" gives two).
void appendWellFormed(QByteArray &out, std::string_view bytes);
} // namespace utf8
