#include "live/IcuNumbers.h"

#include "core/Json.h"

#include <unicode/unum.h>

#include <algorithm>
#include <memory>

namespace icunumbers
{
namespace
{
struct FormatCloser
{
    void operator()(UNumberFormat *format) const { unum_close(format); }
};
using Format = std::unique_ptr<UNumberFormat, FormatCloser>;

QByteArray icuLocaleID(const QLocale &locale)
{
    if (locale.language() == QLocale::C)
        return QByteArrayLiteral("en_US_POSIX");
    return locale.name().toLatin1();
}

Format open(UNumberFormatStyle style, const QLocale &locale)
{
    UErrorCode status = U_ZERO_ERROR;
    Format format(unum_open(style, nullptr, 0, icuLocaleID(locale).constData(), nullptr, &status));
    if (U_FAILURE(status))
        return nullptr;
    return format;
}

std::optional<QString> symbol(const UNumberFormat *format, UNumberFormatSymbol which)
{
    UChar buffer[32];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = unum_getSymbol(format, which, buffer, 32, &status);
    if (U_FAILURE(status) || length <= 0 || length > 32)
        return std::nullopt;
    return QString(reinterpret_cast<const QChar *>(buffer), length);
}
} // namespace

DecimalStyle decimalStyle(const QLocale &locale)
{
    DecimalStyle style;
    const Format format = open(UNUM_DECIMAL, locale);
    if (!format)
        return style;
    const int32_t primary = unum_getAttribute(format.get(), UNUM_GROUPING_SIZE);
    style.primaryGroup = primary >= 1 ? primary : 3;
    const int32_t secondary = unum_getAttribute(format.get(), UNUM_SECONDARY_GROUPING_SIZE);
    style.secondaryGroup = secondary > 0 ? secondary : style.primaryGroup;
    if (const auto separator = symbol(format.get(), UNUM_GROUPING_SEPARATOR_SYMBOL))
        style.groupingSeparator = *separator;
    if (const auto separator = symbol(format.get(), UNUM_DECIMAL_SEPARATOR_SYMBOL))
        style.decimalSeparator = *separator;
    return style;
}

std::optional<QString> currency(double amount, const QString &code, const QLocale &locale)
{
    // ICU would silently take the first three letters of a longer code and show another currency.
    const bool isoShaped = code.size() == 3 && std::all_of(code.begin(), code.end(), [](QChar c) {
                               return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
                           });
    if (!isoShaped)
        return std::nullopt;
    const Format format = open(UNUM_CURRENCY, locale);
    if (!format)
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    unum_setTextAttribute(format.get(), UNUM_CURRENCY_CODE, reinterpret_cast<const UChar *>(code.utf16()),
                          int32_t(code.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    // After the code: choosing a currency brings that currency's own fraction digits.
    unum_setAttribute(format.get(), UNUM_MAX_FRACTION_DIGITS, 6);
    QString text(64, Qt::Uninitialized);
    for (int attempt = 0; attempt < 2; ++attempt) {
        status = U_ZERO_ERROR;
        const int32_t length = unum_formatDouble(format.get(), amount, reinterpret_cast<UChar *>(text.data()),
                                                 int32_t(text.size()), nullptr, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
            text.resize(length); // huge amounts: the first call told how long the text is
            continue;
        }
        if (U_FAILURE(status) || length <= 0 || length > text.size())
            return std::nullopt;
        text.truncate(length);
        return text;
    }
    return std::nullopt;
}

QString currencyOrPlain(double amount, const QString &code, const QLocale &locale)
{
    if (auto text = currency(amount, code, locale))
        return *std::move(text);
    return json::shortestDouble(amount) + QLatin1Char(' ') + code;
}
} // namespace icunumbers
