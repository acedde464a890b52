#include "workspace/ShellTranscript.h"

#include <cstring>

namespace
{
bool isContinuation(unsigned char byte)
{
    return byte >= 0x80 && byte <= 0xBF;
}

// The well-formed UTF-8 sequence starting at `p` (Unicode's table of well-formed byte sequences):
// its length when it is whole and valid; otherwise the length of its maximal subpart, negated,
// and `incomplete` says whether that subpart is cut off only by the end of the bytes.
int sequenceAt(const unsigned char *p, const unsigned char *end, bool &incomplete)
{
    incomplete = false;
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
        if (p + taken == end) {
            incomplete = true;
            return -taken;
        }
        const unsigned char byte = p[taken];
        const bool fits = taken == 1 ? (byte >= low && byte <= high) : isContinuation(byte);
        if (!fits)
            return -taken;
    }
    return length;
}
} // namespace

qsizetype ShellTranscript::validPrefixOfOutput(QByteArrayView bytes)
{
    // Usually the whole message is valid, or valid but for a character cut off at its end: Qt's
    // validation is fast for both, and only the tail of at most four bytes is read one by one.
    if (bytes.isValidUtf8())
        return bytes.size();
    qsizetype lastStart = bytes.size() - 1;
    while (lastStart > 0 && bytes.size() - lastStart < kMaximumHeldBack &&
           isContinuation(static_cast<unsigned char>(bytes[lastStart])))
        --lastStart;
    if (lastStart > 0 && bytes.first(lastStart).isValidUtf8())
        return lastStart + validPrefixLength(bytes.sliced(lastStart));
    return validPrefixLength(bytes);
}

qsizetype ShellTranscript::validPrefixLength(QByteArrayView bytes)
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
        bool incomplete = false;
        const int length = sequenceAt(p, end, incomplete);
        if (length < 0)
            break;
        p += length;
    }
    return p - begin;
}

QByteArray ShellTranscript::replacingInvalid(QByteArrayView bytes)
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
        bool incomplete = false;
        const int length = sequenceAt(p, end, incomplete);
        result.append(kReplacement, 3);
        p += -length;
    }
    return result;
}

void ShellTranscript::append(QByteArrayView bytes, quint8 channel)
{
    Channel &state = m_channels[channel];
    QByteArrayView pending = bytes;
    if (!state.heldBack.isEmpty()) {
        state.heldBack.append(bytes);
        pending = state.heldBack;
    }
    // The longest valid prefix that leaves at most kMaximumHeldBack bytes behind.
    const qsizetype count = pending.size();
    const qsizetype valid = validPrefixOfOutput(pending);
    QByteArray rest;
    if (valid >= 1 && valid >= count - kMaximumHeldBack) {
        state.decoder.append(pending.first(valid), m_buffer);
        rest = pending.sliced(valid).toByteArray();
    } else if (count <= kMaximumHeldBack) {
        rest = pending.toByteArray();
    } else {
        // Too much that never became valid: shown at once, each invalid part as U+FFFD.
        state.decoder.append(replacingInvalid(pending), m_buffer);
    }
    state.heldBack = std::move(rest);
    trim();
}

void ShellTranscript::clear()
{
    m_channels.clear();
    m_buffer.clear();
    m_start = 0;
}

void ShellTranscript::trim()
{
    if (m_buffer.size() - m_start <= kMaximumBytes)
        return;
    qsizetype start = m_buffer.size() - kMaximumBytes;
    while (start < m_buffer.size() && isContinuation(static_cast<unsigned char>(m_buffer[start])))
        ++start;
    m_start = start;
    if (m_start >= kMaximumBytes) {
        // Moved in place: the buffer keeps its room (QByteArray::remove would keep it at the front
        // and make the next growth a new allocation).
        const qsizetype kept = m_buffer.size() - m_start;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(kept));
        m_buffer.resize(kept);
        m_start = 0;
    }
}
