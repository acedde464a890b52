#pragma once

#include "core/Json.h"

#include <QString>
#include <QStringView>

#include <optional>

// Number reading that accepts exactly the written forms the platform's fields promise, whatever a
// general-purpose parser would let through (blanks, fractions, exponents, hexadecimal).
namespace strictnumbers
{
// One optional "+" or "-", then ASCII digits only, within the signed 64-bit range.
std::optional<qint64> signedInteger(QStringView text);
// A floating-point number: optional sign, digits with an optional fraction and exponent (also
// "inf" and "nan"). No blanks.
std::optional<double> floatingPoint(QStringView text);
// The display text of a JSON number, as event payloads flatten numbers.
QString plainText(const Json &number);
} // namespace strictnumbers
