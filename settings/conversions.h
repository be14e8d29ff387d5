#pragma once
// Text rules and number conversions of the Config Memory fields, without
// widgets. A conversion takes the field text by reference, may replace it
// with its fallback text and returns the value; *beep is set when the input
// must be answered with the system beep.
#include <QChar>
#include <QString>
#include <optional>

// ---- Constants of the module's configuration memory.
constexpr long double kReferenceMHz = 915.064L;
constexpr long double kChannelStepMHz = 0.128L;
constexpr long double kLowestMHz = 902.968L;
constexpr long double kHighestMHz = 927.032L;
constexpr long double kBaudClock = 4875000.0L;
constexpr int kMaxBaudDivisor = 65535;
constexpr int kMinCustomBaud = 74;
constexpr int kMaxCustomBaud = 128290;

// ---- Key filters: key by reference, set to QChar(0) when suppressed.
// Return true when the keystroke is answered with a beep. Control
// characters (below 32) and 8-bit ones (128 and up) always pass.
bool FilterHexKey(QChar& key);
bool FilterDecKey(QChar& key);          // 0-9 and "."
bool FilterTemperatureKey(QChar& key);  // 0-9 and "-"
bool FilterBaudKey(QChar& key);         // 0-9

bool IsHexDigit(QChar c);  // upper- or lower-case
// Index of the first character that is not a hex digit, or -1.
int FirstNonHex(const QString& text);

// ---- Hexadecimal field texts.
// The trailing run of hex digits of the first min(len, width) characters,
// upper-cased, right-aligned and zero-filled to width.
QString PadHexText(const QString& text, int width);
// "Length (Hex)" while the data is typed: (length - 1) div 2, or "00".
QString DataLengthWhileTyping(const QString& data);
struct THexData {
    QString data;    // normalised "Data (Hex)" text
    QString length;  // matching "Length (Hex)" text
};
// "Data (Hex)" on exit: trailing hex run, "0" in front when the text's
// length was odd, "00" when empty; length = bytes - 1.
THexData NormalizeHexData(const QString& text);

// ---- Numbers.
// Decimal number with "." as the decimal point (leading/trailing blanks,
// sign and exponent allowed); nullopt when the text does not read as one.
std::optional<long double> ReadDecimal(const QString& text);
// Round to nearest, ties to even, in extended precision.
long double RoundEven(long double x);

// Delphi-style FormatFloat for a fixed-point pattern: decimals places,
// at least minIntDigits integer digits ("###.000": 0, 3; "#0.00": 1, 2;
// "######": 0, 0). Rounds half away from zero on 18 significant digits.
QString FormatFixed(long double value, int minIntDigits, int decimals);

// Channel step (count of 0.128 MHz steps from 915.064 MHz); the text becomes
// the step's frequency with three decimals, or "915.064".
int NormalizeChannelFrequency(QString& text, bool* beep = nullptr);
// Frequency text of a channel step ("915.064" for 0).
QString ChannelStepText(int step);
// Temperature offset -32768..32767, truncated; the text is kept when valid.
int ParseTemperatureOffset(QString& text, bool* beep = nullptr);
// Baud 74..128290, truncated; out of range or not a number gives "300".
int ParseCustomBaud(QString& text, bool* beep = nullptr);

// Round(4875000 / baud), at most 65535.
int BaudDivisor(int baud);
// The rate the module really runs at with that divisor.
long double ActualBaud(int divisor);
// BaudLabel caption: "baud ( Actual baud = 9596, -0.04% Error )".
QString BaudLabelText(int baud);
