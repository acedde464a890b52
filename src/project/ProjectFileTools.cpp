#include "project/ProjectFileTools.h"

#include "core/GraphemeText.h"
#include "core/HubError.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace projectfiles
{
namespace
{
constexpr qint64 kMaxLines = 2000;
constexpr qsizetype kMaxLineCharacters = 2000;
constexpr qint64 kMaxDepth = 4;

std::optional<bool> boolean(const Json &object, const char *key)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_boolean())
        return std::nullopt;
    return found->get<bool>();
}

qint64 clamped(std::optional<qint64> value, qint64 fallback, qint64 low, qint64 high)
{
    return std::clamp(value.value_or(fallback), low, high);
}

struct Entry
{
    QByteArray name;
    unsigned char type;
};

// A depth-first walk over descriptors: each folder is opened from its parent's descriptor without
// following a link, so the walk never leaves the folder it started in.
class Listing
{
public:
    Listing(const ProjectRoot &root, qint64 depth) : m_root(root), m_depth(depth) {}

    void visit(int directory, const QString &relativeDirectory, qint64 level)
    {
        DIR *stream = ::fdopendir(directory);
        if (!stream) {
            ::close(directory);
            return;
        }
        std::vector<Entry> entries;
        while (dirent *entry = ::readdir(stream)) {
            if (entry->d_name[0] == '.')
                continue;
            entries.push_back({QByteArray(entry->d_name), entry->d_type});
        }
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
        for (Entry &entry : entries) {
            if (m_full)
                break;
            if (entry.type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(::dirfd(stream), entry.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                entry.type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            }
            const QString name = QString::fromUtf8(entry.name);
            const QString relative = relativeDirectory.isEmpty() ? name : relativeDirectory + u'/' + name;
            if (!accepted(name, relative, relativeDirectory.isEmpty(), entry.type == DT_LNK))
                continue;
            m_entries.append(relative);
            if (m_entries.size() >= kListLimit) {
                m_full = true;
                break;
            }
            if (entry.type == DT_DIR && level < m_depth) {
                const int child =
                    ::openat(::dirfd(stream), entry.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child >= 0)
                    visit(child, relative, level + 1);
            }
        }
        ::closedir(stream);
    }

    QStringList take()
    {
        if (m_full)
            m_entries.append(QStringLiteral("[%1-entry limit]").arg(kListLimit));
        return std::move(m_entries);
    }

private:
    // The path guard in read mode. The folder's own path passed it already, and below a folder that
    // was reached without links a name that is no link resolves to itself: its text decides. A
    // link is resolved in full.
    bool accepted(const QString &name, const QString &relative, bool first, bool link) const
    {
        if (!link)
            return !ProjectRoot::refusedName(name, first, false);
        try {
            (void)m_root.inside(relative, false);
            return true;
        } catch (const HubError &) {
            return false;
        }
    }

    const ProjectRoot &m_root;
    qint64 m_depth;
    QStringList m_entries;
    bool m_full = false;
};

const QString kTooLarge = QStringLiteral("Write exceeds 2 MiB.");

qsizetype countOccurrences(const QString &text, const QString &needle)
{
    qsizetype count = 0;
    for (qsizetype at = text.indexOf(needle); at >= 0; at = text.indexOf(needle, at + needle.size()))
        ++count;
    return count;
}
} // namespace

ProjectToolResult readLines(const ProjectRoot &root, const ProjectLocation &location, const Json &input)
{
    const QString text = root.read(location, kMaximum);
    const std::optional<qint64> offset = json::integer(input, "offset");
    const qint64 start = offset && *offset > 1 ? *offset - 1 : 0;
    const qint64 count = clamped(json::integer(input, "limit"), kMaxLines, 1, kMaxLines);

    QString out;
    qint64 index = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype newline = text.indexOf(u'\n', from);
        const qsizetype end = newline < 0 ? text.size() : newline;
        if (index >= start) {
            if (index >= start + count)
                break;
            if (index > start)
                out += u'\n';
            const QStringView line = QStringView(text).mid(from, end - from);
            out += QString::number(index + 1);
            out += QLatin1String(": ");
            // A line of at most that many code units has at most that many characters.
            out += line.size() <= kMaxLineCharacters ? line.toString() : graphemes::first(line, kMaxLineCharacters);
        }
        if (newline < 0)
            break;
        from = newline + 1;
        ++index;
    }
    return {out, {}};
}

ProjectToolResult list(const ProjectRoot &root, const ProjectLocation &location, const Json &input)
{
    const qint64 depth = clamped(json::integer(input, "depth"), 1, 1, kMaxDepth);
    const QString failure = QStringLiteral("Cannot list project directory.");
    Listing listing(root, depth);
    listing.visit(root.openDirectory(location, failure), location.relative, 1);
    QStringList entries = listing.take();
    std::vector<std::pair<QByteArray, qsizetype>> keys;
    keys.reserve(size_t(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        keys.emplace_back(entries[i].toUtf8(), i);
    // Ordinary string order: by Unicode scalar values, which UTF-8 bytes compare in.
    std::sort(keys.begin(), keys.end());
    QString out;
    for (const auto &[key, index] : keys) {
        if (!out.isEmpty())
            out += u'\n';
        out += entries[index];
    }
    return {out, {}};
}

ProjectToolResult write(const ProjectRoot &root, const ProjectLocation &location, const QString &sentPath,
                        const Json &input, bool edit, ProjectOriginals &originals)
{
    const std::optional<struct stat> before = root.status(location);
    const bool exists = before.has_value();
    const QString old = exists ? root.read(location, kMaximum) : QString();

    QString next;
    if (!edit) {
        const std::optional<QString> content = json::string(input, "content");
        if (!content)
            throw HubError(QStringLiteral("Write requires content text."));
        next = boolean(input, "append").value_or(false) ? old + *content : *content;
    } else {
        const std::optional<QString> oldText = json::string(input, "old_text");
        const std::optional<QString> newText = json::string(input, "new_text");
        if (!exists || !oldText || oldText->isEmpty() || !newText)
            throw HubError(QStringLiteral("Edit requires an existing file, old_text and new_text."));
        const qsizetype occurrences = countOccurrences(old, *oldText);
        const bool replaceAll = boolean(input, "replace_all").value_or(false);
        if (occurrences == 0 || (occurrences > 1 && !replaceAll))
            throw HubError(QStringLiteral("Edit text was absent or ambiguous."));
        // The size of the result, before any of it is built: a replacement many times longer
        // than what it replaces, everywhere in a large file, would take gigabytes to refuse.
        const qsizetype replaced = replaceAll ? occurrences : 1;
        const qint64 size = graphemes::utf8Length(old) +
                            qint64(replaced) * (graphemes::utf8Length(*newText) - graphemes::utf8Length(*oldText));
        if (size > kMaximum)
            throw HubError(kTooLarge);
        next = old;
        if (occurrences == 1)
            next.replace(next.indexOf(*oldText), oldText->size(), *newText);
        else
            next.replace(*oldText, *newText);
    }

    const QByteArray bytes = next.toUtf8();
    if (bytes.size() > kMaximum)
        throw HubError(kTooLarge);
    if (exists && next == old)
        return {QStringLiteral("Unchanged ") + sentPath, {}};

    const int permissions = exists ? int(before->st_mode & 07777) : 0644;
    const bool known = originals.contains(location.relative);
    if (!known) {
        qint64 held = graphemes::utf8Length(old);
        for (const ProjectOriginal &original : std::as_const(originals))
            held += graphemes::utf8Length(original.text);
        if (held > kBaselineCapacity)
            throw HubError(
                QStringLiteral("Verification baseline capacity reached; changes require complete original evidence."));
    }
    root.createParents(location);
    root.replace(location, bytes, exists ? std::optional<mode_t>(mode_t(permissions)) : std::nullopt);
    if (!known)
        originals.insert(location.relative, ProjectOriginal{exists, old, permissions});
    return {QStringLiteral("Updated ") + sentPath + QStringLiteral(" (") + QString::number(bytes.size()) +
                QStringLiteral(" bytes)."),
            {sentPath}};
}
} // namespace projectfiles
