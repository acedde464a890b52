#pragma once

#include <QLocale>
#include <QString>

#include <optional>

// Number and currency formatting through ICU: Qt's locale cannot format an arbitrary currency
// code, and it does not expose a locale's secondary grouping size.
namespace icunumbers
{
struct DecimalStyle
{
    int primaryGroup = 3;   // digits in the rightmost group
    int secondaryGroup = 3; // digits in every group further left
    QString groupingSeparator = QStringLiteral(",");
    QString decimalSeparator = QStringLiteral(".");
};

// The grouping and separators of `locale`'s decimal style; the defaults above where ICU gives none.
DecimalStyle decimalStyle(const QLocale &locale);

// `amount` in `locale`'s currency style for the ISO code `currency`, with at most 6 fraction
// digits; nothing when ICU refuses the code or gives no text.
std::optional<QString> currency(double amount, const QString &currency, const QLocale &locale);

// As currency(), falling back to the amount's shortest round-trip text, a space and the code.
QString currencyOrPlain(double amount, const QString &code, const QLocale &locale);
} // namespace icunumbers
