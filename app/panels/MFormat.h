// Text forms of numbers and dates for the panels. Numbers are always written
// and read with "." as the decimal point, whatever the user's locale, so a
// shown value can be typed back; dates use the locale's short date with a
// four-digit year. Date values are OLE serials (days since 30 Dec 1899).
#pragma once

#include <QString>

#include <optional>
#include <string>

class QDateTime;

namespace MFormat {

// Fixed patterns "0", "0.0", "0.000", "0.00%": the digits after the point,
// rounded, at least one digit before it; "%" multiplies by 100.
QString Pattern(double value, const QString& pattern);
QString Fixed(double value, int places);
// "#,###,##0": digit groups of three with the locale's group separator.
QString Grouped(long long value);
// The general form of a double: as many digits as it needs, no grouping; a
// value that is exactly a single-precision number with that number's digits.
QString General(double value);
// A number typed by the user ("." as the point); nullopt when it is none.
std::optional<double> ParseNumber(const QString& text);

QDateTime DateFromSerial(double serial);
double SerialFromDate(const QDateTime& dateTime);
// The locale's short date; with the time of day (HH:mm:ss) when the serial has a fraction.
QString ShortDate(double serial);
// A date typed in the locale's short form (two- or four-digit year), or
// yyyy-MM-dd, each optionally followed by a time; nullopt when it is none.
std::optional<double> ParseDate(const QString& text);

// The data-source name shown for a connect string: the text after its first
// "DSN=" up to the next ";" (or the end); "" when there is no "DSN=".
QString DsnName(const std::string& connect);

}  // namespace MFormat
