#pragma once

#include "workspace/TerminalTranscriptDecoder.h"

#include <QByteArray>
#include <QByteArrayView>

#include <map>

// The build shell's transcript: the output of standard output and standard error, each channel
// reassembled into whole UTF-8 characters and cleaned by a decoder of its own, appended to one text
// in arrival order and capped at its last kMaximumBytes bytes of UTF-8. Kept as UTF-8 bytes, so
// that capping cuts bytes rather than re-encoding text.
class ShellTranscript
{
public:
    static constexpr qsizetype kMaximumBytes = 262144;
    // A channel holds back at most this many bytes of an incomplete character.
    static constexpr qsizetype kMaximumHeldBack = 4;
    // A last line up to this long is copied before a message is applied, to be put back when the
    // message turns out ill-formed; a longer one has the message checked first.
    static constexpr qsizetype kLineKeptForUndo = 512;

    // Takes output bytes of `channel` into the transcript.
    void append(QByteArrayView bytes, quint8 channel);

    // The transcript: valid UTF-8, at most kMaximumBytes, starting on a whole character.
    QByteArrayView utf8() const { return QByteArrayView(m_buffer).sliced(m_start); }
    bool isEmpty() const { return m_start == m_buffer.size(); }
    // The bytes the cap has cut from the front since the last clear: an offset into utf8() plus this
    // names the same byte however much is cut later.
    qint64 cutBytes() const { return m_cut; }
    // The length in bytes of the last line, the one the cursor is on (after the last line feed).
    qsizetype lastLineBytes() const { return m_line.length; }

    // A new shell: no text, no held-back bytes, fresh decoders.
    void clear();
    // Forgets the held-back bytes and decoder states of every channel; the text and the cursor on
    // its last line stay.
    void resetChannels() { m_channels.clear(); }

private:
    // utf8::validPrefixLength for a message of output, with a fast path for the usual ones.
    static qsizetype validPrefixOfOutput(QByteArrayView bytes);
    // Where the last character of `bytes` (not empty) starts, looking back at most
    // kMaximumHeldBack - 1 bytes.
    static qsizetype lastCharacterStart(QByteArrayView bytes);

    struct Channel
    {
        QByteArray heldBack;
        TerminalTranscriptDecoder decoder;
    };

    // Decodes the character that the held-back bytes of `state` and the first of `bytes` make when
    // it is whole and well-formed, and returns the rest of `bytes`; otherwise returns `bytes` and
    // leaves everything as it was.
    QByteArrayView completeHeldBack(Channel &state, QByteArrayView bytes);

    void trim();

    std::map<quint8, Channel> m_channels;
    // The cursor on the last line, which both channels write to as to one screen.
    TerminalLine m_line;
    // The transcript is m_buffer from m_start on; the cut-off front is dropped only once it is a few
    // times as long as the cap, so that capping costs less than a copy per byte appended.
    QByteArray m_buffer;
    qsizetype m_start = 0;
    qint64 m_cut = 0;
};
