#include "workspace/ShellTranscript.h"

#include "core/Utf8.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace
{
using utf8::isContinuation;

// The cut-off front of the buffer is dropped only once it is three times as long as the cap: capping
// then costs a third of a copy per byte appended (rather than one per append), for a buffer of at
// most four times the cap.
constexpr qsizetype kDroppedBeforeMove = 3 * ShellTranscript::kMaximumBytes;
} // namespace

qsizetype ShellTranscript::lastCharacterStart(QByteArrayView bytes)
{
    qsizetype start = bytes.size() - 1;
    while (start > 0 && bytes.size() - start < kMaximumHeldBack &&
           isContinuation(static_cast<unsigned char>(bytes[start])))
        --start;
    return start;
}

qsizetype ShellTranscript::validPrefixOfOutput(QByteArrayView bytes)
{
    // Usually the whole message is valid, or valid but for a character cut off at its end: Qt's
    // validation is fast for both, and only the tail of at most four bytes is read one by one.
    if (bytes.isValidUtf8())
        return bytes.size();
    const qsizetype lastStart = lastCharacterStart(bytes);
    if (lastStart > 0 && bytes.first(lastStart).isValidUtf8())
        return lastStart + utf8::validPrefixLength(bytes.sliced(lastStart));
    return utf8::validPrefixLength(bytes);
}

QByteArrayView ShellTranscript::completeHeldBack(Channel &state, QByteArrayView bytes)
{
    const qsizetype held = state.heldBack.size();
    const qsizetype missing = utf8::sequenceLength(static_cast<unsigned char>(state.heldBack[0])) - held;
    if (missing <= 0 || missing > bytes.size())
        return bytes;
    char bytesOfCharacter[4];
    std::memcpy(bytesOfCharacter, state.heldBack.constData(), size_t(held));
    std::memcpy(bytesOfCharacter + held, bytes.data(), size_t(missing));
    const QByteArrayView character(bytesOfCharacter, held + missing);
    if (!utf8::isWellFormed(character))
        return bytes;
    state.decoder.append(character, m_buffer, m_line);
    state.heldBack.clear();
    return bytes.sliced(missing);
}

void ShellTranscript::append(QByteArrayView bytes, quint8 channel)
{
    Channel &state = m_channels[channel];
    // Output is cut at arbitrary bytes: the rest of a character held back from the last message
    // usually opens this one. Completed, the character is decoded on its own, and the rest of the
    // message goes on as if nothing had been held back.
    if (!state.heldBack.isEmpty() && !bytes.isEmpty())
        bytes = completeHeldBack(state, bytes);
    if (state.heldBack.isEmpty() && !bytes.isEmpty()) {
        // Usually output is whole but for a character cut off at its end, which is held back, and
        // often it is all ASCII: decoded at once, and checked only when the decoder could not
        // vouch for it. Output that was not whole is taken back and goes the long way.
        const qsizetype lastStart = lastCharacterStart(bytes);
        const bool cut = utf8::sequenceLength(static_cast<unsigned char>(bytes[lastStart])) > bytes.size() - lastStart;
        const QByteArrayView whole = cut ? bytes.first(lastStart) : bytes;
        // The decoder may rewrite the last line, which is kept to be put back. A long one is not
        // copied for every message: the output is checked first instead.
        const TerminalTranscriptDecoder before = state.decoder;
        const TerminalLine lineBefore = m_line;
        const qsizetype size = m_buffer.size();
        const bool keepLine = m_line.length <= kLineKeptForUndo;
        QVarLengthArray<char, kLineKeptForUndo> line;
        if (keepLine)
            line.append(m_buffer.constData() + size - m_line.length, m_line.length);
        if (keepLine || whole.isValidUtf8()) {
            if (!state.decoder.append(whole, m_buffer, m_line) || !keepLine || whole.isValidUtf8()) {
                if (cut)
                    state.heldBack = bytes.sliced(lastStart).toByteArray();
                trim();
                return;
            }
            state.decoder = before;
            m_line = lineBefore;
            m_buffer.resize(size);
            std::memcpy(m_buffer.data() + size - line.size(), line.constData(), size_t(line.size()));
        }
    }
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
        state.decoder.append(pending.first(valid), m_buffer, m_line);
        rest = pending.sliced(valid).toByteArray();
    } else if (count <= kMaximumHeldBack) {
        rest = pending.toByteArray();
    } else {
        // Too much that never became valid: shown at once, each invalid part as U+FFFD.
        QByteArray replaced;
        utf8::appendWellFormed(replaced, std::string_view(pending.data(), size_t(pending.size())));
        state.decoder.append(replaced, m_buffer, m_line);
    }
    state.heldBack = std::move(rest);
    trim();
}

void ShellTranscript::clear()
{
    m_channels.clear();
    m_buffer.clear();
    m_start = 0;
    m_cut = 0;
    m_line = {};
}

void ShellTranscript::trim()
{
    if (m_buffer.size() - m_start <= kMaximumBytes)
        return;
    // A line longer than the cap loses its start with the rest; the cursor stays within what is kept.
    qsizetype start = m_buffer.size() - kMaximumBytes;
    while (start < m_buffer.size() && isContinuation(static_cast<unsigned char>(m_buffer[start])))
        ++start;
    m_cut += start - m_start;
    m_start = start;
    if (m_start >= kDroppedBeforeMove) {
        // Moved in place: the buffer keeps its room (QByteArray::remove would keep it at the front
        // and make the next growth a new allocation).
        const qsizetype kept = m_buffer.size() - m_start;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(kept));
        m_buffer.resize(kept);
        m_start = 0;
    }
    m_line.length = std::min(m_line.length, m_buffer.size() - m_start);
    m_line.afterCursor = std::min(m_line.afterCursor, m_line.length);
}
