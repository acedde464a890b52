#include "headless/HeadlessExportOptions.h"

#include "core/HubError.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace
{
const QString kMissing = QStringLiteral("Missing value for ");
const QString kTools = QStringLiteral("Capture tools require an authenticated existing session.");
const QString kSpecialists =
    QStringLiteral("A specialist capture requires an observed live session and a count from 1 to 5.");
const QString kDescriptor = QStringLiteral(
    "--capture-session-fd requires --dump-frames, --live-profile and a private descriptor numbered at least 3.");
const QString kProfile = QStringLiteral("Live session capture requires --live-profile <existing-project-directory>.");
const QString kWait = QStringLiteral("Capture wait must be between 0 and 300 seconds.");

QStringList command(const QString &arguments)
{
    return QStringList{QStringLiteral("tavrilo-hub")} + arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

std::optional<QString> refusal(const QStringList &arguments)
{
    try {
        HeadlessExportOptions::parse(arguments);
    } catch (const HubError &error) {
        return error.description();
    }
    return std::nullopt;
}

struct Refusal
{
    const char *arguments;
    QString sentence; // empty: accepted
};

// Each check with what it refuses, and where two checks could both refuse, the earlier one's
// sentence: the order of the checks is what a user reads first.
TEST(HeadlessExportOptions, RefusesInTheirOrderWithTheirSentences)
{
    const Refusal cases[] = {
        {"--dump-frames", {}},
        {"--dump-frames --live-profile", kMissing + "--live-profile"},
        {"--dump-frames --live-session", kMissing + "--live-session"},
        {"--dump-frames --capture-document --capture-tools shell", kMissing + "--capture-document"},
        {"--dump-frames --capture-tools --live-session s", kMissing + "--capture-tools"},
        // Tools: a set of two, case-sensitive, never empty, and only with a session and a profile,
        // before the live-profile check.
        {"--live-profile p --live-session s --capture-tools browser,shell,shell", {}},
        {"--live-profile p --live-session s --capture-tools Browser", kTools},
        {"--live-profile p --live-session s --capture-tools browser,gpu", kTools},
        {"--live-profile p --live-session s --capture-tools ,", kTools},
        {"--live-profile p --capture-tools browser", kTools},
        {"--live-session s --capture-tools browser", kTools},
        {"--live-session s --capture-tools browser --capture-seconds", kTools},
        {"--dump-frames --capture-seconds", kMissing + "--capture-seconds"},
        {"--capture-seconds 5 --capture-specialists", kMissing + "--capture-specialists"},
        // Specialists.
        {"--live-profile p --live-session s --capture-specialists 5", {}},
        {"--live-profile p --live-session s --capture-specialists 0", kSpecialists},
        {"--live-profile p --live-session s --capture-specialists 6", kSpecialists},
        {"--live-profile p --live-session s --capture-specialists two", kSpecialists},
        {"--live-profile p --capture-specialists 3", kSpecialists},
        {"--capture-specialists 3 --capture-session-fd", kSpecialists},
        // Descriptor.
        {"--dump-frames --live-profile p --capture-session-fd 3", {}},
        {"--dump-frames --live-profile p --capture-session-fd 2", kDescriptor},
        {"--live-profile p --capture-session-fd 3", kDescriptor},
        {"--dump-frames --capture-session-fd 3", kDescriptor},
        {"--dump-frames --live-profile p --capture-session-fd 2147483648", kDescriptor},
        {"--capture-session-fd 2 --live-session s", kDescriptor},
        // Live profile.
        {"--dump-frames --live-session s", kProfile},
        {"--dump-frames --capture-seconds 5", kProfile},
        {"--dump-frames --capture-seconds soon", kProfile},
        // Wait.
        {"--live-profile p --capture-seconds 300", {}},
        {"--live-profile p --capture-seconds 0", {}},
        {"--live-profile p --capture-seconds 300.5", kWait},
        {"--live-profile p --capture-seconds -1", kWait},
        {"--live-profile p --capture-seconds inf", kWait},
        {"--live-profile p --capture-seconds soon", kWait},
        // The output folder is checked last.
        {"--dump-frames --output", kMissing + "--output"},
        {"--dump-frames --output --live-profile p", kMissing + "--output"},
        {"--dump-frames --output --live-session s", kProfile},
    };
    for (const Refusal &c : cases) {
        const std::optional<QString> got = refusal(command(QString::fromLatin1(c.arguments)));
        if (c.sentence.isEmpty())
            EXPECT_EQ(got, std::nullopt) << c.arguments;
        else
            EXPECT_EQ(got, std::optional(c.sentence)) << c.arguments;
    }
}

TEST(HeadlessExportOptions, ArgumentTakesTheValueAfterTheFirstOccurrenceAsItStands)
{
    const QStringList list{"hub", "--live-session", "", "--live-session", "second", "--capture-tools", " shell"};
    EXPECT_EQ(HeadlessExportOptions::argument("--live-session", list), std::optional(QString()));
    EXPECT_EQ(HeadlessExportOptions::argument("--capture-tools", list), std::optional(QString(" shell")));
    EXPECT_EQ(HeadlessExportOptions::argument("--live-profile", list), std::nullopt);
    // The executable's own name is no option, even when it looks like one.
    EXPECT_EQ(HeadlessExportOptions::argument("--live-profile", {"--live-profile", "x"}), std::nullopt);
}

TEST(HeadlessExportOptions, DefaultWaitFollowsWhatIsObserved)
{
    struct Case
    {
        const char *arguments;
        double wait;
    };
    const Case cases[] = {
        {"--dump-frames", 0},
        {"--live-profile p", 0},
        {"--live-profile p --live-session s", 2},
        {"--live-profile p --live-session s --capture-specialists 1", 120},
        {"--live-profile p --live-session s --capture-specialists 1 --capture-seconds 7.5", 7.5},
    };
    for (const Case &c : cases)
        EXPECT_EQ(HeadlessExportOptions::parse(command(QString::fromLatin1(c.arguments))).waitSeconds, c.wait)
            << c.arguments;
    const auto options = HeadlessExportOptions::parse(command(
        "--dump-frames --live-profile p --live-session s --capture-tools shell,browser --capture-session-fd 9"));
    EXPECT_EQ(options.tools, (QSet<QString>{"browser", "shell"}));
    EXPECT_EQ(options.descriptor, std::optional(9));
    EXPECT_EQ(options.profile, std::optional(QString("p")));
}

// The grammar chosen for the numbers of the command line: decimal only, one optional sign, nothing
// around them.
TEST(HeadlessExportOptions, NumberGrammar)
{
    struct Whole
    {
        const char *text;
        std::optional<int> want;
    };
    const Whole whole[] = {{"5", 5},
                           {"+5", 5},
                           {"-3", -3},
                           {"007", 7},
                           {" 7", {}},
                           {"7 ", {}},
                           {"0x10", {}},
                           {"5.0", {}},
                           {"", {}},
                           {"+", {}},
                           {"+-5", {}},
                           {"++5", {}},
                           {"2147483647", 2147483647},
                           {"2147483648", {}},
                           {"-2147483648", -2147483647 - 1},
                           {"٣", {}}};
    for (const Whole &c : whole)
        EXPECT_EQ(headlessnumbers::wholeNumber(QString::fromUtf8(c.text)), c.want) << '"' << c.text << '"';

    struct Decimal
    {
        const char *text;
        std::optional<double> want;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Decimal decimal[] = {{"5", 5},   {"+5", 5},    {"2.5", 2.5}, {".5", 0.5}, {"5.", 5},     {"1e2", 100},
                               {"-1", -1}, {"inf", inf}, {" 7", {}},   {"7 ", {}},  {"0x1p3", {}}, {"1e400", {}},
                               {"", {}},   {"five", {}}, {"1,5", {}},  {"+-1", {}}};
    for (const Decimal &c : decimal)
        EXPECT_EQ(headlessnumbers::decimal(QString::fromUtf8(c.text)), c.want) << '"' << c.text << '"';
    const std::optional<double> nan = headlessnumbers::decimal("nan");
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
}

TEST(HeadlessExportOptions, OutputFolder)
{
    struct Case
    {
        const char *arguments;
        std::optional<QString> want; // relative to the current folder; nothing: the default
    };
    const Case cases[] = {
        {"--dump-frames", {}},
        {"--dump-frames out", QString("out")},
        {"--dump-frames out --output final", QString("final")},
        {"--dump-frames --output final", QString("final")},
        {"--dump-frames --live-profile p", {}},
        {"--output first --output second --dump-frames", QString("first")},
        {"--dump-frames /abs/frames", QString("/abs/frames")},
    };
    for (const Case &c : cases) {
        const std::optional<QString> want =
            c.want ? std::optional(QDir::current().absoluteFilePath(*c.want)) : std::nullopt;
        EXPECT_EQ(HeadlessExportOptions::outputFolder(command(QString::fromLatin1(c.arguments))), want) << c.arguments;
    }
    EXPECT_THROW(HeadlessExportOptions::outputFolder({"hub", "--dump-frames", "--output", ""}), HubError);
    EXPECT_EQ(HeadlessExportOptions::outputFolder({"hub", "--dump-frames", ""}), std::nullopt);
}
} // namespace
