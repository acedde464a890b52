// libFuzzer target for the journal's line reading, a differential check: on any line, the one-pass
// line decoder gives exactly what the general decoder (the JSON parser and WorkspaceEvent::decode)
// gives, and an event either accepts comes back whole through encode and the one-pass road. One
// decoder serves every input, so its cache of repeated texts is checked across lines too. Every
// input is also taken as frame bytes: the U+FFFD substitution the journal writes must match ICU's,
// which follows the same Unicode recommendation.
#include "core/JournalLineDecoder.h"
#include "core/Json.h"
#include "core/Utf8.h"
#include "core/WorkspaceEvent.h"

#include <QByteArray>
#include <QString>

#include <unicode/ustring.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
[[noreturn]] void mismatch(const char *what, std::string_view input)
{
    std::fprintf(stderr, "journal_fuzz: %s for %zu input bytes\n", what, input.size());
    std::abort();
}

std::optional<WorkspaceEvent> general(std::string_view line)
{
    const auto json = json::tryParse(line);
    return json ? WorkspaceEvent::decode(*json) : std::nullopt;
}

bool same(const WorkspaceEvent &a, const WorkspaceEvent &b)
{
    return a.id == b.id && a.timestamp == b.timestamp && a.appID == b.appID && a.tenantID == b.tenantID &&
           a.kind == b.kind && a.payload == b.payload;
}

void checkLine(std::string_view line)
{
    static JournalLineDecoder decoder(QStringLiteral("app"), QStringLiteral("t"));
    const auto slow = general(line);
    WorkspaceEvent simple;
    switch (decoder.decodeSimple(line, simple)) {
    case JournalLineDecoder::Outcome::Event:
        if (!slow || !same(simple, *slow))
            mismatch("one-pass event differs from the general decoder's", line);
        break;
    case JournalLineDecoder::Outcome::NotRecord:
        if (slow)
            mismatch("one-pass refusal of a record the general decoder takes", line);
        break;
    case JournalLineDecoder::Outcome::General:
        break;
    }
    const auto fast = decoder.decode(line);
    if (fast.has_value() != slow.has_value() || (fast && !same(*fast, *slow)))
        mismatch("decode() differs from the general decoder", line);
    if (!slow)
        return;
    const QByteArray encoded = slow->encode();
    WorkspaceEvent again;
    if (decoder.decodeSimple(std::string_view(encoded.constData(), size_t(encoded.size())), again) !=
            JournalLineDecoder::Outcome::Event ||
        !same(again, *slow))
        mismatch("an encoded event does not come back through the one-pass road", line);
}

void checkReplacement(std::string_view bytes)
{
    QByteArray ours;
    utf8::appendWellFormed(ours, bytes);
    if (!utf8::isWellFormed(std::string_view(ours.constData(), size_t(ours.size()))))
        mismatch("replacement left ill-formed UTF-8", bytes);
    if (utf8::isWellFormed(bytes) != (ours.size() == qsizetype(bytes.size()) && ours == QByteArrayView(bytes)))
        mismatch("well-formed input changed, or ill-formed input kept", bytes);

    std::vector<UChar> icu(bytes.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(icu.data(), int32_t(icu.size()), &length, bytes.data(), int32_t(bytes.size()), 0xFFFD,
                         nullptr, &status);
    if (U_FAILURE(status))
        mismatch("ICU could not convert", bytes);
    const QString expected(reinterpret_cast<const QChar *>(icu.data()), length);
    if (QString::fromUtf8(ours) != expected)
        mismatch("U+FFFD substitution differs from ICU's", bytes);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    checkLine(input);
    checkReplacement(input);
    return 0;
}
