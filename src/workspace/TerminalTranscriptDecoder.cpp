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

// Copies the bytes from `p` on to `write` until the first that needs attention, and advances both.
// Each block is stored before it is looked at: `write` never runs ahead of `p`, so the store stays
// within the room the caller made, and what is not text is overwritten later.
void copyText(const unsigned char *&p, const unsigned char *end, char *&write)
{
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i del = _mm_set1_epi8(0x7F);
    while (end - p >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(write), block);
        // Compared as signed bytes, those past ASCII are below the space as well.
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(block, space), _mm_cmpeq_epi8(block, del)));
        if (mask != 0) {
            const int text = std::countr_zero(unsigned(mask));
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
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
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

// Takes the characters past ASCII from `p` on, until an ASCII byte or `end`; returns where it
// stopped. Characters past ASCII tend to come together (words of most scripts): taken in one go.
const unsigned char *takeCharacters(const unsigned char *p, const unsigned char *end, char *&write, bool &previousWasCR,
                                    bool &illFormed)
{
    do {
        bool complete;
        const size_t length = utf8::sequence(p, size_t(end - p), complete);
        if (complete && p[0] == 0xC2 && p[1] < 0xA0) {
            // A C1 control: dropped, it starts no sequence and leaves a CR LF pair whole.
        } else {
            // U+00A0 up, or ill-formed bytes, copied as they are for the caller to see to.
            illFormed |= !complete;
            if (end - p >= 4)
                std::memcpy(write, p, 4); // the bytes past the character are overwritten later
            else
                std::memcpy(write, p, length);
            write += length;
            previousWasCR = false;
        }
        p += length;
    } while (p < end && *p >= 0x80);
    return p;
}
} // namespace

bool TerminalTranscriptDecoder::append(QByteArrayView utf8, QByteArray &out)
{
    if (utf8.isEmpty())
        return false;
    // Some byte past ASCII was not checked: one inside a sequence, or one of an ill-formed character.
    bool unchecked = false;
    // The output is never longer than the input: write into room made once.
    const qsizetype base = out.size();
    if (out.capacity() < base + utf8.size())
        out.reserve(std::max(base + utf8.size(), 2 * out.capacity()));
    out.resize(base + utf8.size());
    char *write = out.data() + base;

    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        if (m_state == State::text)
            p = takeText(p, end, write, unchecked);
        else
            p = consumeSequence(p, end, unchecked);
    }
    out.resize(write - out.data());
    return unchecked;
}

const unsigned char *TerminalTranscriptDecoder::takeText(const unsigned char *p, const unsigned char *end, char *&write,
                                                         bool &unchecked)
{
    // Locals: through a char pointer, every store could change a member or a referenced variable,
    // which would then be read again after each one.
    char *to = write;
    bool previousWasCR = m_previousWasCR;
    bool illFormed = false;
    while (p < end) {
        const unsigned char byte = *p;
        if (!needsAttention(byte)) {
            // Printable ASCII is copied as it is, a block at a time.
            copyText(p, end, to);
            previousWasCR = false;
            continue;
        }
        if (byte >= 0x80) {
            p = takeCharacters(p, end, to, previousWasCR, illFormed);
            continue;
        }
        ++p;
        if (byte == kEscape) {
            previousWasCR = false;
            m_state = State::escape;
            p = consumeSequence(p, end, unchecked);
            if (m_state != State::text)
                break; // the sequence goes on past `end`
            continue;
        }
        switch (byte) {
        case kTab:
            *to++ = char(kTab);
            previousWasCR = false;
            break;
        case kLineFeed:
            if (!previousWasCR)
                *to++ = char(kLineFeed);
            previousWasCR = false;
            break;
        case kCarriageReturn:
            *to++ = char(kLineFeed);
            previousWasCR = true;
            break;
        default:
            break; // other C0 controls and DEL
        }
    }
    write = to;
    m_previousWasCR = previousWasCR;
    unchecked |= illFormed;
    return p;
}

const unsigned char *TerminalTranscriptDecoder::consumeSequence(const unsigned char *p, const unsigned char *end,
                                                                bool &unchecked)
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
                else
                    m_state = State::text; // a two-character escape consumes exactly one character
                p = scalarAfter(p);
                break;
            }
            m_state = State::csi;
            ++p;
            [[fallthrough]]; // straight on: the most common sequence by far
        case State::csi:
            while (p < end && (*p < 0x40 || *p > 0x7E))
                unchecked |= *p++ >= 0x80;
            if (p < end) {
                m_state = State::text;
                return p + 1; // after the final character
            }
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
