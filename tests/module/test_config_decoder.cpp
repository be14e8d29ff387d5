// The configuration image read back into the page's values, and the bytes
// the page cannot express.
#include <QtTest>

#include <random>

#include "module/config_decoder.h"
#include "module/config_image.h"
#include "settings/config_values.h"
#include "settings/conversions.h"
#include "settings/power_up_rules.h"

namespace {

using Rng = std::mt19937;

int Uniform(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

QString RandomHex(Rng& rng, int digits)
{
    static const char kDigits[] = "0123456789ABCDEFabcdef";
    QString s;
    for (int i = 0; i < digits; ++i) s += QLatin1Char(kDigits[Uniform(rng, 0, 21)]);
    return s;
}

// What a field can hold while the page is read: left fields, fields still
// being typed in (not yet normalised) and the odd invalid text.
QString RandomFrequency(Rng& rng)
{
    switch (Uniform(rng, 0, 9)) {
    case 0:
        return QStringLiteral("915.064");
    case 1: {
        static const char* junk[] = {"", ".", "928", "902.9", "1.2.3", "927.032", "902.968", "915"};
        return QString::fromLatin1(junk[Uniform(rng, 0, 7)]);
    }
    default: {
        const double f = 915.064 + Uniform(rng, -94, 93) * 0.128 + Uniform(rng, -63, 63) / 1000.0;
        return QString::number(f, 'f', Uniform(rng, 0, 3));
    }
    }
}

QString RandomTemperature(Rng& rng)
{
    switch (Uniform(rng, 0, 5)) {
    case 0:
        return QStringLiteral("-1.9");
    case 1: {
        static const char* odd[] = {"", "-", "-32768", "32767", "-32769", "40000", "0.5"};
        return QString::fromLatin1(odd[Uniform(rng, 0, 6)]);
    }
    default:
        return QString::number(Uniform(rng, -32768, 32767));
    }
}

QString RandomBaud(Rng& rng)
{
    switch (Uniform(rng, 0, 5)) {
    case 0: {
        static const char* odd[] = {"", "73", "74", "75", "78000", "128290", "128291", "9600", "115200"};
        return QString::fromLatin1(odd[Uniform(rng, 0, 8)]);
    }
    case 1:
        return QString::number(Uniform(rng, 74, 2000));
    default:
        return QString::number(Uniform(rng, 74, 128290));
    }
}

TConfigValues RandomFields(Rng& rng)
{
    TConfigValues v;
    v.key = RandomHex(rng, Uniform(rng, 0, 9) == 0 ? Uniform(rng, 0, 32) : 32);
    for (QString& c : v.channels) c = RandomFrequency(rng);
    v.temperature = RandomTemperature(rng);
    v.customBaud = RandomBaud(rng);
    v.channel = Uniform(rng, 0, 15);
    for (int pin = 1; pin <= 16; ++pin)
        v.outputPins[size_t(pin - 1)] = powerup::PinFixed(pin) ? powerup::PinStartsChecked(pin) : Uniform(rng, 0, 1);
    v.address = RandomHex(rng, Uniform(rng, 0, 9) == 0 ? Uniform(rng, 0, 4) : 4);
    return v;
}

// The decoded texts are what leaving each field would leave there.
bool TextsAreSettled(const TConfigValues& v)
{
    if (PadHexText(v.key, 32) != v.key || PadHexText(v.address, 4) != v.address) return false;
    for (const QString& c : v.channels) {
        QString t = c;
        bool beep = true;
        NormalizeChannelFrequency(t, &beep);
        if (t != c || beep) return false;
    }
    QString t = v.temperature, b = v.customBaud;
    bool beepT = true, beepB = true;
    ParseTemperatureOffset(t, &beepT);
    ParseCustomBaud(b, &beepB);
    return t == v.temperature && b == v.customBaud && !beepT && !beepB;
}

QByteArray Hex(const TConfigImage& img) { return QByteArray(reinterpret_cast<const char*>(img.data()), 128).toHex(' '); }

QString Offsets(const std::vector<TConfigDifference>& diffs)
{
    QStringList s;
    for (const auto& d : diffs) s << QString::number(d.offset, 16);
    return s.join(QLatin1Char(' '));
}

}  // namespace

class TestConfigDecoder : public QObject {
    Q_OBJECT

private slots:
    // All list combinations with random texts in the other fields, the same
    // random sequence on every run: decoding an image the Config Memory
    // page builds gives values that build that image byte for byte.
    void everyPageImageRoundTrips()
    {
        Rng rng(20261208);
        int cases = 0;
        for (int mode = 0; mode < 5; ++mode)
            for (int rate = 0; rate < 5; ++rate)
                for (int role = 0; role < 2; ++role)
                    for (int uartEnable = -1; uartEnable < 2; ++uartEnable)
                        for (int baud = 0; baud < 8; ++baud)
                            for (int bits = 0; bits < 12; ++bits)
                                for (int flow = 0; flow < 2; ++flow) {
                                    TConfigValues v = RandomFields(rng);
                                    v.mode = mode;
                                    v.rfDataRate = rate;
                                    v.masterSlave = role;
                                    v.uartEnable = uartEnable;
                                    v.baudRate = baud;
                                    v.bitSettings = bits;
                                    v.flowControl = flow;
                                    const TConfigImage img = ConfigImage(v);
                                    const TConfigDecoding d = DecodeConfigImage(img);
                                    if (!d.differences.empty() || ConfigImage(d.values) != img ||
                                        !TextsAreSettled(d.values)) {
                                        qWarning() << "case" << cases << "image" << Hex(img) << "differences at"
                                                   << Offsets(d.differences) << "key" << d.values.key << "baud"
                                                   << d.values.customBaud;
                                        QFAIL("page image did not round-trip");
                                    }
                                    ++cases;
                                }
        QCOMPARE(cases, 28800);
    }

    void decodedItemsAreTheChosenOnes()
    {
        TConfigValues v;
        v.mode = powerup::pmPeripheral;
        v.rfDataRate = 3;
        v.channel = 9;
        v.baudRate = 0;  // module baud code 4 in Peripheral
        v.bitSettings = 7;
        v.flowControl = 1;
        v.address = QStringLiteral("12AB");
        v.temperature = QStringLiteral("-300");
        v.customBaud = QStringLiteral("9600");
        v.channels[4] = QStringLiteral("903.032");
        const TConfigDecoding d = DecodeConfigImage(ConfigImage(v));
        QVERIFY(d.differences.empty());
        QCOMPARE(d.values, v);
    }

    void edgeCases_data()
    {
        QTest::addColumn<QString>("field");  // channel, temperature, baud
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");  // decoded text
        QTest::newRow("channel 915") << "channel" << "915" << "914.936";
        QTest::newRow("channel 903") << "channel" << "903" << "903.032";
        QTest::newRow("channel 927") << "channel" << "927" << "926.968";
        QTest::newRow("channel empty") << "channel" << "" << "915.064";
        QTest::newRow("temperature -1.9") << "temperature" << "-1.9" << "-1";
        QTest::newRow("temperature -32768") << "temperature" << "-32768" << "-32768";
        QTest::newRow("temperature 32767") << "temperature" << "32767" << "32767";
        QTest::newRow("baud 74") << "baud" << "74" << "74";
        // A divisor stands for a range of rates: a common rate in it is shown,
        // else the rate the module really runs at.
        QTest::newRow("baud 78000") << "baud" << "78000" << "78629";
        QTest::newRow("baud 128290") << "baud" << "128290" << "128000";
        QTest::newRow("baud 9600") << "baud" << "9600" << "9600";
        QTest::newRow("baud 115200") << "baud" << "115200" << "115200";
        QTest::newRow("baud invalid") << "baud" << "73" << "300";
    }
    void edgeCases()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        TConfigValues v;
        if (field == QLatin1String("channel")) v.channels[7] = typed;
        if (field == QLatin1String("temperature")) v.temperature = typed;
        if (field == QLatin1String("baud")) v.customBaud = typed;
        const TConfigImage img = ConfigImage(v);
        const TConfigDecoding d = DecodeConfigImage(img);
        QVERIFY(d.differences.empty());
        QCOMPARE(ConfigImage(d.values), img);
        const QString got = field == QLatin1String("channel")       ? d.values.channels[7]
                            : field == QLatin1String("temperature") ? d.values.temperature
                                                                    : d.values.customBaud;
        QCOMPARE(got, shown);
    }

    void divisorsWithoutABaudAreReported()
    {
        // 74 baud is stored as 65535; 65001..65534 stand between 75 and 74.39 baud.
        TConfigImage img = ConfigImage(TConfigValues{});
        img[0x7A] = 0xF0;
        img[0x7B] = 0xFD;  // 65008
        const TConfigDecoding d = DecodeConfigImage(img);
        QCOMPARE(Offsets(d.differences), QStringLiteral("7a 7b"));
        QCOMPARE(d.differences[0].reason, TDecodeReason::UnknownCode);
        QCOMPARE(d.values.customBaud, QStringLiteral("300"));
        QCOMPARE(d.differences[0].written, uint8_t(0x7A));  // 16250 at 300 baud
        QCOMPARE(d.differences[1].written, uint8_t(0x3F));
    }

    void unexpressibleBytes_data()
    {
        QTest::addColumn<int>("mode");  // page mode the image starts from
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("listed");  // offsets listed, hex
        QTest::addColumn<int>("reason");
        const auto R = [](TDecodeReason r) { return int(r); };
        QTest::newRow("template channel 0") << 0 << 0x00 << 0x11 << "0" << R(TDecodeReason::TemplateByte);
        QTest::newRow("template 0x7C") << 0 << 0x7C << 0x00 << "7c" << R(TDecodeReason::TemplateByte);
        QTest::newRow("constant 0x67") << 0 << 0x67 << 0x05 << "67" << R(TDecodeReason::TemplateByte);
        QTest::newRow("step +94") << 0 << 0x30 << 0x5E << "30" << R(TDecodeReason::ChannelStep);
        QTest::newRow("step -95") << 0 << 0x31 << 0xA1 << "31" << R(TDecodeReason::ChannelStep);
        QTest::newRow("fourth byte") << 0 << 0x37 << 0x05 << "37" << R(TDecodeReason::ChannelRepeat);
        QTest::newRow("mode code") << 0 << 0x66 << 0x07 << "66" << R(TDecodeReason::UnknownCode);
        QTest::newRow("rate code r=5") << 0 << 0x56 << 0xF5 << "56" << R(TDecodeReason::UnknownCode);
        QTest::newRow("rate bit 1") << 0 << 0x56 << 0xF3 << "56" << R(TDecodeReason::UnusedBits);
        QTest::newRow("role in Peripheral") << 2 << 0x56 << 0xD1 << "56" << R(TDecodeReason::UnusedBits);
        QTest::newRow("even without parity") << 0 << 0x57 << 0x58 << "57" << R(TDecodeReason::UnknownCode);
        QTest::newRow("frame bit 3 clear") << 0 << 0x57 << 0x10 << "57" << R(TDecodeReason::UnusedBits);
        QTest::newRow("UART in Remote") << 3 << 0x57 << 0x18 << "57" << R(TDecodeReason::UnusedBits);
        QTest::newRow("flow code 2") << 0 << 0x5C << 0x02 << "5c" << R(TDecodeReason::UnknownCode);
        QTest::newRow("flow in Remote") << 3 << 0x5C << 0x01 << "5c" << R(TDecodeReason::UnusedBits);
        QTest::newRow("channel x4 + 1") << 0 << 0x55 << 0x05 << "55" << R(TDecodeReason::UnusedBits);
        QTest::newRow("channel 16") << 0 << 0x55 << 0x40 << "55" << R(TDecodeReason::UnknownCode);
        QTest::newRow("pins outside Remote") << 0 << 0x52 << 0x02 << "52" << R(TDecodeReason::UnusedBits);
        QTest::newRow("pin 1 clear") << 3 << 0x52 << 0x00 << "52" << R(TDecodeReason::FixedPin);
        QTest::newRow("pin 16 set") << 3 << 0x53 << 0x80 << "53" << R(TDecodeReason::FixedPin);
        QTest::newRow("address copy") << 0 << 0x61 << 0x12 << "61" << R(TDecodeReason::AddressCopy);
    }
    void unexpressibleBytes()
    {
        QFETCH(int, mode);
        QFETCH(int, offset);
        QFETCH(int, byte);
        QFETCH(QString, listed);
        QFETCH(int, reason);
        TConfigValues v;
        v.mode = mode;
        TConfigImage img = ConfigImage(v);
        img[size_t(offset)] = uint8_t(byte);
        const TConfigDecoding d = DecodeConfigImage(img);
        QCOMPARE(Offsets(d.differences), listed);
        QCOMPARE(int(d.differences.front().reason), reason);
        QCOMPARE(d.differences.front().found, uint8_t(byte));
        // The rest of the image is still read: the page's image differs only there.
        const TConfigImage again = ConfigImage(d.values);
        for (int i = 0; i < 128; ++i) {
            bool isListed = false;
            for (const auto& diff : d.differences) isListed |= diff.offset == i;
            QCOMPARE(again[size_t(i)] != img[size_t(i)], isListed);
        }
    }

    // Any 128 bytes: the listed bytes are exactly where the page's image
    // differs, and that image reads back with nothing listed.
    void anyImageListsExactlyTheDifferences()
    {
        Rng rng(128);
        const TConfigImage base = ConfigImage(TConfigValues{});
        for (int n = 0; n < 4000; ++n) {
            TConfigImage img = base;
            if (n % 2 == 0) {
                for (auto& b : img) b = uint8_t(Uniform(rng, 0, 255));
            } else {
                for (int k = Uniform(rng, 1, 4); k > 0; --k) img[size_t(Uniform(rng, 0, 127))] = uint8_t(Uniform(rng, 0, 255));
            }
            const TConfigDecoding d = DecodeConfigImage(img);
            const TConfigImage again = ConfigImage(d.values);
            size_t next = 0;
            for (int i = 0; i < 128; ++i) {
                if (again[size_t(i)] == img[size_t(i)]) continue;
                QVERIFY2(next < d.differences.size() && d.differences[next].offset == i, qPrintable(Hex(img)));
                QCOMPARE(d.differences[next].found, img[size_t(i)]);
                QCOMPARE(d.differences[next].written, again[size_t(i)]);
                ++next;
            }
            QCOMPARE(next, d.differences.size());
            QVERIFY(DecodeConfigImage(again).differences.empty());
            QVERIFY(TextsAreSettled(d.values));
        }
    }

    void messageLines()
    {
        QVERIFY(DifferenceMessageLines({}).isEmpty());
        TConfigImage img = ConfigImage(TConfigValues{});
        img[0x66] = 0x07;
        img[0x7F] = 0x00;
        const QStringList lines = DifferenceMessageLines(DecodeConfigImage(img).differences);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0],
                 QStringLiteral("The configuration memory holds 2 bytes that the Config Memory page cannot show:"));
        QCOMPARE(lines[1], QStringLiteral("offset 0x66 (address 0xE6): 07, the page would write 01 (a code that no "
                                          "item has)"));
        QCOMPARE(lines[2], QStringLiteral("offset 0x7F (address 0xFF): 00, the page would write FF (a fixed byte of "
                                          "the template changed)"));
        QVERIFY(lines[3].contains(QLatin1String("\"Program Config\" would replace them")));
    }
};

QTEST_GUILESS_MAIN(TestConfigDecoder)
#include "test_config_decoder.moc"
