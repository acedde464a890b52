#include "workspace/TerminalTranscriptDecoder.h"

#include "core/Utf8.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kLineFeed = 0x0A;
constexpr unsigned char kCarriageReturn = 0x0D;
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kBell = 0x07;
constexpr unsigned char kBackspace = 0x08;

// The words below are read with byte 0 lowest.
static_assert(std::endian::native == std::endian::little);

constexpr quint64 kOnes = 0x0101010101010101ULL;
constexpr quint64 kHighs = 0x8080808080808080ULL;

// The high bit of each zero byte of `word`; exact for the lowest zero byte, which is all that is read.
constexpr quint64 zeroBytes(quint64 word)
{
    return (word - kOnes) & ~word & kHighs;
}

// Marks the bytes of `word` that need a look in the text state: C0 controls, DEL and every byte
// past ASCII. Exact for the lowest marked byte.
constexpr quint64 attentionBytes(quint64 word)
{
    return (((word - kOnes * 0x20) | word) & kHighs) | zeroBytes(word ^ (kOnes * 0x7F));
}

// Bytes past ASCII need a look too: their character may be a C1 control, and it is checked for
// well-formedness on the way, so that the caller need not read the text a second time.
bool needsAttention(unsigned char byte)
{
    return byte < 0x20 || byte >= 0x7F;
}

#if defined(__SSE2__)
__m128i load16(const unsigned char *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// The bytes of `bytes` that need attention in the text state (C0 controls, DEL and every byte past
// ASCII), one bit each, byte 0 lowest.
unsigned attentionBits(__m128i bytes)
{
    // Compared as signed bytes, those past ASCII are below the space as well.
    const __m128i marked = _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F)));
    return unsigned(_mm_movemask_epi8(marked));
}
#endif

// Copies the bytes from `p` on to `write` until the first that needs attention, and advances both.
// Each block is stored before it is looked at: `write` never runs ahead of `p`, so the store stays
// within the room the caller made, and what is not text is overwritten later.
void copyText(const unsigned char *&p, const unsigned char *end, char *&write)
{
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i block = load16(p);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(write), block);
        if (const unsigned mask = attentionBits(block); mask != 0) {
            const int text = std::countr_zero(mask);
            p += text;
            write += text;
            return;
        }
        p += 16;
        write += 16;
    }
#endif
    while (end - p >= 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        std::memcpy(write, &word, 8);
        const quint64 attention = attentionBytes(word);
        if (attention != 0) {
            const int text = std::countr_zero(attention) / 8;
            p += text;
            write += text;
            return;
        }
        p += 8;
        write += 8;
    }
    while (p < end && !needsAttention(*p))
        *write++ = char(*p++);
}

// The first byte from `p` on that is `a` or `b`, or `end`; sets `unchecked` when a byte past ASCII
// comes before it.
const unsigned char *findEither(const unsigned char *p, const unsigned char *end, unsigned char a, unsigned char b,
                                bool &unchecked)
{
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(char(a));
    const __m128i second = _mm_set1_epi8(char(b));
    while (end - p >= 16) {
        const __m128i block = load16(p);
        const auto found =
            unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second))));
        const auto high = unsigned(_mm_movemask_epi8(block));
        if (found != 0) {
            const int before = std::countr_zero(found);
            unchecked |= (high & ((1U << before) - 1)) != 0;
            return p + before;
        }
        unchecked |= high != 0;
        p += 16;
    }
#endif
    while (p < end && *p != a && *p != b)
        unchecked |= *p++ >= 0x80;
    return p;
}

// Where a sequence that leaves the text as it is, going on from `p` just after its ESC, ends, when it
// ends before `end`; null otherwise. Such are colours (ESC "[", digits and ";", "m"), the most common
// sequence by far, and at the end of the line, `atLineEnd`, erase to its end (ESC "[" "K", with a
// first parameter of 0 if any), which progress meters send after each state. The text state skips
// them whole.
Q_ALWAYS_INLINE const unsigned char *inertSequenceEnd(const unsigned char *p, const unsigned char *end, bool atLineEnd)
{
    if (p == end || *p != '[')
        return nullptr;
    bool inFirstParameter = true;
    bool eraseToEnd = atLineEnd;
    for (++p; p < end; ++p) {
        const unsigned char byte = *p;
        if (byte == 'm')
            return p + 1;
        if (byte == 'K')
            return eraseToEnd ? p + 1 : nullptr;
        if (byte == ';')
            inFirstParameter = false;
        else if (byte >= '1' && byte <= '9')
            eraseToEnd &= !inFirstParameter;
        else if (byte != '0')
            return nullptr;
    }
    return nullptr;
}

// Where an operating system command (a window title and the like), going on from `p` just after
// its ESC, ends, when it ends before `end`; null otherwise.
Q_ALWAYS_INLINE const unsigned char *commandEnd(const unsigned char *p, const unsigned char *end, bool &unchecked)
{
    if (p == end || *p != ']')
        return nullptr;
    p = findEither(p + 1, end, kBell, kEscape, unchecked);
    if (p < end && *p == kBell)
        return p + 1;
    if (end - p >= 2 && p[1] == '\\')
        return p + 2;
    return nullptr;
}

using Cursor = TerminalTranscriptDecoder::Cursor;

using utf8::isContinuation;

bool isC1Control(const unsigned char *p, size_t length)
{
    return length == 2 && p[0] == 0xC2 && p[1] < 0xA0;
}

// Takes the characters past ASCII from `p` on, until an ASCII byte or `end`, appending them at the
// end of the line; returns where it stopped. Characters past ASCII tend to come together (words of
// most scripts): taken in one go.
Q_ALWAYS_INLINE const unsigned char *takeCharacters(const unsigned char *p, const unsigned char *end, char *&write, bool &illFormed)
{
    do {
        bool complete;
        const size_t length = utf8::sequence(p, size_t(end - p), complete);
        if (complete && isC1Control(p, length)) {
            // A C1 control: dropped, it starts no sequence.
        } else {
            // U+00A0 up, or ill-formed bytes, copied as they are for the caller to see to.
            illFormed |= !complete;
            if (end - p >= 4)
                std::memcpy(write, p, 4); // the bytes past the character are overwritten later
            else
                std::memcpy(write, p, length);
            write += length;
        }
        p += length;
    } while (p < end && *p >= 0x80);
    return p;
}

// Takes the byte at `p`, which needs attention, when what it does can be done at the end of the
// line starting at `start`, `to`: line feeds, tabs, colour sequences, characters past ASCII, dropped
// controls, and a carriage return that moves nothing (on an empty line, or right before a line
// feed). Returns false, leaving everything as it was, for a byte that moves the cursor back or
// starts another sequence. Always inlined, here and in the helpers it calls: as a call, the
// positions it moves would go through memory, and the next byte's handling would wait on them.
Q_ALWAYS_INLINE bool takeAtLineEnd(const unsigned char *&p, const unsigned char *end, char *&start, char *&to,
                                   bool &illFormed)
{
    const unsigned char byte = *p;
    if (byte == kEscape) {
        const unsigned char *after = inertSequenceEnd(p + 1, end, true);
        if (after == nullptr)
            after = commandEnd(p + 1, end, illFormed);
        if (after == nullptr)
            return false;
        p = after;
    } else if (byte >= 0x80) {
        p = takeCharacters(p, end, to, illFormed);
    } else if (byte == kLineFeed) {
        *to++ = char(kLineFeed);
        start = to;
        ++p;
    } else if (byte == kCarriageReturn) {
        if (to == start) {
            ++p;
        } else if (end - p >= 2 && p[1] == kLineFeed) {
            *to++ = char(kLineFeed);
            start = to;
            p += 2;
        } else {
            return false;
        }
    } else if (byte == kTab) {
        *to++ = char(kTab);
        ++p;
    } else if (byte == kBackspace) {
        return false;
    } else {
        ++p; // other C0 controls and DEL
    }
    return true;
}

#if defined(__SSE2__)
// The bytes of the 64 from `p` on that need attention in the text state, one bit each, byte 0 lowest.
quint64 attentionMask(const unsigned char *p)
{
    const auto bits = [p](int at) { return quint64(attentionBits(load16(p + at))) << at; };
    return bits(0) | bits(16) | bits(32) | bits(48);
}

// Copies the `count` bytes (at most 64) from `p` on to `to`, and up to 32 more: the stores do not
// depend on `count` but for the long runs, and what follows the run is overwritten later.
void copyRun(const unsigned char *p, char *to, qsizetype count)
{
    const auto copy16 = [p, to](int at) { _mm_storeu_si128(reinterpret_cast<__m128i *>(to + at), load16(p + at)); };
    copy16(0);
    copy16(16);
    if (count > 32) {
        copy16(32);
        copy16(48);
    }
}
#endif

// Appends text from `p` on at `write`, the end of the line that starts at `lineStart`, with what
// takeAtLineEnd takes on the way. Stops at `end` or at the first byte that it does not take;
// returns where it stopped.
const unsigned char *appendAtLineEnd(const unsigned char *p, const unsigned char *end, char *&lineStart,
                                     char *&write, bool &illFormed)
{
    char *start = lineStart;
    char *to = write;
    const auto stop = [&] {
        lineStart = start;
        write = to;
        return p;
    };
#if defined(__SSE2__)
    // A window of 64 bytes is looked at once, and each byte in it that needs attention is found from
    // the window's mask, not by looking again: terminal output needs attention every 20 bytes or so.
    // Each run of text up to the next such byte is copied in blocks that may go past it (what
    // follows the run is overwritten later); `to` never runs ahead of `p`, so the copy stays within
    // the room the caller made as long as 64 bytes of input are left.
    while (end - p >= 64) {
        const unsigned char *const window = p;
        quint64 mask = attentionMask(window);
        for (;;) {
            const unsigned char *const next = mask == 0 ? window + 64 : window + std::countr_zero(mask);
            copyRun(p, to, next - p);
            to += next - p;
            p = next;
            if (mask == 0)
                break;
            if (!takeAtLineEnd(p, end, start, to, illFormed))
                return stop();
            const auto taken = p - window;
            if (taken >= 64 || end - p < 64)
                break;
            mask &= ~quint64(0) << taken;
        }
    }
#endif
    for (;;) {
        copyText(p, end, to);
        if (p == end || !takeAtLineEnd(p, end, start, to, illFormed))
            return stop();
    }
}

// Moves the cursor `count` characters back, not past the start of the line.
void moveBack(Cursor &cursor, int count)
{
    for (; count > 0 && cursor.at > cursor.lineStart; --count) {
        do
            --cursor.at;
        while (cursor.at > cursor.lineStart && isContinuation(static_cast<unsigned char>(*cursor.at)));
    }
}

// Moves the cursor `count` characters on, not past the end of the line.
char *characterAfter(const Cursor &cursor, char *at, int count)
{
    for (; count > 0 && at < cursor.end; --count) {
        do
            ++at;
        while (at < cursor.end && isContinuation(static_cast<unsigned char>(*at)));
    }
    return at;
}

// Replaces the bytes from `from` to `to` of the line by `length` bytes (not yet written), moving the
// rest of the line.
void replaceRange(Cursor &cursor, char *from, char *to, qsizetype length)
{
    if (to - from != length) {
        std::memmove(from + length, to, size_t(cursor.end - to));
        cursor.end += length - (to - from);
    }
}

// Writes one character at the cursor, over the one that stands there.
void overwrite(Cursor &cursor, const unsigned char *bytes, size_t length)
{
    replaceRange(cursor, cursor.at, characterAfter(cursor, cursor.at, 1), qsizetype(length));
    std::memcpy(cursor.at, bytes, length);
    cursor.at += length;
}

// Blanks the characters from the start of the line to `to`: each becomes one space.
void blankUpTo(Cursor &cursor, char *to)
{
    qsizetype characters = 0;
    qsizetype cursorColumn = 0;
    for (const char *c = cursor.lineStart; c < to; ++c) {
        if (c == cursor.at)
            cursorColumn = characters;
        characters += isContinuation(static_cast<unsigned char>(*c)) ? 0 : 1;
    }
    if (cursor.at >= to)
        cursorColumn = characters;
    replaceRange(cursor, cursor.lineStart, to, characters);
    std::memset(cursor.lineStart, ' ', size_t(characters));
    cursor.at = cursor.lineStart + cursorColumn;
}
} // namespace

bool TerminalTranscriptDecoder::append(QByteArrayView utf8, QByteArray &out, TerminalLine &line)
{
    if (utf8.isEmpty())
        return false;
    // Some byte past ASCII was not checked: one inside a sequence, or one of an ill-formed character.
    bool unchecked = false;
    // The text never grows by more than the input: write into room made once.
    const qsizetype base = out.size();
    if (out.capacity() < base + utf8.size())
        out.reserve(std::max(base + utf8.size(), 2 * out.capacity()));
    out.resize(base + utf8.size());
    char *const data = out.data();
    const qsizetype length = std::clamp<qsizetype>(line.length, 0, base);
    Cursor cursor{data + base - length, data + base - std::clamp<qsizetype>(line.afterCursor, 0, length), data + base};

    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        if (m_state == State::text)
            p = takeText(p, end, cursor, unchecked);
        else
            p = consumeSequence(p, end, cursor, unchecked);
    }
    out.resize(cursor.end - data);
    line.length = cursor.end - cursor.lineStart;
    line.afterCursor = cursor.end - cursor.at;
    return unchecked;
}

const unsigned char *TerminalTranscriptDecoder::takeText(const unsigned char *p, const unsigned char *end,
                                                         Cursor &cursor, bool &unchecked)
{
    // The cursor's pointers are locals rather than a struct whose address is handed on: such a
    // struct lives in memory, and the test made for nearly every byte (is the cursor at the end of
    // the line?) would wait on the stores just made to it. The rarer steps that need the struct
    // (an overwrite, a backspace, a sequence) get one for the call.
    char *lineStart = cursor.lineStart;
    char *at = cursor.at;
    char *lineEnd = cursor.end;
    const auto withCursor = [&](auto &&step) {
        Cursor c{lineStart, at, lineEnd};
        step(c);
        lineStart = c.lineStart;
        at = c.at;
        lineEnd = c.end;
    };
    bool illFormed = false;
    while (p < end) {
        if (at == lineEnd) {
            // Nearly all output is written at the end of the line: in a loop of its own, which
            // leaves it only for what moves the cursor back or starts a sequence.
            p = appendAtLineEnd(p, end, lineStart, lineEnd, illFormed);
            at = lineEnd;
            if (p == end)
                break;
        }
        const unsigned char byte = *p;
        if (byte >= 0x80) {
            bool complete;
            const size_t length = utf8::sequence(p, size_t(end - p), complete);
            if (!complete || !isC1Control(p, length)) {
                illFormed |= !complete;
                withCursor([&](Cursor &c) { overwrite(c, p, length); });
            }
            p += length;
            continue;
        }
        if (!needsAttention(byte)) {
            withCursor([&](Cursor &c) { overwrite(c, p, 1); });
            ++p;
            continue;
        }
        ++p;
        switch (byte) {
        case kEscape:
            if (const unsigned char *after = inertSequenceEnd(p, end, at == lineEnd)) {
                p = after;
                break;
            }
            m_state = State::escape;
            withCursor([&](Cursor &c) { p = consumeSequence(p, end, c, unchecked); });
            if (m_state != State::text) {
                cursor = Cursor{lineStart, at, lineEnd};
                unchecked |= illFormed;
                return p; // the sequence goes on past `end`
            }
            break;
        case kTab:
            withCursor([&](Cursor &c) { overwrite(c, &byte, 1); });
            break;
        case kLineFeed:
            // The line is done whatever the cursor's column: the next one starts after it.
            *lineEnd++ = char(kLineFeed);
            lineStart = at = lineEnd;
            break;
        case kCarriageReturn:
            at = lineStart;
            break;
        case kBackspace:
            withCursor([](Cursor &c) { moveBack(c, 1); });
            break;
        default:
            break; // other C0 controls and DEL
        }
    }
    cursor = Cursor{lineStart, at, lineEnd};
    unchecked |= illFormed;
    return p;
}

void TerminalTranscriptDecoder::applyControlSequence(unsigned char final, Cursor &cursor) const
{
    const int count = std::max(m_parameter, 1);
    switch (final) {
    case 'K': // erase in line: to its end, from its start, or all of it
        if (m_parameter == 1 || m_parameter == 2)
            blankUpTo(cursor, m_parameter == 1 ? characterAfter(cursor, cursor.at, 1) : cursor.end);
        if (m_parameter <= 0 || m_parameter == 2)
            cursor.end = cursor.at;
        break;
    case 'D': // cursor back
        moveBack(cursor, count);
        break;
    case 'C': // cursor forward, within the text of the line
        cursor.at = characterAfter(cursor, cursor.at, count);
        break;
    case 'G': // cursor to a column, within the text of the line
        cursor.at = characterAfter(cursor, cursor.lineStart, count - 1);
        break;
    case 'P': // delete characters: the rest of the line moves left
        replaceRange(cursor, cursor.at, characterAfter(cursor, cursor.at, count), 0);
        break;
    default:
        break; // colours and everything else leave the text as it is
    }
}

const unsigned char *TerminalTranscriptDecoder::consumeSequence(const unsigned char *p, const unsigned char *end,
                                                                Cursor &cursor, bool &unchecked)
{
    // Inside a sequence only a few characters change the state; every other scalar, whatever its
    // length in bytes, is swallowed whole.
    const auto scalarAfter = [end, &unchecked](const unsigned char *at) {
        unchecked |= *at >= 0x80;
        return at + std::min<qsizetype>(utf8::sequenceLength(*at), end - at);
    };
    while (p < end) {
        switch (m_state) {
        case State::text:
            return p;
        case State::escape:
            if (*p != '[') {
                if (*p == ']')
                    m_state = State::osc;
                else if (*p == 'P' || *p == 'X' || *p == '^' || *p == '_')
                    m_state = State::controlString;
                else if (*p >= 0x20 && *p <= 0x2F)
                    m_state = State::escapeIntermediate; // a designation: ESC "(" "B" and the like
                else
                    m_state = State::text; // a two-character escape consumes exactly one character
                p = scalarAfter(p);
                break;
            }
            m_state = State::csi;
            m_parameter = -1;
            m_privateSequence = false;
            m_firstParameterDone = false;
            ++p;
            [[fallthrough]]; // straight on: the most common sequence by far
        case State::csi:
            while (p < end && (*p < 0x40 || *p > 0x7E)) {
                const unsigned char byte = *p++;
                if (byte >= '0' && byte <= '9') {
                    if (!m_firstParameterDone && m_parameter < 100000)
                        m_parameter = std::max(m_parameter, 0) * 10 + (byte - '0');
                } else if (byte == ';') {
                    // Only the first parameter counts for the sequences that are applied.
                    m_firstParameterDone = true;
                } else {
                    m_privateSequence = true; // "?", intermediates, anything else
                    unchecked |= byte >= 0x80;
                }
            }
            if (p < end) {
                m_state = State::text;
                if (!m_privateSequence)
                    applyControlSequence(*p, cursor);
                return p + 1; // after the final character
            }
            break;
        case State::escapeIntermediate:
            if (*p < 0x20 || *p > 0x2F)
                m_state = State::text; // the final character
            p = scalarAfter(p);
            break;
        case State::osc:
            p = findEither(p, end, kBell, kEscape, unchecked);
            if (p < end) {
                m_state = *p == kBell ? State::text : State::oscEscape;
                ++p;
            }
            break;
        case State::oscEscape:
            m_state = *p == '\\' ? State::text : State::osc;
            p = scalarAfter(p);
            break;
        case State::controlString:
            p = findEither(p, end, kEscape, kEscape, unchecked);
            if (p < end) {
                m_state = State::controlStringEscape;
                ++p;
            }
            break;
        case State::controlStringEscape:
            m_state = *p == '\\' ? State::text : State::controlString;
            p = scalarAfter(p);
            break;
        }
    }
    return p;
}
