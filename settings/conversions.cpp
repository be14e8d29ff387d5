#include "settings/conversions.h"

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace {

const QString kChannelFallback = QStringLiteral("915.064");

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Shared shape of the decimal filters: controls and 8-bit characters pass,
// accepted characters pass, the rest is dropped with a beep.
template <typename Accept>
bool Filter(QChar& key, Accept accept)
{
    const ushort u = key.unicode();
    if (u < 32 || u >= 128) return false;
    if (accept(key)) return false;
    key = QChar(0);
    return true;
}

// strtold in the "C" locale: the program reads "." as the decimal point
// whatever the user's locale says.
long double StrToLdC(const char* s, char** end)
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtold_l(s, end, c);
}

void SetBeep(bool* beep, bool v)
{
    if (beep) *beep = v;
}

}  // namespace

bool IsHexDigit(QChar c)
{
    const QChar u = c.toUpper();
    return IsDigit(u) || (u >= QLatin1Char('A') && u <= QLatin1Char('F'));
}

int FirstNonHex(const QString& text)
{
    for (int i = 0; i < text.size(); ++i)
        if (!IsHexDigit(text.at(i))) return i;
    return -1;
}

bool FilterHexKey(QChar& key)
{
    const ushort u = key.unicode();
    if (u < 32 || u >= 128) return false;
    key = key.toUpper();
    if (IsDigit(key) || (key >= QLatin1Char('A') && key <= QLatin1Char('F'))) return false;
    key = QChar(0);
    return true;
}

bool FilterDecKey(QChar& key)
{
    return Filter(key, [](QChar c) { return IsDigit(c) || c == QLatin1Char('.'); });
}

bool FilterTemperatureKey(QChar& key)
{
    return Filter(key, [](QChar c) { return IsDigit(c) || c == QLatin1Char('-'); });
}

bool FilterBaudKey(QChar& key)
{
    return Filter(key, [](QChar c) { return IsDigit(c); });
}

QString PadHexText(const QString& text, int width)
{
    if (width <= 0) return {};
    QString result(width, QLatin1Char('0'));
    int pos = width - 1;
    for (int i = std::min<int>(text.size(), width) - 1; i >= 0 && pos >= 0; --i) {
        if (!IsHexDigit(text.at(i))) break;
        result[pos--] = text.at(i).toUpper();
    }
    return result;
}

static QString IntToHex2(int v)
{
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

QString DataLengthWhileTyping(const QString& data)
{
    return data.size() > 1 ? IntToHex2((data.size() - 1) / 2) : QStringLiteral("00");
}

THexData NormalizeHexData(const QString& text)
{
    QString digits;
    for (int i = text.size() - 1; i >= 0 && IsHexDigit(text.at(i)); --i) digits.prepend(text.at(i).toUpper());
    if (text.size() % 2 == 1) digits.prepend(QLatin1Char('0'));
    const int bytes = int(digits.size()) / 2 - 1;
    THexData r;
    r.length = bytes < 0 ? QStringLiteral("00") : IntToHex2(bytes);
    r.data = digits.isEmpty() ? QStringLiteral("00") : digits;
    return r;
}

std::optional<long double> ReadDecimal(const QString& text)
{
    const std::string s = text.toStdString();
    size_t i = 0;
    const size_t n = s.size();
    while (i < n && s[i] == ' ') ++i;
    const size_t start = i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exp = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++exp;
        if (exp == 0) return std::nullopt;
    }
    const size_t end = i;
    while (i < n && s[i] == ' ') ++i;
    if (i != n) return std::nullopt;
    const std::string number = s.substr(start, end - start);
    char* stop = nullptr;
    const long double v = StrToLdC(number.c_str(), &stop);
    if (stop != number.c_str() + number.size()) return std::nullopt;
    return v;
}

long double RoundEven(long double x)
{
    // The default rounding mode is to nearest, ties to even.
    return std::nearbyintl(x);
}

QString FormatFixed(long double value, int minIntDigits, int decimals)
{
    if (!std::isfinite(value)) return QString::number(double(value));
    const bool negative = std::signbit(value);
    const long double a = std::fabs(value);

    // 18 significant digits first, then decimal rounding half away from zero.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17Le", a);
    std::string digits;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    int pointPos = a == 0 ? 1 : exponent + 1;  // digits before the decimal point

    const int keep = pointPos + decimals;
    std::string kept;
    if (keep < 0) {
        kept.clear();
    } else if (keep >= int(digits.size())) {
        kept = digits + std::string(keep - digits.size(), '0');
    } else {
        kept = digits.substr(0, keep);
        if (digits[keep] >= '5') {
            int i = keep - 1;
            for (; i >= 0; --i) {
                if (kept[i] == '9') {
                    kept[i] = '0';
                } else {
                    ++kept[i];
                    break;
                }
            }
            if (i < 0) {
                kept.insert(kept.begin(), '1');
                ++pointPos;
            }
        }
    }
    // Digits of the integer part and of the fraction.
    std::string intPart, frac;
    const int intCount = int(kept.size()) - decimals;
    if (intCount > 0) {
        intPart = kept.substr(0, intCount);
        frac = kept.substr(intCount);
    } else {
        frac = std::string(-intCount, '0') + kept;
    }
    while (frac.size() < size_t(decimals)) frac = '0' + frac;
    size_t lead = 0;
    while (lead < intPart.size() && intPart[lead] == '0') ++lead;
    intPart = intPart.substr(lead);
    while (intPart.size() < size_t(minIntDigits)) intPart = '0' + intPart;

    bool allZero = true;
    for (char c : intPart + frac)
        if (c != '0') allZero = false;

    std::string out;
    if (negative && !allZero) out += '-';
    out += intPart;
    if (decimals > 0) out += '.' + frac;
    return QString::fromStdString(out);
}

QString ChannelStepText(int step)
{
    return FormatFixed(static_cast<long double>(step) * kChannelStepMHz + kReferenceMHz, 0, 3);
}

int NormalizeChannelFrequency(QString& text, bool* beep)
{
    SetBeep(beep, false);
    long double f;
    if (const auto v = ReadDecimal(text)) {
        f = *v;
    } else {
        text = kChannelFallback;
        f = kReferenceMHz;
    }
    if (f < kLowestMHz || f > kHighestMHz) {
        SetBeep(beep, true);
        text = kChannelFallback;
        return 0;
    }
    const long double n = RoundEven((f - kReferenceMHz) / kChannelStepMHz);
    text = FormatFixed(n * kChannelStepMHz + kReferenceMHz, 0, 3);
    return static_cast<int>(n);
}

// The number the text holds; a text that holds none becomes "0" and reads as 0.
static long double DecimalOrZero(QString& text)
{
    if (const auto v = ReadDecimal(text)) return *v;
    text = QStringLiteral("0");
    return 0;
}

int ParseTemperatureOffset(QString& text, bool* beep)
{
    SetBeep(beep, false);
    const long double x = DecimalOrZero(text);
    if (x < -32768.0L || x > 32767.0L) {
        SetBeep(beep, true);
        text = QStringLiteral("0");
        return 0;
    }
    return static_cast<int>(std::truncl(x));
}

int ParseCustomBaud(QString& text, bool* beep)
{
    SetBeep(beep, false);
    const long double x = DecimalOrZero(text);
    if (x < kMinCustomBaud || x > kMaxCustomBaud) {
        SetBeep(beep, true);
        text = QStringLiteral("300");
        return 300;
    }
    return static_cast<int>(std::truncl(x));
}

int BaudDivisor(int baud)
{
    // Callers pass a checked rate; the guards keep a stray value from
    // dividing by zero or leaving the 16-bit register.
    if (baud <= 0) return kMaxBaudDivisor;
    const long double d = RoundEven(kBaudClock / static_cast<long double>(baud));
    if (d > kMaxBaudDivisor) return kMaxBaudDivisor;
    if (d < 1) return 1;
    return static_cast<int>(d);
}

long double ActualBaud(int divisor)
{
    return kBaudClock / static_cast<long double>(divisor < 1 ? 1 : divisor);
}

QString BaudLabelText(int baud)
{
    const long double actual = ActualBaud(BaudDivisor(baud));
    const long double error = (actual - baud) / baud * 100;
    return QStringLiteral("baud ( Actual baud = ") + FormatFixed(actual, 0, 0) + QStringLiteral(", ") +
           FormatFixed(error, 1, 2) + QStringLiteral("% Error )");
}
