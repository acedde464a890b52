#pragma once

#include <QCoroTask>
#include <QMap>
#include <QString>

// Reading a document the user opens as working material: a PDF's text (Qt PDF) or a UTF-8 text file,
// below 10 MB.
namespace documentopening
{
struct Opened
{
    QString path;
    QString text;
};

// The document's text. Throws "Choose a document smaller than 10 MB." (not a regular file, or
// 10,000,000 bytes and more), "This PDF could not be opened." (a ".pdf" name that no PDF reader
// opens, or one without pages) or the system's sentence. Blocking.
Opened read(const QString &path);
// The same, off the calling thread.
QCoro::Task<Opened> readDetached(QString path);
// The "document.opened" record: the path and the text's length in user-perceived characters.
QMap<QString, QString> openedPayload(const Opened &document);
} // namespace documentopening
