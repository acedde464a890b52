#include "OutsideScreens.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace outsidescreens
{
namespace
{
QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool containsInOrder(const QStringList &haystack, const QStringList &needle)
{
    if (needle.isEmpty() || needle.size() > haystack.size())
        return false;
    for (qsizetype i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (std::equal(needle.begin(), needle.end(), haystack.begin() + i))
            return true;
    }
    return false;
}
} // namespace

std::vector<Screen> load(const QString &folder)
{
    std::vector<Screen> screens;
    const QDir dir(folder);
    for (const QString &file : dir.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name)) {
        Screen screen;
        screen.name = file.chopped(4);
        const QString base = screen.name.section(QLatin1Char('@'), 0, 0);
        QFile png(dir.filePath(file));
        if (!png.open(QIODevice::ReadOnly))
            continue;
        screen.png = png.readAll();
        screen.text = readText(dir.filePath(base + QStringLiteral(".txt")));
        screen.buttons = readText(dir.filePath(base + QStringLiteral(".buttons.txt")))
                             .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        screens.push_back(std::move(screen));
    }
    return screens;
}

bool ofDesktopProgram(const Screen &screen)
{
    return screen.name.startsWith(QStringLiteral("qt-")) || screen.name.startsWith(QStringLiteral("gtk-"));
}

QStringList words(const QString &text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    static const QRegularExpression edges(QStringLiteral("^\\p{P}+|\\p{P}+$"));
    QStringList out;
    for (QString piece : text.split(space, Qt::SkipEmptyParts)) {
        piece.remove(edges);
        if (!piece.isEmpty())
            out.append(piece.toLower());
    }
    return out;
}

Score &Score::operator+=(const Score &other)
{
    knownWords += other.knownWords;
    readWords += other.readWords;
    matchedWords += other.matchedWords;
    buttons += other.buttons;
    buttonsRead += other.buttonsRead;
    missedButtons += other.missedButtons;
    return *this;
}

Score score(const Screen &screen, const QStringList &lines)
{
    Score s;
    QHash<QString, int> known;
    for (const QString &word : words(screen.text)) {
        ++known[word];
        ++s.knownWords;
    }
    std::vector<QStringList> lineWords;
    for (const QString &line : lines) {
        lineWords.push_back(words(line));
        for (const QString &word : lineWords.back()) {
            ++s.readWords;
            if (auto it = known.find(word); it != known.end() && *it > 0) {
                --*it;
                ++s.matchedWords;
            }
        }
    }
    for (const QString &button : screen.buttons) {
        ++s.buttons;
        const QStringList label = words(button);
        if (std::any_of(lineWords.begin(), lineWords.end(),
                        [&](const QStringList &line) { return containsInOrder(line, label); }))
            ++s.buttonsRead;
        else
            s.missedButtons.append(screen.name + QStringLiteral(": ") + button);
    }
    return s;
}
} // namespace outsidescreens
