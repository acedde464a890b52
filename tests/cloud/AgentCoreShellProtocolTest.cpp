#include "cloud/AgentCoreShellProtocol.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using Protocol = AgentCoreShellProtocol;
using Failure = Protocol::ProtocolFailure;
using Kind = Protocol::Message::Kind;

namespace
{
QByteArray frame(quint8 channel, const QByteArray &payload = {})
{
    return QByteArray(1, char(channel)) + payload;
}

std::optional<Failure::Kind> failureOf(const QByteArray &bytes)
{
    try {
        Protocol::decode(bytes);
    } catch (const Failure &failure) {
        return failure.kind();
    }
    return std::nullopt;
}

TEST(AgentCoreShellProtocol, OutputChannelsCarryTheirBytesUnchanged)
{
    EXPECT_EQ(Protocol::decode(frame(0x01)), (Protocol::Message{Kind::standardOutput, {}, std::nullopt}));
    EXPECT_EQ(Protocol::decode(frame(0x02)), (Protocol::Message{Kind::standardError, {}, std::nullopt}));
    // Output is bytes, never text: invalid UTF-8 and NUL pass through.
    const QByteArray raw("\xff\x00\x1b[31mred\r\n", 12);
    EXPECT_EQ(Protocol::decode(frame(0x01, raw)).payload, raw);
    EXPECT_EQ(Protocol::decode(frame(0x05, "\x00")).kind, Kind::heartbeat);
    EXPECT_EQ(Protocol::decode(frame(0xFF, "bye")).kind, Kind::close);
}

struct SizeCase
{
    const char *name;
    QByteArray bytes;
    std::optional<Failure::Kind> failure;
};

class FrameSize : public ::testing::TestWithParam<SizeCase>
{
};

TEST_P(FrameSize, IsCheckedBeforeAnythingElse)
{
    EXPECT_EQ(failureOf(GetParam().bytes), GetParam().failure);
}

QByteArray statusOfSize(qsizetype size)
{
    QByteArray object = R"({"status":"Success","kind":")";
    object += QByteArray(size - object.size() - 2, 'k') + "\"}";
    return object;
}

INSTANTIATE_TEST_SUITE_P(
    AgentCoreShellProtocol, FrameSize,
    ::testing::Values(SizeCase{"Empty", {}, Failure::Kind::invalidFrame},
                      SizeCase{"StdoutAtTheLimit", frame(0x01, QByteArray(65535, 'x')), std::nullopt},
                      SizeCase{"StdoutOverTheLimit", frame(0x01, QByteArray(65536, 'x')), Failure::Kind::invalidFrame},
                      SizeCase{"HeartbeatOverTheLimit", frame(0x05, QByteArray(65536, 0)), Failure::Kind::invalidFrame},
                      SizeCase{"StatusOverTheFrameLimit", frame(0x03, statusOfSize(65536)),
                               Failure::Kind::invalidFrame},
                      SizeCase{"StatusAtItsLimit", frame(0x03, statusOfSize(16384)), std::nullopt},
                      SizeCase{"StatusOverItsLimit", frame(0x03, statusOfSize(16385)), Failure::Kind::invalidStatus},
                      SizeCase{"Input", frame(0x00, "ls\n"), Failure::Kind::invalidFrame},
                      SizeCase{"Resize", frame(0x04, R"({"height":24,"width":80})"), Failure::Kind::invalidFrame},
                      SizeCase{"UnknownChannel", frame(0x06), Failure::Kind::invalidFrame},
                      SizeCase{"HighUnknownChannel", frame(0xFE), Failure::Kind::invalidFrame}),
    [](const auto &info) { return std::string(info.param.name); });

struct StatusCase
{
    const char *name;
    const char *json;
    bool decodes;
};

class StatusFrame : public ::testing::TestWithParam<StatusCase>
{
};

TEST_P(StatusFrame, DecodesOnlyAUsableStatus)
{
    const auto c = GetParam();
    const auto failure = failureOf(frame(0x03, c.json));
    if (c.decodes)
        EXPECT_EQ(failure, std::nullopt);
    else
        EXPECT_EQ(failure, Failure::Kind::invalidStatus);
}

INSTANTIATE_TEST_SUITE_P(
    AgentCoreShellProtocol, StatusFrame,
    ::testing::Values(
        StatusCase{"OnlyFailure", R"({"status":"Failure"})", true},
        StatusCase{
            "Everything",
            R"({"kind":"Exit","status":"Success","metadata":{"shellId":"s1","reconnected":true,"bytesDropped":12,"x":1},"details":{"causes":[{"reason":"ExitCode","message":"0"},{}]},"other":[1]})",
            true},
        StatusCase{"NullOptionals", R"({"kind":null,"status":"Success","metadata":null,"details":{"causes":null}})",
                   true},
        StatusCase{"NoStatus", R"({"kind":"Exit"})", false},
        StatusCase{"LowerCaseStatus", R"({"status":"success"})", false},
        StatusCase{"UpperCaseStatus", R"({"status":"FAILURE"})", false},
        StatusCase{"OtherStatus", R"({"status":"Pending"})", false},
        StatusCase{"NullStatus", R"({"status":null})", false}, StatusCase{"NumericStatus", R"({"status":1})", false},
        StatusCase{"KindNotString", R"({"status":"Success","kind":3})", false},
        StatusCase{"ShellIdNotString", R"({"status":"Success","metadata":{"shellId":5}})", false},
        StatusCase{"ReconnectedNotBool", R"({"status":"Success","metadata":{"reconnected":"yes"}})", false},
        StatusCase{"BytesDroppedFraction", R"({"status":"Success","metadata":{"bytesDropped":1.5}})", false},
        StatusCase{"BytesDroppedTooLarge", R"({"status":"Success","metadata":{"bytesDropped":18446744073709551615}})",
                   false},
        StatusCase{"MetadataNotObject", R"({"status":"Success","metadata":[]})", false},
        StatusCase{"CausesNotArray", R"({"status":"Success","details":{"causes":{}}})", false},
        StatusCase{"CauseNotObject", R"({"status":"Success","details":{"causes":["ExitCode"]}})", false},
        StatusCase{"CauseMessageNotString", R"({"status":"Success","details":{"causes":[{"message":137}]}})", false},
        StatusCase{"TopLevelArray", R"([{"status":"Success"}])", false}, StatusCase{"Empty", "", false},
        StatusCase{"Truncated", R"({"status":"Succ)", false},
        StatusCase{"TrailingGarbage", R"({"status":"Success"} x)", false},
        StatusCase{"InvalidUtf8", "{\"status\":\"Success\",\"kind\":\"\xc3\x28\"}", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AgentCoreShellProtocol, StatusFieldsAreKept)
{
    const auto message = Protocol::decode(frame(
        0x03,
        R"({"kind":"Exit","status":"Success","metadata":{"shellId":"s1","reconnected":true,"bytesDropped":12},"details":{"causes":[{"reason":"Other","message":"m"}]}})"));
    ASSERT_EQ(message.kind, Kind::status);
    ASSERT_TRUE(message.status);
    const auto &status = *message.status;
    EXPECT_EQ(status.kind, QStringLiteral("Exit"));
    EXPECT_EQ(status.status, QStringLiteral("Success"));
    EXPECT_EQ(status.metadata, (Protocol::Status::Metadata{QStringLiteral("s1"), true, 12}));
    EXPECT_FALSE(status.exited());
    EXPECT_EQ(status.exitCode(), std::nullopt);

    const auto bare = Protocol::decode(frame(0x03, R"({"status":"Failure"})"));
    EXPECT_EQ(bare.status, (Protocol::Status{std::nullopt, QStringLiteral("Failure"), std::nullopt, std::nullopt}));
}

struct ExitCase
{
    const char *name;
    const char *causes;
    bool exited;
    std::optional<qint64> code;
};

class ExitCode : public ::testing::TestWithParam<ExitCase>
{
};

TEST_P(ExitCode, ComesFromTheFirstExitCodeCause)
{
    const auto c = GetParam();
    const auto message =
        Protocol::decode(frame(0x03, QByteArray(R"({"status":"Success","details":{"causes":)") + c.causes + "}}"));
    ASSERT_TRUE(message.status);
    EXPECT_EQ(message.status->exited(), c.exited);
    EXPECT_EQ(message.status->exitCode(), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    AgentCoreShellProtocol, ExitCode,
    ::testing::Values(
        ExitCase{"SpacedDigits", R"([{"reason":"ExitCode","message":" 137\n"}])", true, 137},
        ExitCase{"MinusOne", R"([{"reason":"ExitCode","message":"-1"}])", true, -1},
        ExitCase{"Plus", R"([{"reason":"ExitCode","message":"+2"}])", true, 2},
        ExitCase{"Zero", R"([{"reason":"ExitCode","message":"0"}])", true, 0},
        ExitCase{"LetterAfterDigits", R"([{"reason":"ExitCode","message":"137a"}])", true, std::nullopt},
        ExitCase{"Empty", R"([{"reason":"ExitCode","message":"  "}])", true, std::nullopt},
        ExitCase{"SignOnly", R"([{"reason":"ExitCode","message":"-"}])", true, std::nullopt},
        ExitCase{"TwoSigns", R"([{"reason":"ExitCode","message":"+-3"}])", true, std::nullopt},
        ExitCase{"Fraction", R"([{"reason":"ExitCode","message":"1.0"}])", true, std::nullopt},
        ExitCase{"Int64Max", R"([{"reason":"ExitCode","message":"9223372036854775807"}])", true,
                 std::numeric_limits<qint64>::max()},
        ExitCase{"Int64Min", R"([{"reason":"ExitCode","message":"-9223372036854775808"}])", true,
                 std::numeric_limits<qint64>::min()},
        ExitCase{"Overflow", R"([{"reason":"ExitCode","message":"9223372036854775808"}])", true, std::nullopt},
        ExitCase{"FirstWithoutMessageWins", R"([{"reason":"ExitCode"},{"reason":"ExitCode","message":"5"}])", true,
                 std::nullopt},
        ExitCase{
            "LaterCauseIgnored",
            R"([{"reason":"Other","message":"9"},{"reason":"ExitCode","message":"5"},{"reason":"ExitCode","message":"6"}])",
            true, 5},
        ExitCase{"ReasonIsCaseSensitive", R"([{"reason":"exitcode","message":"5"}])", false, std::nullopt},
        ExitCase{"NoCauses", "[]", false, std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

struct ResizeCase
{
    const char *name;
    int columns;
    int rows;
    const char *json; // nullptr: refused
};

class Resize : public ::testing::TestWithParam<ResizeCase>
{
};

TEST_P(Resize, BuildsTheSortedJsonFrameWithinRange)
{
    const auto c = GetParam();
    if (!c.json) {
        try {
            Protocol::resize(c.columns, c.rows);
            FAIL() << "accepted";
        } catch (const Failure &failure) {
            EXPECT_EQ(failure.kind(), Failure::Kind::invalidFrame);
        }
        return;
    }
    EXPECT_EQ(Protocol::resize(c.columns, c.rows), QByteArray(1, '\x04') + c.json);
}

INSTANTIATE_TEST_SUITE_P(AgentCoreShellProtocol, Resize,
                         ::testing::Values(ResizeCase{"Typical", 80, 24, R"({"height":24,"width":80})"},
                                           ResizeCase{"Smallest", 1, 1, R"({"height":1,"width":1})"},
                                           ResizeCase{"Largest", 1000, 1000, R"({"height":1000,"width":1000})"},
                                           ResizeCase{"ZeroColumns", 0, 24, nullptr},
                                           ResizeCase{"TooManyColumns", 1001, 24, nullptr},
                                           ResizeCase{"ZeroRows", 80, 0, nullptr},
                                           ResizeCase{"TooManyRows", 80, 1001, nullptr},
                                           ResizeCase{"Negative", -80, -24, nullptr}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(AgentCoreShellProtocol, ConstantFrames)
{
    EXPECT_EQ(Protocol::heartbeat(), QByteArray(1, '\x05'));
    EXPECT_EQ(Protocol::close(), QByteArray(1, '\xff'));
    EXPECT_EQ(Protocol::decode(Protocol::heartbeat()).kind, Kind::heartbeat);
    EXPECT_EQ(Protocol::decode(Protocol::close()).kind, Kind::close);
}

// Random and mutated frames: each one either decodes or is refused with the failure its channel
// calls for; nothing else may happen.
TEST(AgentCoreShellProtocol, MalformedFramesAreAlwaysRefusedCleanly)
{
    QRandomGenerator random(20261210);
    const QByteArray seeds[] = {
        frame(
            0x03,
            R"({"status":"Success","metadata":{"shellId":"s","bytesDropped":3},"details":{"causes":[{"reason":"ExitCode","message":"1"}]}})"),
        frame(0x03, QByteArray(300, '[')), frame(0x03, QByteArray(300, '{')), frame(0x01, "out"), frame(0x05)};
    for (int round = 0; round < 4000; ++round) {
        QByteArray bytes;
        if (round % 2 == 0) {
            bytes = seeds[round % std::size(seeds)];
            const int flips = 1 + int(random.bounded(4));
            for (int i = 0; i < flips && !bytes.isEmpty(); ++i)
                bytes[int(random.bounded(bytes.size()))] = char(random.bounded(256));
            if (random.bounded(4) == 0)
                bytes.truncate(int(random.bounded(bytes.size() + 1)));
        } else {
            bytes.resize(int(random.bounded(64)));
            for (char &b : bytes)
                b = char(random.bounded(256));
        }
        try {
            const auto message = Protocol::decode(bytes);
            const quint8 channel = quint8(bytes[0]);
            EXPECT_TRUE(channel == 0x01 || channel == 0x02 || channel == 0x03 || channel == 0x05 || channel == 0xFF);
            EXPECT_EQ(message.kind == Kind::status, channel == 0x03);
        } catch (const Failure &failure) {
            const bool statusChannel = !bytes.isEmpty() && quint8(bytes[0]) == 0x03;
            EXPECT_EQ(failure.kind(), statusChannel ? Failure::Kind::invalidStatus : Failure::Kind::invalidFrame)
                << "frame " << bytes.toHex().toStdString();
        }
    }
    // Nesting deeper than any status needs is refused, not walked.
    EXPECT_EQ(failureOf(frame(0x03, QByteArray(16384, '['))), Failure::Kind::invalidStatus);
}
} // namespace
