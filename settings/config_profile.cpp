#include "settings/config_profile.h"

#include <QRegularExpression>

#include "settings/conversions.h"
#include "settings/power_up_rules.h"

namespace {

namespace m {
const QString kKey = QStringLiteral("encryptionKey");
const QString kTemperature = QStringLiteral("temperatureCalibration");
const QString kCustomBaud = QStringLiteral("customSerialBaudRate");
const QString kMode = QStringLiteral("powerUpMode");
const QString kRate = QStringLiteral("rfDataRate");
const QString kChannel = QStringLiteral("rfChannel");
const QString kPoint = QStringLiteral("pointToPoint");
const QString kUARTEnable = QStringLiteral("uartEnable");
const QString kBaud = QStringLiteral("uartBaudRate");
const QString kBits = QStringLiteral("uartBitSettings");
const QString kFlow = QStringLiteral("uartFlowControl");
const QString kPins = QStringLiteral("outputPins");
const QString kAddress = QStringLiteral("unitAddress");
QString Channel(int row) { return QStringLiteral("channel%1Frequencies").arg(12 + row); }
}  // namespace m

// The fields' MaxLength.
constexpr int kKeyLength = 32;
constexpr int kAddressLength = 4;
constexpr int kChannelLength = 7;
constexpr int kTemperatureLength = 6;
constexpr int kBaudLength = 6;

QString Item(const QStringList& items, int index) { return index >= 0 && index < items.size() ? items[index] : items[0]; }

// A plain decimal number as the entry fields take it: digits, at most one
// point, a leading minus where the field allows one.
QString CheckDecimal(const QString& text, int maxLength, bool sign)
{
    static const QRegularExpression plain(QStringLiteral("^-?([0-9]+\\.?[0-9]*|\\.[0-9]+)$"));
    if (text.isEmpty()) return QStringLiteral("empty; a number is needed");
    if (text.size() > maxLength) return QStringLiteral("\"%1\" is longer than %2 characters").arg(text).arg(maxLength);
    if (!plain.match(text).hasMatch() || (!sign && text.startsWith(QLatin1Char('-'))))
        return QStringLiteral("\"%1\" is not a number").arg(text);
    return {};
}

}  // namespace

QString CheckHexField(const QString& text, int maxLength, QString* settled)
{
    const int bad = FirstNonHex(text);
    if (bad >= 0) return QStringLiteral("\"%1\" is not a hexadecimal digit").arg(text.at(bad));
    if (text.size() > maxLength) return QStringLiteral("%1 digits, at most %2 fit").arg(text.size()).arg(maxLength);
    if (settled) *settled = PadHexText(text, maxLength);
    return {};
}

QString CheckChannelField(const QString& text, QString* settled)
{
    if (QString why = CheckDecimal(text, kChannelLength, false); !why.isEmpty()) return why;
    QString t = text;
    bool beep = false;
    NormalizeChannelFrequency(t, &beep);
    if (beep) return QStringLiteral("%1 MHz is outside 902.968 to 927.032 MHz").arg(text);
    if (settled) *settled = t;
    return {};
}

QString CheckTemperatureField(const QString& text, QString* settled)
{
    if (QString why = CheckDecimal(text, kTemperatureLength, true); !why.isEmpty()) return why;
    QString t = text;
    bool beep = false;
    ParseTemperatureOffset(t, &beep);
    if (beep) return QStringLiteral("%1 is outside -32768 to 32767").arg(text);
    if (settled) *settled = t;
    return {};
}

QString CheckCustomBaudField(const QString& text, QString* settled)
{
    if (QString why = CheckDecimal(text, kBaudLength, false); !why.isEmpty()) return why;
    QString t = text;
    bool beep = false;
    ParseCustomBaud(t, &beep);
    if (beep) return QStringLiteral("%1 is outside 74 to 128290 baud").arg(text);
    if (settled) *settled = t;
    return {};
}

TConfigValues SettledConfigValues(const TConfigValues& values)
{
    TConfigValues v = values;
    v.key = PadHexText(v.key, kKeyLength);
    v.address = PadHexText(v.address, kAddressLength);
    // A pasted non-hex character empties the field (HexKeyChange).
    if (FirstNonHex(values.key) >= 0) v.key = QString(kKeyLength, QLatin1Char('0'));
    if (FirstNonHex(values.address) >= 0) v.address = QString(kAddressLength, QLatin1Char('0'));
    for (QString& c : v.channels) NormalizeChannelFrequency(c);
    // The fields keep texts such as "+5", "1e3" or " 5" that the number
    // reading takes but a profile does not: those are written as the number
    // they stand for (the image is the same), so a saved profile loads.
    const int temperature = ParseTemperatureOffset(v.temperature);
    if (!CheckTemperatureField(v.temperature, nullptr).isEmpty()) v.temperature = QString::number(temperature);
    const int baud = ParseCustomBaud(v.customBaud);
    if (!CheckCustomBaudField(v.customBaud, nullptr).isEmpty()) v.customBaud = QString::number(baud);
    if (v.uartEnable < 0) v.uartEnable = 1;
    return v;
}

QByteArray WriteConfigProfile(const TConfigValues& values)
{
    using namespace powerup;
    const TConfigValues v = SettledConfigValues(values);
    TProfileWriter w(configprofile::kFormat, configprofile::kVersion);
    w.Text(m::kKey, v.key);
    for (int row = 0; row < 4; ++row)
        w.Texts(m::Channel(row), {v.channels[size_t(row * 3)], v.channels[size_t(row * 3 + 1)],
                                  v.channels[size_t(row * 3 + 2)]});
    w.Text(m::kTemperature, v.temperature);
    w.Text(m::kCustomBaud, v.customBaud);
    w.Text(m::kMode, Item(ModeItems(), v.mode));
    w.Text(m::kRate, Item(RFDataRateItems(), v.rfDataRate));
    w.Text(m::kChannel, Item(ChannelItems(), v.channel));
    w.Text(m::kPoint, Item(MasterSlaveItems(), v.masterSlave));
    w.Text(m::kUARTEnable, Item(UARTEnableItems(), v.uartEnable));
    w.Text(m::kBaud, Item(BaudRateItems(), v.baudRate));
    w.Text(m::kBits, Item(BitSettingsItems(), v.bitSettings));
    w.Text(m::kFlow, Item(FlowControlItems(), v.flowControl));
    std::vector<int> pins;
    for (int pin = 1; pin <= 16; ++pin)
        if (v.outputPins[size_t(pin - 1)]) pins.push_back(pin);
    w.Numbers(m::kPins, pins);
    w.Text(m::kAddress, v.address);
    return w.Bytes();
}

TConfigProfileRead ReadConfigProfile(const QByteArray& bytes)
{
    using namespace powerup;
    TConfigProfileRead r;
    TProfileReader in(bytes, configprofile::kFormat, configprofile::kVersion, r.check);
    if (!in.Readable()) return r;
    TConfigValues v;

    auto field = [&](const QString& name, QString* target, auto check) {
        if (const auto t = in.Text(name)) {
            const QString why = check(*t, target);
            if (!why.isEmpty()) in.Problem(name, why);
        }
    };
    field(m::kKey, &v.key, [](const QString& t, QString* s) { return CheckHexField(t, kKeyLength, s); });
    for (int row = 0; row < 4; ++row) {
        const auto texts = in.Texts(m::Channel(row), 3);
        if (!texts) continue;
        for (int k = 0; k < 3; ++k) {
            const QString why = CheckChannelField((*texts)[size_t(k)], &v.channels[size_t(row * 3 + k)]);
            if (!why.isEmpty()) in.Problem(m::Channel(row), QStringLiteral("frequency %1: ").arg(k + 1) + why);
        }
    }
    field(m::kTemperature, &v.temperature, CheckTemperatureField);
    field(m::kCustomBaud, &v.customBaud, CheckCustomBaudField);

    auto item = [&](const QString& name, int* target, const QStringList& items) {
        if (const auto i = in.Item(name, items)) *target = *i;
    };
    item(m::kMode, &v.mode, ModeItems());
    item(m::kRate, &v.rfDataRate, RFDataRateItems());
    item(m::kChannel, &v.channel, ChannelItems());
    item(m::kPoint, &v.masterSlave, MasterSlaveItems());
    item(m::kUARTEnable, &v.uartEnable, UARTEnableItems());
    item(m::kBaud, &v.baudRate, BaudRateItems());
    item(m::kBits, &v.bitSettings, BitSettingsItems());
    item(m::kFlow, &v.flowControl, FlowControlItems());

    if (const auto pins = in.Numbers(m::kPins)) {
        for (int pin = 1; pin <= 16; ++pin) v.outputPins[size_t(pin - 1)] = PinStartsChecked(pin);
        for (int pin : *pins) {
            if (pin < 1 || pin > 16) {
                in.Problem(m::kPins, QStringLiteral("%1 is no header pin (1 to 16)").arg(pin));
            } else if (PinFixed(pin) && !PinStartsChecked(pin)) {
                in.Problem(m::kPins, QStringLiteral("header pin %1 cannot be set").arg(pin));
            } else {
                v.outputPins[size_t(pin - 1)] = true;  // pin 1 is always set, listed or not
            }
        }
    }
    field(m::kAddress, &v.address, [](const QString& t, QString* s) { return CheckHexField(t, kAddressLength, s); });

    in.Finish();
    if (r.check.ok) r.values = v;
    return r;
}
