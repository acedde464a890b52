#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Well-formed UTF-8 as Unicode defines it (no overlong forms, no surrogates, nothing past U+10FFFF),
// read byte by byte with an ASCII fast path.
namespace utf8
{
// The length of the character that `lead` begins; 1 for anything that is no lead byte.
int sequenceLength(unsigned char lead);
// The length of the longest prefix of `bytes` that is well-formed: it ends where the first
// ill-formed or incomplete sequence starts.
qsizetype validPrefixLength(QByteArrayView bytes);
inline bool isValid(QByteArrayView bytes)
{
    return validPrefixLength(bytes) == bytes.size();
}
// `bytes` made well-formed: each maximal ill-formed subpart becomes one U+FFFD, as Unicode
// recommends (a cut-off character is one replacement, a lone continuation byte is one).
QByteArray replacingInvalid(QByteArrayView bytes);
} // namespace utf8
