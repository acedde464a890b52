#pragma once

#include <string_view>

// Follows a JSON text that grows piece by piece and tells, in time proportional to each piece,
// whether the text so far could be one whole JSON object: it starts with "{" (after an optional
// byte order mark and white space), its braces and brackets outside strings balance exactly at
// its end, and only white space follows. Only such a text is worth handing to the parser.
class StreamedObjectScan
{
public:
    enum class State {
        Open,   // not a whole object yet; later pieces may make it one
        Closed, // the outermost value ended and only white space followed: parse to know
        Never,  // no continuation can make this text a JSON object
    };

    State feed(std::string_view bytes);
    State state() const { return m_state; }

private:
    State m_state = State::Open;
    long long m_position = 0; // bytes seen, for the byte order mark at the very start
    int m_markBytes = 0;      // bytes of that mark seen
    bool m_started = false;   // the opening brace was seen
    long long m_depth = 0;
    bool m_inString = false;
    bool m_escaped = false;
};
