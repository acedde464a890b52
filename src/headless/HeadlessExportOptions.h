#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// What the headless export is asked to do, read from its command line alone (no environment, no
// file). Every check runs before anything is started, so a refusal needs no clean-up.
struct HeadlessExportOptions
{
    std::optional<QString> profile;  // --live-profile
    std::optional<QString> session;  // --live-session
    std::optional<QString> document; // --capture-document
    QSet<QString> tools;             // --capture-tools: "browser", "shell"
    std::optional<int> specialists;  // --capture-specialists, 1 to 5
    std::optional<int> descriptor;   // --capture-session-fd, at least 3
    double waitSeconds = 0;          // 0 to 300
    std::optional<QString> waitText; // the raw --capture-seconds
    bool nativeHierarchy = false;    // --capture-native-hierarchy
    std::optional<QString> output;   // absolute; nothing for the default folder

    // The value of `option` in `arguments` (executable first): the argument after its first
    // occurrence, taken as it stands; nothing when the option is absent. Throws HubError "Missing
    // value for <option>" when it is last or followed by another option ("--" prefix).
    static std::optional<QString> argument(const QString &option, const QStringList &arguments);

    // The checks in their fixed order, the output folder last; throws the first refusal as HubError.
    static HeadlessExportOptions parse(const QStringList &arguments);

    // The folder named on the command line, resolved against the current directory: the argument
    // after "--output", else the one after "--dump-frames" unless it is an option; nothing when
    // neither names one (the export then uses its private default folder). Throws "Missing value
    // for --output" when "--output" is last, followed by an option or by an empty argument.
    static std::optional<QString> outputFolder(const QStringList &arguments);
};

// The number grammars of the options, kept apart so they can be read as a table.
namespace headlessnumbers
{
// An optional sign and decimal digits, nothing else, within a 32-bit signed integer.
std::optional<int> wholeNumber(const QString &text);
// Decimal or exponent notation with an optional sign (no hexadecimal, no spaces); "inf" and "nan"
// read as such so that the range check refuses them.
std::optional<double> decimal(const QString &text);
} // namespace headlessnumbers
