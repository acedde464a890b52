#include "live/StreamedObjectScan.h"

namespace
{
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
} // namespace

StreamedObjectScan::State StreamedObjectScan::feed(std::string_view bytes)
{
    static constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    for (const char c : bytes) {
        if (m_state == State::Never)
            break;
        const long long position = m_position++;
        if (m_state == State::Closed) {
            if (!isBlank(c))
                m_state = State::Never; // something after the object
            continue;
        }
        if (!m_started) {
            const auto byte = static_cast<unsigned char>(c);
            if (m_markBytes > 0 && m_markBytes < 3) { // inside a byte order mark: all of it or nothing
                if (byte != kByteOrderMark[m_markBytes])
                    m_state = State::Never;
                ++m_markBytes;
                continue;
            }
            if (position == 0 && byte == kByteOrderMark[0]) {
                m_markBytes = 1;
                continue;
            }
            if (isBlank(c))
                continue;
            if (c != '{') {
                m_state = State::Never;
                continue;
            }
            m_started = true;
            m_depth = 1;
            continue;
        }
        if (m_inString) {
            if (m_escaped)
                m_escaped = false;
            else if (c == '\\')
                m_escaped = true;
            else if (c == '"')
                m_inString = false;
            continue;
        }
        switch (c) {
        case '"':
            m_inString = true;
            break;
        case '{':
        case '[':
            ++m_depth;
            break;
        case '}':
        case ']':
            if (--m_depth == 0)
                m_state = State::Closed;
            break;
        default:
            break;
        }
    }
    return m_state;
}
