#include "vision/LanguageRecognizer.h"

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>

#include <limits>

LanguageRecognizer::Guess LanguageRecognizer::dominant(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.isEmpty() || utf8.size() > std::numeric_limits<int>::max())
        return {};

    const CLD2::CLDHints hints{nullptr, "", CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
    CLD2::Language language3[3] = {CLD2::UNKNOWN_LANGUAGE, CLD2::UNKNOWN_LANGUAGE, CLD2::UNKNOWN_LANGUAGE};
    int percent3[3] = {0, 0, 0};
    double normalizedScore3[3] = {0, 0, 0};
    int textBytes = 0;
    bool reliable = false;
    int validPrefixBytes = 0;
    // The checking entry point: it refuses rather than misreads anything that is not valid UTF-8.
    const CLD2::Language language = CLD2::ExtDetectLanguageSummaryCheckUTF8(
        utf8.constData(), int(utf8.size()), /*is_plain_text=*/true, &hints, /*flags=*/0, language3, percent3,
        normalizedScore3, /*resultchunkvector=*/nullptr, &textBytes, &reliable, &validPrefixBytes);
    if (language == CLD2::UNKNOWN_LANGUAGE || language == CLD2::TG_UNKNOWN_LANGUAGE)
        return {};

    Guess guess;
    guess.identifier = QString::fromLatin1(CLD2::LanguageCode(language));
    for (int i = 0; i < 2; ++i) {
        if (language3[i] == language) {
            guess.probability = percent3[i] / 100.0;
            break;
        }
    }
    return guess;
}
