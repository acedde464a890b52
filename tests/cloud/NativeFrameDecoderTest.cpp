#include "ChunkSupport.h"

#include "cloud/NativeFrameDecoder.h"
#include "core/HubError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

using namespace std::chrono_literals;

namespace
{
// A decoder on a clock the test moves by hand.
class DecoderFixture : public ::testing::Test
{
protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    NativeFrameDecoder decoder{NativeFrameDecoder::kDefaultMaximum, [this] { return now; }};

    // Pushes every chunk; returns what the last push returned.
    std::optional<Json> pushAll(const std::vector<Json> &frames)
    {
        std::optional<Json> last;
        for (const auto &frame : frames)
            last = decoder.push(frame);
        return last;
    }
};

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const HubError &error) {
        return error.description();
    }
    return QStringLiteral("(no error)");
}

TEST_F(DecoderFixture, OtherKindsPassUnchangedAfterTheSweep)
{
    const Json whole = chunks::frame(1, "message", 20000);
    auto parts = chunks::split(whole, "a");
    decoder.push(parts[0]);
    EXPECT_EQ(decoder.retained(), 12000);
    now += 60s;
    const Json plain = chunks::frame(2);
    EXPECT_EQ(decoder.push(plain), plain);
    EXPECT_EQ(decoder.pendingCount(), 0u);
    EXPECT_EQ(decoder.retained(), 0);
}

TEST_F(DecoderFixture, SingleShortChunkRebuildsAtOnce)
{
    const Json whole = chunks::frame(3);
    const auto parts = chunks::split(whole, "one");
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(decoder.push(parts[0]), whole);
    EXPECT_EQ(decoder.retained(), 0);
}

TEST_F(DecoderFixture, ChunksInAnyOrderRebuildTheSameFrame)
{
    const Json whole = chunks::frame(4, "message", 70000);
    auto parts = chunks::split(whole, "shuffled");
    ASSERT_EQ(parts.size(), 6u);
    std::mt19937 random(7);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(parts.begin(), parts.end(), random);
        for (std::size_t i = 0; i + 1 < parts.size(); ++i)
            EXPECT_FALSE(decoder.push(parts[i]).has_value());
        EXPECT_EQ(decoder.push(parts.back()), whole);
        EXPECT_EQ(decoder.retained(), 0);
        decoder.reset();
    }
}

TEST_F(DecoderFixture, RepeatedChunkIsIgnoredAndAConflictingOneDropsTheFrame)
{
    const Json whole = chunks::frame(5, "message", 30000);
    auto parts = chunks::split(whole, "dup");
    decoder.push(parts[0]);
    EXPECT_FALSE(decoder.push(parts[0]).has_value());
    EXPECT_EQ(decoder.retained(), 12000);

    Json other = parts[0];
    other["payload"]["data"] = QByteArray(12000, 'z').toBase64().toStdString();
    EXPECT_EQ(errorOf([&] { decoder.push(other); }), "Conflicting duplicate frame chunk.");
    EXPECT_EQ(decoder.pendingCount(), 0u);
    EXPECT_EQ(decoder.retained(), 0);
}

TEST_F(DecoderFixture, ConflictingTotalOrIdentityDropsThePendingFrame)
{
    const Json whole = chunks::frame(6, "message", 30000);
    auto parts = chunks::split(whole, "meta");
    decoder.push(parts[0]);
    Json wrongTotal = parts[1];
    wrongTotal["payload"]["total"] = 4;
    EXPECT_EQ(errorOf([&] { decoder.push(wrongTotal); }), "Conflicting session frame metadata.");
    EXPECT_EQ(decoder.pendingCount(), 0u);
    EXPECT_EQ(decoder.retained(), 0);
}

TEST_F(DecoderFixture, CompletedFrameIsNotRebuiltAgainUntilItExpiresOrIsRetried)
{
    const Json whole = chunks::frame(7, "message", 30000);
    const auto parts = chunks::split(whole, "done");
    EXPECT_EQ(pushAll(parts), whole);
    for (const auto &part : parts)
        EXPECT_FALSE(decoder.push(part).has_value());
    EXPECT_EQ(decoder.pendingCount(), 0u);

    decoder.retryDelivery(whole);
    EXPECT_EQ(pushAll(parts), whole);

    now += 59s;
    EXPECT_FALSE(pushAll(parts).has_value());
    now += 1s;
    EXPECT_EQ(pushAll(parts), whole);
}

TEST_F(DecoderFixture, ProjectCallIsRebuiltEveryTime)
{
    const Json whole = chunks::frame(8, "project_call", 30000);
    const auto parts = chunks::split(whole, "call");
    EXPECT_EQ(pushAll(parts), whole);
    EXPECT_EQ(pushAll(parts), whole);
    EXPECT_EQ(decoder.completedCount(), 0u);
}

TEST_F(DecoderFixture, NinthIncompleteFrameIsRefused)
{
    std::vector<std::vector<Json>> frames;
    for (int i = 0; i < 9; ++i)
        frames.push_back(chunks::split(chunks::frame(100 + i, "message", 20000), "f" + std::to_string(i)));
    for (int i = 0; i < 8; ++i)
        decoder.push(frames[std::size_t(i)][0]);
    EXPECT_EQ(errorOf([&] { decoder.push(frames[8][0]); }), "Too many incomplete session frames.");
    EXPECT_EQ(decoder.pendingCount(), 8u);
    EXPECT_EQ(decoder.push(frames[3][1]), chunks::frame(103, "message", 20000));
    EXPECT_FALSE(decoder.push(frames[8][0]).has_value());
}

TEST_F(DecoderFixture, ExpiredPendingFrameLeavesRetained)
{
    const auto parts = chunks::split(chunks::frame(9, "message", 30000), "old");
    decoder.push(parts[0]);
    now += 30s;
    const auto young = chunks::split(chunks::frame(10, "message", 30000), "young");
    decoder.push(young[0]);
    EXPECT_EQ(decoder.retained(), 24000);
    now += 30s;
    decoder.push(chunks::frame(11));
    EXPECT_EQ(decoder.pendingCount(), 1u);
    EXPECT_EQ(decoder.retained(), 12000);
    // The expired frame's remaining chunks start it over rather than completing it.
    EXPECT_FALSE(decoder.push(parts[1]).has_value());
}

TEST_F(DecoderFixture, FrameOverTheByteLimitIsRefused)
{
    // 1,399 full slices carry more than the 16 MiB one frame may hold.
    const Json whole = chunks::frame(12);
    const auto parts = chunks::split(whole, QByteArray(1399 * 12000, ' '), "huge");
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        ASSERT_FALSE(decoder.push(parts[i]).has_value());
    EXPECT_EQ(errorOf([&] { decoder.push(parts.back()); }), "Session frame reassembly memory limit exceeded.");
    EXPECT_EQ(decoder.retained(), 0);
}

TEST_F(DecoderFixture, AllPendingFramesTogetherAreBounded)
{
    const QByteArray big(1398 * 12000, ' ');
    for (int i = 0; i < 2; ++i) {
        const auto parts = chunks::split(chunks::frame(20 + i), big, "big" + std::to_string(i));
        for (std::size_t p = 0; p + 1 < parts.size(); ++p)
            ASSERT_FALSE(decoder.push(parts[p]).has_value());
    }
    const qint64 held = decoder.retained();
    EXPECT_EQ(held, 2 * 1397 * 12000);
    // Room is left for two more slices in all, not three.
    const auto third = chunks::split(chunks::frame(22), QByteArray(36000, ' '), "third");
    decoder.push(third[0]);
    decoder.push(third[1]);
    EXPECT_EQ(errorOf([&] { decoder.push(third[2]); }), "Session frame reassembly memory limit exceeded.");
    EXPECT_EQ(decoder.retained(), held);
    EXPECT_EQ(decoder.pendingCount(), 2u);
}

TEST_F(DecoderFixture, OldestCompletedKeyIsForgottenPastTheCap)
{
    std::vector<Json> first;
    for (int i = 0; i <= 4096; ++i) {
        const Json whole = chunks::frame(1000 + i);
        auto parts = chunks::split(whole, "k");
        if (i == 0)
            first = parts;
        ASSERT_EQ(decoder.push(parts[0]), whole);
    }
    EXPECT_EQ(decoder.completedCount(), 4096u);
    EXPECT_EQ(decoder.push(first[0]), chunks::frame(1000));
}

TEST_F(DecoderFixture, ChunkWithoutTurnMatchesFrameWhoseTurnIsTheSession)
{
    Json whole = chunks::frame(30, "message", 16, "prj-1");
    Json announced = whole;
    announced.erase("turnId");
    const auto parts = chunks::split(announced, json::dump(whole), "noturn");
    EXPECT_EQ(decoder.push(parts[0]), whole);
}

// The platform may write any whole number as a float: 2.0 is the integer 2 wherever one is read.
TEST_F(DecoderFixture, IntegralFloatsAreReadAsIntegers)
{
    const Json whole = chunks::frame(70, "message", 30000);
    auto parts = chunks::split(whole, "floats");
    ASSERT_EQ(parts.size(), 3u);
    for (auto &part : parts) {
        part["seq"] = 70.0;
        part["payload"]["index"] = part["payload"]["index"].get<double>();
        part["payload"]["total"] = 3.0;
    }
    EXPECT_FALSE(decoder.push(parts[0]).has_value());
    EXPECT_FALSE(decoder.push(parts[2]).has_value());
    // Its rebuilt frame carries the integer 70: the same identity.
    EXPECT_EQ(decoder.push(parts[1]), whole);
}

TEST(NativeFrameDecoderIdentity, IsTheCompactArrayOfFourStrings)
{
    EXPECT_EQ(NativeFrameDecoder::identity(chunks::frame(42)), R"(["tenant-1","prj-1","turn-1","42"])");
    Json noTurn = chunks::frame(-3);
    noTurn["turnId"] = 9;
    EXPECT_EQ(NativeFrameDecoder::identity(noTurn), R"(["tenant-1","prj-1","prj-1","-3"])");
    Json floatSeq = chunks::frame(0);
    floatSeq["seq"] = 42.0;
    EXPECT_EQ(NativeFrameDecoder::identity(floatSeq), NativeFrameDecoder::identity(chunks::frame(42)));
}

struct InvalidChunkCase
{
    const char *name;
    std::function<void(Json &)> change;
    const char *error = "Invalid AppSync frame chunk.";
};

class InvalidChunk : public ::testing::TestWithParam<InvalidChunkCase>
{
};

TEST_P(InvalidChunk, FailsAndChangesNothing)
{
    std::chrono::steady_clock::time_point now{};
    NativeFrameDecoder decoder(NativeFrameDecoder::kDefaultMaximum, [&] { return now; });
    const Json whole = chunks::frame(50, "message", 40000);
    auto parts = chunks::split(whole, "valid");
    decoder.push(parts[0]);
    Json chunk = parts[1];
    GetParam().change(chunk);
    EXPECT_EQ(errorOf([&] { decoder.push(chunk); }), GetParam().error);
    EXPECT_EQ(decoder.pendingCount(), 1u);
    EXPECT_EQ(decoder.retained(), 12000);
}

Json &payloadOf(Json &chunk)
{
    return chunk["payload"];
}

INSTANTIATE_TEST_SUITE_P(
    Table, InvalidChunk,
    ::testing::Values(
        InvalidChunkCase{"PayloadNotObject", [](Json &c) { c["payload"] = "text"; }},
        InvalidChunkCase{"TotalZero", [](Json &c) { payloadOf(c)["total"] = 0; }},
        InvalidChunkCase{"Total1400", [](Json &c) { payloadOf(c)["total"] = 1400; }},
        InvalidChunkCase{"TotalFractional", [](Json &c) { payloadOf(c)["total"] = 4.5; }},
        InvalidChunkCase{"IndexFractional", [](Json &c) { payloadOf(c)["index"] = 1.5; }},
        InvalidChunkCase{"TotalText", [](Json &c) { payloadOf(c)["total"] = "4"; }},
        InvalidChunkCase{"IndexEqualsTotal", [](Json &c) { payloadOf(c)["index"] = 4; }},
        InvalidChunkCase{"IndexNegative", [](Json &c) { payloadOf(c)["index"] = -1; }},
        InvalidChunkCase{"EncodingOther", [](Json &c) { payloadOf(c)["encoding"] = "base64url"; }},
        InvalidChunkCase{"Data16001Characters", [](Json &c) { payloadOf(c)["data"] = std::string(16001, 'A'); }},
        InvalidChunkCase{"DataInvalidCharacter",
                         [](Json &c) {
                             auto data = payloadOf(c)["data"].get<std::string>();
                             data[10] = '-';
                             payloadOf(c)["data"] = data;
                         }},
        InvalidChunkCase{"DataWithoutPadding",
                         [](Json &c) {
                             payloadOf(c)["data"] = "QUJD"
                                                    "QQ";
                         }},
        InvalidChunkCase{"DataNotString", [](Json &c) { payloadOf(c)["data"] = 12; }},
        InvalidChunkCase{"NotLastSliceShort",
                         [](Json &c) { payloadOf(c)["data"] = QByteArray(11999, 'a').toBase64().toStdString(); }},
        InvalidChunkCase{"LastSliceLong",
                         [](Json &c) {
                             payloadOf(c)["index"] = 3;
                             payloadOf(c)["data"] = QByteArray(12001, 'a').toBase64().toStdString();
                         }},
        InvalidChunkCase{"Id129Characters", [](Json &c) { payloadOf(c)["id"] = std::string(129, 'a'); }},
        InvalidChunkCase{"IdWithDot", [](Json &c) { payloadOf(c)["id"] = "a.b"; }},
        InvalidChunkCase{"IdEmpty", [](Json &c) { payloadOf(c)["id"] = ""; }},
        InvalidChunkCase{"SeqMissing", [](Json &c) { c.erase("seq"); }, "Invalid chunk frame identity."},
        InvalidChunkCase{"SeqText", [](Json &c) { c["seq"] = "2"; }, "Invalid chunk frame identity."},
        InvalidChunkCase{"SeqFractional", [](Json &c) { c["seq"] = 50.5; }, "Invalid chunk frame identity."},
        InvalidChunkCase{"TenantMissing", [](Json &c) { c.erase("tenantId"); }, "Invalid chunk frame identity."}),
    [](const auto &info) { return std::string(info.param.name); });

struct RebuiltCase
{
    const char *name;
    std::function<QByteArray(Json)> rebuilt; // the bytes the chunks carry, from the announced frame
    const char *error;
};

class RebuiltFrame : public ::testing::TestWithParam<RebuiltCase>
{
};

TEST_P(RebuiltFrame, MustBeAnObjectOfTheAnnouncedIdentity)
{
    NativeFrameDecoder decoder;
    const Json announced = chunks::frame(60, "message", 30000);
    const auto parts = chunks::split(announced, GetParam().rebuilt(announced), "r");
    QString error = QStringLiteral("(no error)");
    try {
        for (const auto &part : parts)
            decoder.push(part);
    } catch (const HubError &e) {
        error = e.description();
    }
    EXPECT_EQ(error, GetParam().error);
    EXPECT_EQ(decoder.pendingCount(), 0u);
    EXPECT_EQ(decoder.retained(), 0);
}

QByteArray with(Json frame, const char *key, Json value)
{
    frame[key] = std::move(value);
    return json::dump(frame);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RebuiltFrame,
    ::testing::Values(RebuiltCase{"OtherSeq", [](Json f) { return with(f, "seq", 61); },
                                  "Reassembled frame identity mismatch."},
                      RebuiltCase{"OtherTurn", [](Json f) { return with(f, "turnId", "turn-2"); },
                                  "Reassembled frame identity mismatch."},
                      RebuiltCase{"OtherSession", [](Json f) { return with(f, "sessionId", "prj-2"); },
                                  "Reassembled frame identity mismatch."},
                      RebuiltCase{"OtherTenant", [](Json f) { return with(f, "tenantId", "t-2"); },
                                  "Reassembled frame identity mismatch."},
                      RebuiltCase{"ItselfAChunk", [](Json f) { return with(f, "kind", "frame_chunk"); },
                                  "Reassembled frame identity mismatch."},
                      RebuiltCase{"AnArray", [](Json f) { return json::dump(Json::array({f})); },
                                  "Reassembled frame identity mismatch."},
                      RebuiltCase{"SeqMissing",
                                  [](Json f) {
                                      f.erase("seq");
                                      return json::dump(f);
                                  },
                                  "Invalid chunk frame identity."},
                      RebuiltCase{"NotJson", [](Json f) { return json::dump(f).chopped(1); },
                                  "The data couldn't be read because it isn't in the correct format."}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
