#include "headless/HeadlessExportOptions.h"

#include "core/HubError.h"

#include <QDir>

#include <charconv>
#include <cmath>
#include <system_error>

namespace
{
const QString kDumpFrames = QStringLiteral("--dump-frames");
const QString kOutput = QStringLiteral("--output");

bool isOption(const QString &argument)
{
    return argument.startsWith(QLatin1String("--"));
}

// The text after one leading '+', which std::from_chars does not take; a second sign stays and is
// refused by the parser.
std::string unsigned_(const QString &text)
{
    std::string bytes = text.toStdString();
    if (!bytes.empty() && bytes.front() == '+' && bytes.size() > 1 && bytes[1] != '-' && bytes[1] != '+')
        bytes.erase(0, 1);
    return bytes;
}

template <typename T, typename... Format> std::optional<T> whole(const QString &text, Format... format)
{
    const std::string bytes = unsigned_(text);
    if (bytes.empty())
        return std::nullopt;
    T value{};
    const char *end = bytes.data() + bytes.size();
    const auto [stop, error] = std::from_chars(bytes.data(), end, value, format...);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}
} // namespace

namespace headlessnumbers
{
std::optional<int> wholeNumber(const QString &text)
{
    return whole<int>(text);
}

std::optional<double> decimal(const QString &text)
{
    return whole<double>(text, std::chars_format::general);
}
} // namespace headlessnumbers

std::optional<QString> HeadlessExportOptions::argument(const QString &option, const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(option, 1);
    if (at < 0)
        return std::nullopt;
    if (at + 1 >= arguments.size() || isOption(arguments[at + 1]))
        throw HubError(QStringLiteral("Missing value for ") + option);
    return arguments[at + 1];
}

HeadlessExportOptions HeadlessExportOptions::parse(const QStringList &arguments)
{
    HeadlessExportOptions options;
    options.profile = argument(QStringLiteral("--live-profile"), arguments);
    options.session = argument(QStringLiteral("--live-session"), arguments);
    options.document = argument(QStringLiteral("--capture-document"), arguments);
    const std::optional<QString> tools = argument(QStringLiteral("--capture-tools"), arguments);

    const QString toolsRefused = QStringLiteral("Capture tools require an authenticated existing session.");
    for (const QString &tool : tools.value_or(QString()).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (tool != QLatin1String("browser") && tool != QLatin1String("shell"))
            throw HubError(toolsRefused);
        options.tools.insert(tool);
    }
    if (tools && (options.tools.isEmpty() || !options.session || !options.profile))
        throw HubError(toolsRefused);

    options.waitText = argument(QStringLiteral("--capture-seconds"), arguments);

    if (const auto count = argument(QStringLiteral("--capture-specialists"), arguments)) {
        const std::optional<int> n = headlessnumbers::wholeNumber(*count);
        if (!n || *n < 1 || *n > 5 || !options.session)
            throw HubError(
                QStringLiteral("A specialist capture requires an observed live session and a count from 1 to 5."));
        options.specialists = n;
    }

    if (const auto fd = argument(QStringLiteral("--capture-session-fd"), arguments)) {
        const std::optional<int> n = headlessnumbers::wholeNumber(*fd);
        if (!n || !arguments.mid(1).contains(kDumpFrames) || !options.profile || *n < 3)
            throw HubError(QStringLiteral("--capture-session-fd requires --dump-frames, --live-profile and a private "
                                          "descriptor numbered at least 3."));
        options.descriptor = n;
    }

    if (!options.profile && (options.session || options.waitText))
        throw HubError(QStringLiteral("Live session capture requires --live-profile <existing-project-directory>."));

    if (options.waitText) {
        const std::optional<double> wait = headlessnumbers::decimal(*options.waitText);
        if (!wait || !std::isfinite(*wait) || *wait < 0 || *wait > 300)
            throw HubError(QStringLiteral("Capture wait must be between 0 and 300 seconds."));
        options.waitSeconds = *wait;
    } else {
        options.waitSeconds = options.specialists ? 120 : options.session ? 2 : 0;
    }
    options.output = outputFolder(arguments);
    options.nativeHierarchy = arguments.mid(1).contains(QStringLiteral("--capture-native-hierarchy"));
    return options;
}

std::optional<QString> HeadlessExportOptions::outputFolder(const QStringList &arguments)
{
    // "--output" without a folder after it is refused rather than taken as a folder named after the
    // next option, or replaced by the default folder without a word.
    std::optional<QString> chosen = argument(kOutput, arguments);
    if (chosen && chosen->isEmpty())
        throw HubError(QStringLiteral("Missing value for ") + kOutput);
    if (!chosen) {
        const qsizetype at = arguments.indexOf(kDumpFrames, 1);
        if (at >= 0 && at + 1 < arguments.size() && !isOption(arguments[at + 1]) && !arguments[at + 1].isEmpty())
            chosen = arguments[at + 1];
    }
    if (!chosen)
        return std::nullopt;
    return QDir::current().absoluteFilePath(*chosen);
}
