#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Where the cursor stands on the last line of a transcript: the line is the last `length` bytes of
// the text, the cursor `afterCursor` bytes before its end. The output channels of one terminal
// share one, as they share one screen.
struct TerminalLine
{
    qsizetype length = 0;
    qsizetype afterCursor = 0;

    bool operator==(const TerminalLine &) const = default;
};

// Turns terminal output into a plain transcript that reads as the terminal showed it, without being
// a terminal: control sequences (CSI, OSC, device control and the other control strings, character
// set designations) and control characters leave nothing, and the cursor moves on the last line
// only. A carriage return goes back to the start of the line and what follows overwrites it, a
// backspace moves back one character; erase in line, delete character and the cursor's moves along
// the line are applied; a line feed ends the line. No screen, no scroll regions, no width: a long
// line stays one line. Its state survives between calls, so a sequence split across messages is
// still handled. A value: each copy evolves on its own.
class TerminalTranscriptDecoder
{
public:
    // Applies `utf8`, which must be valid UTF-8 for the text to be right (ill-formed input is read
    // without harm), to `out`, whose last line and cursor `line` describes; `out` grows by at most
    // `utf8`'s size. One pass, constant work per byte but for the line edits, which move the rest
    // of the line only. Returns false when `utf8` is known to be well-formed: every byte past ASCII
    // was in text, in characters checked on the way (true may also be returned for well-formed
    // input, for example for bytes past ASCII inside a sequence).
    bool append(QByteArrayView utf8, QByteArray &out, TerminalLine &line);
    // The same, with a line of the decoder's own: for a text that only this decoder writes.
    bool append(QByteArrayView utf8, QByteArray &out) { return append(utf8, out, m_line); }

    bool operator==(const TerminalTranscriptDecoder &) const = default;

    // Where the text is written during one append: the last line from `lineStart` to `end`, the
    // cursor at `at`.
    struct Cursor
    {
        char *lineStart;
        char *at;
        char *end;
    };

private:
    enum class State {
        text,
        escape,              // after ESC
        escapeIntermediate,  // after ESC and an intermediate byte ("(", ")", "#", ...)
        csi,                 // after ESC "["
        osc,                 // after ESC "]"
        oscEscape,           // after ESC inside an OSC
        controlString,       // after ESC "P", "X", "^" or "_"
        controlStringEscape, // after ESC inside such a string
    };

    // Takes the bytes of a control sequence from `p` on, until the text state or `end`; returns
    // where it stopped.
    const unsigned char *consumeSequence(const unsigned char *p, const unsigned char *end, Cursor &cursor,
                                         bool &unchecked);
    // Takes text, and the sequences within it, from `p` on until `end` or until a sequence goes on
    // past it; returns where it stopped.
    const unsigned char *takeText(const unsigned char *p, const unsigned char *end, Cursor &cursor, bool &unchecked);
    // Applies the control sequence that ended with `final`.
    void applyControlSequence(unsigned char final, Cursor &cursor) const;

    State m_state = State::text;
    // The first parameter of the control sequence being read (-1: none yet), and whether it is
    // private or has intermediates, which the decoder leaves alone.
    int m_parameter = -1;
    bool m_privateSequence = false;
    bool m_firstParameterDone = false;
    TerminalLine m_line;
};
