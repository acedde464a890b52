#pragma once

#include "core/WorkspaceEvent.h"

#include <QLocale>
#include <QString>

#include <initializer_list>
#include <utility>

namespace livetest
{
// An event of `kind` with a text payload; ids count up so every event is distinct.
inline WorkspaceEvent event(const char *kind, std::initializer_list<std::pair<const char *, QString>> payload = {})
{
    static int next = 0;
    WorkspaceEvent e;
    e.id = QStringLiteral("event-%1").arg(++next);
    e.kind = QString::fromUtf8(kind);
    for (const auto &[key, value] : payload)
        e.payload.insert(QString::fromUtf8(key), value);
    return e;
}

inline QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

// Sets the default locale for one scope and puts the previous one back.
class LocaleScope
{
public:
    explicit LocaleScope(const char *name) : m_previous(QLocale())
    {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
    }
    ~LocaleScope() { QLocale::setDefault(m_previous); }
    LocaleScope(const LocaleScope &) = delete;
    LocaleScope &operator=(const LocaleScope &) = delete;

private:
    QLocale m_previous;
};
} // namespace livetest
