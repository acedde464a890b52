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

// Marks the bytes of `word` that may end a run of text: C0 controls, DEL, and C2 (which leads the
// C1 controls as well as U+00A0 to U+00BF). Exact for the lowest marked byte.
constexpr quint64 runEnds(quint64 word)
{
    const quint64 controls = (word - kOnes * 0x20) & ~word & kHighs;
    return controls | zeroBytes(word ^ (kOnes * 0x7F)) | zeroBytes(word ^ (kOnes * 0xC2));
}

bool mayEndRun(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F || byte == 0xC2;
}

// Copies the bytes from `p` on to `write` until the first byte that may end a run of text, and
// advances both. Each block is stored before it is looked at: `write` never runs ahead of `p`, so
// the store stays within the room the caller made, and what is not text is overwritten later.
void copyTextRun(const unsigned char *&p, const unsigned char *end, char *&write, unsigned &high)
{
#if defined(__SSE2__)
    const __m128i highestControl = _mm_set1_epi8(0x1F);
    const __m128i del = _mm_set1_epi8(0x7F);
    const __m128i c2 = _mm_set1_epi8(char(0xC2));
    while (end - p >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(write), block);
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(block, highestControl), highestControl);
        const __m128i ends = _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(block, del), _mm_cmpeq_epi8(block, c2)));
        high |= unsigned(_mm_movemask_epi8(block));
        const int mask = _mm_movemask_epi8(ends);
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
        high |= unsigned((word & kHighs) != 0);
        const quint64 ends = runEnds(word);
        if (ends != 0) {
            const int text = std::countr_zero(ends) / 8;
            p += text;
            write += text;
            return;
        }
        p += 8;
        write += 8;
    }
    while (p < end && !mayEndRun(*p)) {
        high |= *p & 0x80;
        *write++ = char(*p++);
    }
}
} // namespace

bool TerminalTranscriptDecoder::append(QByteArrayView utf8, QByteArray &out)
{
    if (utf8.isEmpty())
        return false;
    // Any byte from 0x80 up seen; more is fine (bytes read twice, a control string not read at all).
    unsigned high = 0;
    // The output is never longer than the input: write into room made once.
    const qsizetype base = out.size();
    if (out.capacity() < base + utf8.size())
        out.reserve(std::max(base + utf8.size(), 2 * out.capacity()));
    out.resize(base + utf8.size());
    char *write = out.data() + base;

    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        if (m_state != State::text) {
            p = consumeSequence(p, end, high);
            continue;
        }
        // Printable ASCII and every scalar from U+00A0 up are copied as they are, a block at a time.
        const unsigned char *run = p;
        copyTextRun(p, end, write, high);
        if (p > run)
            m_previousWasCR = false;
        if (p == end)
            break;

        const unsigned char byte = *p;
        if (byte == 0xC2) {
            high = 1;
            if (p + 1 < end && p[1] >= 0xA0) {
                // U+00A0 to U+00BF: text.
                *write++ = char(p[0]);
                *write++ = char(p[1]);
                m_previousWasCR = false;
            }
            // Otherwise a C1 control: dropped, it starts no sequence and leaves a CR LF pair whole.
            p += std::min<qsizetype>(2, end - p);
            continue;
        }
        ++p;
        switch (byte) {
        case kTab:
            *write++ = char(kTab);
            m_previousWasCR = false;
            break;
        case kLineFeed:
            if (!m_previousWasCR)
                *write++ = char(kLineFeed);
            m_previousWasCR = false;
            break;
        case kCarriageReturn:
            *write++ = char(kLineFeed);
            m_previousWasCR = true;
            break;
        case kEscape:
            m_state = State::escape;
            m_previousWasCR = false;
            break;
        default:
            break; // other C0 controls and DEL
        }
    }
    out.resize(write - out.data());
    return high != 0;
}

const unsigned char *TerminalTranscriptDecoder::consumeSequence(const unsigned char *p, const unsigned char *end,
                                                                unsigned &high)
{
    // Inside a sequence only a few characters change the state; every other scalar, whatever its
    // length in bytes, is swallowed whole.
    const auto scalarAfter = [end, &high](const unsigned char *at) {
        high |= *at & 0x80;
        return at + std::min<qsizetype>(utf8::sequenceLength(*at), end - at);
    };
    while (p < end) {
        switch (m_state) {
        case State::text:
            return p;
        case State::escape:
            if (*p == '[')
                m_state = State::csi;
            else if (*p == ']')
                m_state = State::osc;
            else if (*p == 'P' || *p == 'X' || *p == '^' || *p == '_')
                m_state = State::controlString;
            else
                m_state = State::text; // a two-character escape consumes exactly one character
            p = scalarAfter(p);
            break;
        case State::csi:
            while (p < end && (*p < 0x40 || *p > 0x7E))
                high |= *p++ & 0x80;
            if (p < end) {
                m_state = State::text; // the final character
                ++p;
            }
            break;
        case State::osc:
            while (p < end && *p != kBell && *p != kEscape)
                high |= *p++ & 0x80;
            if (p < end) {
                m_state = *p == kBell ? State::text : State::oscEscape;
                ++p;
            }
            break;
        case State::oscEscape:
            m_state = *p == '\\' ? State::text : State::osc;
            p = scalarAfter(p);
            break;
        case State::controlString: {
            high = 1; // not read byte by byte
            const void *escape = std::memchr(p, kEscape, size_t(end - p));
            if (!escape)
                return end;
            m_state = State::controlStringEscape;
            p = static_cast<const unsigned char *>(escape) + 1;
            break;
        }
        case State::controlStringEscape:
            m_state = *p == '\\' ? State::text : State::controlString;
            p = scalarAfter(p);
            break;
        }
    }
    return p;
}
