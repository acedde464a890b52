#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <string_view>

// UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing above U+10FFFF.
namespace utf8
{
bool isWellFormed(QByteArrayView bytes);

// The length of the longest well-formed prefix of `bytes`: it ends where the first ill-formed or
// incomplete sequence starts.
qsizetype validPrefixLength(QByteArrayView bytes);

// The length of the character that `lead` begins; 1 for anything that is no lead byte.
int sequenceLength(unsigned char lead);

// Appends `bytes` with each maximal ill-formed subpart replaced by one U+FFFD, as the Unicode
// Standard recommends (chapter 3, "U+FFFD Substitution of Maximal Subparts"): the longest start of
// a sequence that could still have become well-formed is one subpart ("E2 82" gives one U+FFFD),
// any other ill-formed byte is one ("C0 AF" gives two).
void appendWellFormed(QByteArray &out, std::string_view bytes);
} // namespace utf8
