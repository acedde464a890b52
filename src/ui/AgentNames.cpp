#include "ui/AgentNames.h"

#include "core/GraphemeText.h"

namespace agentnames
{
namespace
{
bool delimits(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

QString capitalised(QStringView word)
{
    const std::vector<qsizetype> bounds = graphemes::boundaries(word);
    if (bounds.empty())
        return {};
    const qsizetype head = bounds.front();
    return word.left(head).toString().toUpper() + word.mid(head).toString().toLower();
}
} // namespace

QString shortName(const QString &agentID)
{
    QString name = agentID;
    return name.remove(QStringLiteral("tavrilo_"));
}

QString displayName(const QString &agentID)
{
    return capitalisedWords(shortName(agentID));
}

QString capitalisedWords(const QString &name)
{
    QString shown;
    shown.reserve(name.size());
    qsizetype start = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !delimits(name[i]))
            continue;
        shown += capitalised(QStringView(name).mid(start, i - start));
        if (i < name.size())
            shown += name[i];
        start = i + 1;
    }
    return shown;
}
} // namespace agentnames
