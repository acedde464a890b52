#include "project/DocumentOpening.h"

#include "core/GraphemeText.h"
#include "core/HubError.h"
#include "platform/ChildProcess.h"
#include "project/Detached.h"
#include "project/ProjectRoot.h"

#include <QFileInfo>
#include <QPdfDocument>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace documentopening
{
namespace
{
constexpr qint64 kLimit = 10000000;

HubError systemError(const QString &path, int error)
{
    return HubError(QStringLiteral("The file \u201C") + QFileInfo(path).fileName() +
                    QStringLiteral("\u201D couldn\u2019t be opened: ") + QString::fromLocal8Bit(std::strerror(error)) +
                    u'.');
}

QString pdfText(const QString &path)
{
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
        throw HubError(QStringLiteral("This PDF could not be opened."));
    QStringList pages;
    for (int page = 0; page < document.pageCount(); ++page)
        pages.append(document.getAllText(page).text());
    QString text = pages.join(u'\n');
    return text.trimmed().isEmpty() ? QString() : text;
}
} // namespace

Opened read(const QString &path)
{
    const QByteArray native = path.toUtf8();
    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        throw systemError(path, errno);
    if (!S_ISREG(st.st_mode) || st.st_size >= kLimit)
        throw HubError(QStringLiteral("Choose a document smaller than 10 MB."));
    if (QFileInfo(path).suffix().toLower() == u"pdf")
        return {path, pdfText(path)};

    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw systemError(path, errno);
    QByteArray bytes;
    bytes.reserve(qsizetype(st.st_size));
    char piece[65536];
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw systemError(path, error);
        }
        if (n == 0)
            break;
        bytes.append(piece, qsizetype(n));
        // Grown past the limit since it was measured.
        if (bytes.size() >= kLimit) {
            ::close(fd);
            throw HubError(QStringLiteral("Choose a document smaller than 10 MB."));
        }
    }
    ::close(fd);
    if (!ProjectRoot::isUtf8(bytes))
        throw HubError(QStringLiteral("The file \u201C") + QFileInfo(path).fileName() +
                       QStringLiteral("\u201D couldn\u2019t be opened because it isn\u2019t UTF-8 text."));
    return {path, utf8text::decode(bytes)};
}

QCoro::Task<Opened> readDetached(QString path)
{
    auto work = [path] { return read(path); };
    co_return co_await detached(std::move(work));
}

QMap<QString, QString> openedPayload(const Opened &document)
{
    return {{QStringLiteral("path"), document.path},
            {QStringLiteral("characters"), QString::number(graphemes::count(document.text))}};
}
} // namespace documentopening
