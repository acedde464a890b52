#pragma once

#include <QString>

// How an agent id is named to the user: the platform's "tavrilo_" prefix removed wherever it
// occurs, and for display each word capitalised.
namespace agentnames
{
// The id without any "tavrilo_": what accessibility labels name.
QString shortName(const QString &agentID);

// Each word of `text` with its first user-perceived character upper case and the rest lower case;
// words are delimited by spaces, tabs and line ends only, which are kept. Case mappings may change a
// text's length ("ß" becomes "SS"), so each piece is mapped as a text of its own, never in place.
QString capitalisedWords(const QString &text);

// The short name with each word capitalised.
QString displayName(const QString &agentID);
} // namespace agentnames
