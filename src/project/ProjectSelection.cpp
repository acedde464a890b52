#include "project/ProjectSelection.h"

#include "core/HubError.h"
#include "project/ProjectRoot.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>

namespace projectselection
{
std::optional<DirectoryIdentity> directoryIdentity(const QString &path)
{
    struct stat st;
    if (::stat(path.toUtf8().constData(), &st) != 0)
        throw ProjectRoot::systemError(errno);
    if (!S_ISDIR(st.st_mode))
        return std::nullopt;
    return DirectoryIdentity{st.st_dev, st.st_ino};
}

QString resolved(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // The longest existing head is resolved; what follows it does not exist and stays as written.
    QString head = absolute;
    QString tail;
    while (!head.isEmpty() && head != u"/") {
        const QString canonical = QFileInfo(head).canonicalFilePath();
        if (!canonical.isEmpty())
            return QDir::cleanPath(canonical + tail);
        const qsizetype slash = head.lastIndexOf(u'/');
        tail = head.mid(slash) + tail;
        head = head.left(slash);
    }
    return QDir::cleanPath(QStringLiteral("/") + tail);
}

bool strictlyInside(const QString &parent, const QString &child)
{
    const QString prefix = parent == u"/" ? parent : parent + u'/';
    return child != parent && child.startsWith(prefix);
}

std::optional<QUrl> repositoryAddress(const QString &typed)
{
    const QString text = typed.trimmed();
    const QUrl url(text, QUrl::StrictMode);
    // The scheme exactly as typed: QUrl lower-cases it.
    if (!url.isValid() || !text.startsWith(QLatin1String("https:")) || url.host().isEmpty())
        return std::nullopt;
    const QString authority = url.authority(QUrl::FullyEncoded);
    if (authority.contains(u'@') || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    return url;
}
} // namespace projectselection
