#include "MFormat.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <charconv>
#include <cmath>

namespace MFormat {

namespace {

const QDate kEpoch(1899, 12, 30);

QString LongYear(QString format) {
    if (!format.contains(QLatin1String("yyyy"))) format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

}  // namespace

QString Fixed(double value, int places) {
    if (places < 0) return General(value);
    QString s = QLocale::c().toString(value, 'f', places);
    // "-0" and "-0.00" read as zero.
    bool allZero = true;
    for (QChar c : s)
        if (c.isDigit() && c != QLatin1Char('0')) allZero = false;
    if (allZero && s.startsWith(QLatin1Char('-'))) s.remove(0, 1);
    return s;
}

QString Pattern(double value, const QString& pattern) {
    const bool percent = pattern.endsWith(QLatin1Char('%'));
    const int point = pattern.indexOf(QLatin1Char('.'));
    int places = 0;
    if (point >= 0)
        for (int i = point + 1; i < pattern.size() && pattern[i] == QLatin1Char('0'); ++i) ++places;
    return Fixed(percent ? value * 100.0 : value, places) + (percent ? QStringLiteral("%") : QString());
}

QString Grouped(long long value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale.toString(value);
}

QString General(double value) {
    if (value == 0) return QStringLiteral("0");
    char buf[64];
    std::to_chars_result r;
    // Statistics kept in single precision show the digits they were stored with
    // (4.3, not 4.30000019073486); anything else the shortest exact form.
    const float single = float(value);
    if (std::isfinite(value) && double(single) == value) r = std::to_chars(buf, buf + sizeof buf, single);
    else r = std::to_chars(buf, buf + sizeof buf, value);
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

std::optional<double> ParseNumber(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    bool ok = false;
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    const double d = c.toDouble(t, &ok);
    if (!ok || !std::isfinite(d)) return std::nullopt;
    return d;
}

QDateTime DateFromSerial(double serial) {
    const double days = std::floor(serial);
    const double fraction = serial - days;
    const qint64 ms = std::llround(fraction * 86400000.0);
    return QDateTime(kEpoch.addDays(qint64(days)), QTime(0, 0), QTimeZone::utc()).addMSecs(ms);
}

double SerialFromDate(const QDateTime& dateTime) {
    const double days = double(kEpoch.daysTo(dateTime.date()));
    return days + double(dateTime.time().msecsSinceStartOfDay()) / 86400000.0;
}

QString ShortDate(double serial) {
    const QDateTime dt = DateFromSerial(serial);
    QLocale locale;
    QString text = dt.date().toString(LongYear(locale.dateFormat(QLocale::ShortFormat)));
    if (dt.time() != QTime(0, 0)) text += dt.time().toString(QStringLiteral(" HH:mm:ss"));
    return text;
}

std::optional<double> ParseDate(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    QLocale locale;
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    const QStringList dateFormats = {LongYear(shortFormat), shortFormat, QStringLiteral("yyyy-MM-dd")};
    const QStringList timeFormats = {QString(), QStringLiteral(" H:mm"), QStringLiteral(" H:mm:ss")};
    for (const QString& df : dateFormats) {
        for (const QString& tf : timeFormats) {
            QDateTime dt = QDateTime::fromString(t, df + tf);
            if (!dt.isValid()) continue;
            if (!df.contains(QLatin1String("yyyy")) && dt.date().year() < 1930) dt = dt.addYears(100);
            dt.setTimeZone(QTimeZone::utc());
            return SerialFromDate(dt);
        }
    }
    return std::nullopt;
}

QString DsnName(const std::string& connect) {
    const auto start = connect.find("DSN=");
    if (start == std::string::npos) return {};
    const auto from = start + 4;
    const auto end = connect.find(';', from);
    return QString::fromStdString(connect.substr(from, end == std::string::npos ? std::string::npos : end - from));
}

}  // namespace MFormat
