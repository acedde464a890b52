#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Screens the project did not draw (web-app pages rendered by a browser at 1x and 2x, light and
// dark; desktop programs under X at 1x, light and dark), each with the text it shows, to measure
// how well recognition reads other people's UIs. A screen "name@2x.png" comes with "name.txt" (its
// visible text, one element per line) and "name.buttons.txt" (its button labels, one per line);
// outside/render.sh remakes them. Screens of desktop programs are named after their toolkit
// ("qt-...", "gtk-...").
namespace outsidescreens
{
struct Screen
{
    QString name; // file name without ".png"
    QByteArray png;
    QString text;
    QStringList buttons;
};

// Every screen of `folder`, sorted by name. Empty when the folder holds none.
std::vector<Screen> load(const QString &folder);

bool ofDesktopProgram(const Screen &screen);

// The words of a text as they are compared: split at white space, punctuation trimmed from both
// ends, lower-cased; pieces that were only punctuation are dropped.
QStringList words(const QString &text);

struct Score
{
    int knownWords = 0;
    int readWords = 0;
    int matchedWords = 0; // each known word matches at most one read word
    int buttons = 0;
    int buttonsRead = 0; // the label's words in order inside one recognised line
    QStringList missedButtons;

    double recall() const { return knownWords ? double(matchedWords) / knownWords : 0; }
    double precision() const { return readWords ? double(matchedWords) / readWords : 0; }
    Score &operator+=(const Score &other);
};

// `lines` are what recognition read, one text line each.
Score score(const Screen &screen, const QStringList &lines);
} // namespace outsidescreens
