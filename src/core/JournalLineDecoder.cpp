#include "core/JournalLineDecoder.h"

#include "core/Json.h"
#include "core/Utf8.h"

#include <cstring>
#include <string>

namespace
{
struct Cursor
{
    const char *p;
    const char *end;

    void skipSpace()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }
    bool take(char c)
    {
        skipSpace();
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
    bool peek(char c)
    {
        skipSpace();
        return p < end && *p == c;
    }
};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool readHex4(Cursor &c, char32_t &out)
{
    if (c.end - c.p < 4)
        return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
        const int v = hexValue(c.p[i]);
        if (v < 0)
            return false;
        out = (out << 4) | char32_t(v);
    }
    c.p += 4;
    return true;
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// A JSON string at the cursor, as UTF-8 in `scratch` (or a view of the input when it holds no
// escape). False for anything the one-pass path leaves to the general parser.
bool readString(Cursor &c, std::string &scratch, std::string_view &value)
{
    if (!c.take('"'))
        return false;
    const char *start = c.p;
    bool ascii = true;
    // Fast scan up to the closing quote or the first escape.
    while (c.p < c.end) {
        const auto ch = static_cast<unsigned char>(*c.p);
        if (ch == '"' || ch == '\\' || ch < 0x20)
            break;
        ascii &= ch < 0x80;
        ++c.p;
    }
    if (c.p == c.end || static_cast<unsigned char>(*c.p) < 0x20)
        return false;
    if (*c.p == '"') {
        if (!ascii && !utf8::isWellFormed(std::string_view(start, size_t(c.p - start))))
            return false;
        value = std::string_view(start, size_t(c.p - start));
        ++c.p;
        return true;
    }
    scratch.assign(start, size_t(c.p - start));
    while (c.p < c.end) {
        const auto ch = static_cast<unsigned char>(*c.p);
        if (ch == '"') {
            ++c.p;
            if (!ascii && !utf8::isWellFormed(scratch))
                return false;
            value = scratch;
            return true;
        }
        if (ch < 0x20)
            return false;
        if (ch != '\\') {
            // A run of plain characters, appended at once.
            const char *run = c.p;
            while (c.p < c.end) {
                const auto r = static_cast<unsigned char>(*c.p);
                if (r == '"' || r == '\\' || r < 0x20)
                    break;
                ascii &= r < 0x80;
                ++c.p;
            }
            scratch.append(run, size_t(c.p - run));
            continue;
        }
        if (++c.p == c.end)
            return false;
        switch (*c.p++) {
        case '"':
            scratch += '"';
            break;
        case '\\':
            scratch += '\\';
            break;
        case '/':
            scratch += '/';
            break;
        case 'b':
            scratch += '\b';
            break;
        case 'f':
            scratch += '\f';
            break;
        case 'n':
            scratch += '\n';
            break;
        case 'r':
            scratch += '\r';
            break;
        case 't':
            scratch += '\t';
            break;
        case 'u': {
            char32_t cp;
            if (!readHex4(c, cp))
                return false;
            if (cp >= 0xDC00 && cp <= 0xDFFF)
                return false;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                char32_t low;
                if (c.end - c.p < 6 || c.p[0] != '\\' || c.p[1] != 'u')
                    return false;
                c.p += 2;
                if (!readHex4(c, low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            // Escaped text is valid by construction; only raw bytes need the check.
            appendUtf8(scratch, cp);
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

QString toQString(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

constexpr size_t kCacheEntries = 64;
constexpr size_t kCacheTextLimit = 64;
} // namespace

JournalLineDecoder::JournalLineDecoder()
{
    m_cache.reserve(kCacheEntries);
}

JournalLineDecoder::JournalLineDecoder(const QString &appID, const QString &tenantID) : JournalLineDecoder()
{
    m_cache.push_back({appID.toStdString(), appID, {}, {}});
    m_cache.push_back({tenantID.toStdString(), tenantID, {}, {}});
    m_next = m_cache.size();
}

JournalLineDecoder::Entry *JournalLineDecoder::entry(std::string_view utf8)
{
    if (utf8.size() > kCacheTextLimit)
        return nullptr;
    for (Entry &e : m_cache)
        if (e.utf8 == utf8)
            return &e;
    Entry fresh{std::string(utf8), toQString(utf8), {}, {}};
    if (m_cache.size() < kCacheEntries) {
        m_cache.push_back(std::move(fresh));
        return &m_cache.back();
    }
    // The first two entries, the configuration's ids, stay.
    Entry &slot = m_cache[m_next];
    slot = std::move(fresh);
    m_next = m_next + 1 < kCacheEntries ? m_next + 1 : std::min<size_t>(2, kCacheEntries - 1);
    return &slot;
}

QString JournalLineDecoder::shared(std::string_view utf8)
{
    const Entry *e = entry(utf8);
    return e ? e->text : toQString(utf8);
}

JournalLineDecoder::Outcome JournalLineDecoder::decodeSimple(std::string_view line, WorkspaceEvent &out)
{
    Cursor c{line.data(), line.data() + line.size()};
    std::string scratch;
    std::string keyScratch;
    std::string_view key, value;
    enum Seen : unsigned { Id = 1, Timestamp = 2, App = 4, Tenant = 8, Kind = 16, Payload = 32 };
    unsigned seen = 0;
    if (!c.take('{') || c.peek('}'))
        return Outcome::General;
    do {
        if (!readString(c, keyScratch, key) || !c.take(':'))
            return Outcome::General;
        if (key == "payload") {
            if (!c.take('{'))
                return Outcome::General;
            EventPayload payload;
            if (!c.take('}')) {
                do {
                    std::string_view k;
                    if (!readString(c, keyScratch, k))
                        return Outcome::General;
                    Entry *name = entry(k);
                    if (!c.take(':') || !readString(c, scratch, value))
                        return Outcome::General;
                    if (!name) {
                        payload.insert(toQString(k), toQString(value));
                        continue;
                    }
                    if (value.size() <= kCacheTextLimit && name->lastValue != value) {
                        name->lastValue.assign(value);
                        name->lastValueText = toQString(value);
                    }
                    payload.insert(name->text,
                                   value.size() <= kCacheTextLimit ? name->lastValueText : toQString(value));
                } while (c.take(','));
                if (!c.take('}'))
                    return Outcome::General;
            }
            out.payload = std::move(payload);
            seen |= Payload;
            continue;
        }
        if (!readString(c, scratch, value))
            return Outcome::General;
        if (key == "id") {
            out.id = toQString(value);
            seen |= Id;
        } else if (key == "timestamp") {
            if (value != m_lastTimestamp) {
                m_lastTimestamp.assign(value);
                m_lastTimestampText = toQString(value);
            }
            out.timestamp = m_lastTimestampText;
            seen |= Timestamp;
        } else if (key == "app_id") {
            out.appID = shared(value);
            seen |= App;
        } else if (key == "tenant_id") {
            out.tenantID = shared(value);
            seen |= Tenant;
        } else if (key == "kind") {
            out.kind = shared(value);
            seen |= Kind;
        }
    } while (c.take(','));
    if (!c.take('}'))
        return Outcome::General;
    c.skipSpace();
    if (c.p != c.end)
        return Outcome::General;
    return seen == (Id | Timestamp | App | Tenant | Kind | Payload) ? Outcome::Event : Outcome::NotRecord;
}

std::optional<WorkspaceEvent> JournalLineDecoder::decode(std::string_view line)
{
    WorkspaceEvent event;
    switch (decodeSimple(line, event)) {
    case Outcome::Event:
        return event;
    case Outcome::NotRecord:
        return std::nullopt;
    case Outcome::General:
        break;
    }
    const auto json = json::tryParse(line);
    if (!json)
        return std::nullopt;
    return WorkspaceEvent::decode(*json);
}
