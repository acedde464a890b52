#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Turns terminal output into a plain transcript: control sequences (CSI, OSC, device control and
// the other control strings) and control characters are dropped, line ends become LF. It never
// moves a cursor or applies a carriage return as an overwrite. Its state survives between calls, so
// a sequence or a CR LF pair split across messages is still handled. A value: each copy evolves
// on its own.
class TerminalTranscriptDecoder
{
public:
    // Appends to `out` the visible text of `utf8`, which must be valid UTF-8 for the text to be
    // right (ill-formed input is read without harm). What is appended is never longer than `utf8`.
    // One pass, constant work per byte, no look-ahead. Returns false when `utf8` is known to be
    // well-formed: every byte past ASCII was in text, in characters checked on the way (true may
    // also be returned for well-formed input, for example for bytes past ASCII inside a sequence).
    bool append(QByteArrayView utf8, QByteArray &out);

    bool operator==(const TerminalTranscriptDecoder &) const = default;

private:
    enum class State {
        text,
        escape,              // after ESC
        csi,                 // after ESC "["
        osc,                 // after ESC "]"
        oscEscape,           // after ESC inside an OSC
        controlString,       // after ESC "P", "X", "^" or "_"
        controlStringEscape, // after ESC inside such a string
    };

    // Takes the bytes of a control sequence from `p` on, until the text state or `end`; returns
    // where it stopped.
    const unsigned char *consumeSequence(const unsigned char *p, const unsigned char *end, bool &unchecked);
    // Takes text, and the sequences within it, from `p` on until `end` or until a sequence goes on
    // past it; returns where it stopped.
    const unsigned char *takeText(const unsigned char *p, const unsigned char *end, char *&write, bool &unchecked);

    State m_state = State::text;
    // The last scalar taken in the text state was CR, so a following LF is not doubled.
    bool m_previousWasCR = false;
};
