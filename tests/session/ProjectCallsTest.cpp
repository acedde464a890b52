#include "session/ProjectAnswer.h"

#include <gtest/gtest.h>

// The answer cache is bounded by what its answers carry back to the platform, counted in UTF-8.
TEST(ProjectAnswer, PayloadCountsWhatIsSentBackInUtf8)
{
    ProjectAnswer answer;
    answer.sessionID = QStringLiteral("prj-0123456789abcdef0123456789abcdef01234567");
    answer.requestDigest = QByteArray(32, '\x7f');
    answer.deadline = 1777000000000.0;
    EXPECT_EQ(answer.payloadBytes(), 0);

    answer.handsID = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");     // 36
    answer.tool = QStringLiteral("project_write");                               // 13
    answer.status = QStringLiteral("ok");                                        // 2
    answer.result = QStringLiteral("écrit ✓");                                   // 6 + 1 + 3
    answer.changed = {QStringLiteral("src/a.cpp"), QStringLiteral("docs/ü.md")}; // 9 + 10
    EXPECT_EQ(answer.payloadBytes(), 36 + 13 + 2 + 10 + 9 + 10);
}
