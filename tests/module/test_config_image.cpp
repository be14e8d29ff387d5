// The configuration image built from the page's values.
#include <QtTest>

#include "module/config_image.h"
#include "settings/config_values.h"

namespace {

QByteArray Bytes(const TConfigImage& img, int from, int count)
{
    return QByteArray(reinterpret_cast<const char*>(img.data()) + from, count);
}

QByteArray Hex(const char* spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

}  // namespace

class TestConfigImage : public QObject {
    Q_OBJECT

private slots:
    void initialPageGivesTheKnownBlocks()
    {
        int rejected = -1;
        const TConfigImage img = ConfigImage(TConfigValues{}, &rejected);
        QCOMPARE(rejected, 0);
        // Block 4 and 5: channels 0-11 from the template, 12-15 all at step 0.
        QCOMPARE(Bytes(img, 0x00, 8), Hex("D8 08 38 D8 DC 0C 3C DC"));
        QCOMPARE(Bytes(img, 0x28, 8), Hex("D0 00 30 D0 D4 04 34 D4"));
        QCOMPARE(Bytes(img, 0x30, 16), QByteArray(16, '\0'));
        // Block 6: key, then the power-up bytes and the address.
        QCOMPARE(Bytes(img, 0x40, 16), Hex("1F 2E 3D 4C 5B 6A 79 88 0F 1E 2D 3C 4B 5A 69 78"));
        QCOMPARE(Bytes(img, 0x50, 16), Hex("00 00 00 00 00 00 F1 18 00 00 00 00 00 00 FE FF"));
        // Block 7.
        QCOMPARE(Bytes(img, 0x60, 13), Hex("FE FF 00 00 1F 1B 01 00 02 01 41 54 44"));
        QCOMPARE(Bytes(img, 0x6D, 13), Hex("00 00 00 00 00 2B 2B 2B 41 54 48 00 00"));
        QCOMPARE(Bytes(img, 0x7A, 6), Hex("7A 3F FF FF FF FF"));
    }

    void powerUpBytesByMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("uartEnable");
        QTest::addColumn<QByteArray>("row");  // 0x52 0x53 0x56 0x57 0x5C 0x66
        // Baud "9600 baud" (list 4, module 3), "8,e,1" (0x78), flow "None", channel 5.
        QTest::newRow("Cable Link A") << 0 << 0 << 0 << 0 << Hex("00 00 F1 7C 01 01");
        QTest::newRow("Cable Link B") << 0 << 0 << 1 << 0 << Hex("00 00 B1 7C 01 01");
        QTest::newRow("Cable Link 4800 B") << 0 << 4 << 1 << 0 << Hex("00 00 A1 7C 01 01");
        QTest::newRow("Command any role") << 1 << 0 << 1 << 0 << Hex("00 00 D1 7C 01 14");
        QTest::newRow("Command 9600 bps") << 1 << 3 << 0 << 0 << Hex("00 00 C5 7C 01 14");
        QTest::newRow("Peripheral") << 2 << 0 << 0 << 0 << Hex("00 00 91 7B 01 04");
        QTest::newRow("Peripheral UART off") << 2 << 0 << 0 << 1 << Hex("00 00 91 00 01 04");
        QTest::newRow("Peripheral typed text") << 2 << 0 << 0 << -1 << Hex("00 00 91 00 01 04");
        QTest::newRow("Remote Control A") << 3 << 1 << 0 << 0 << Hex("01 00 ED 00 00 09");
        QTest::newRow("Remote Control B") << 3 << 0 << 1 << 0 << Hex("01 00 B1 00 00 09");
        QTest::newRow("AT Command") << 4 << 0 << 1 << 0 << Hex("00 00 D1 7C 01 02");
    }
    void powerUpBytesByMode()
    {
        QFETCH(int, mode);
        QFETCH(int, rate);
        QFETCH(int, role);
        QFETCH(int, uartEnable);
        QFETCH(QByteArray, row);
        TConfigValues v;
        v.mode = mode;
        v.rfDataRate = rate;
        v.masterSlave = role;
        v.uartEnable = uartEnable;
        v.baudRate = 4;
        v.bitSettings = 1;
        v.flowControl = 1;
        v.channel = 5;
        const TConfigImage img = ConfigImage(v);
        const QByteArray got = QByteArray() + char(img[0x52]) + char(img[0x53]) + char(img[0x56]) + char(img[0x57]) +
                               char(img[0x5C]) + char(img[0x66]);
        QCOMPARE(got.toHex(' '), row.toHex(' '));
        QCOMPARE(img[0x55], uint8_t(20));
        QCOMPARE(img[0x67], uint8_t(0));
    }

    void baudCodesAndFrameBits()
    {
        const uint8_t frames[12] = {0x18, 0x78, 0x38, 0x98, 0xF8, 0xB8, 0x08, 0x68, 0x28, 0x88, 0xE8, 0xA8};
        for (int bits = 0; bits < 12; ++bits) QCOMPARE(PowerUpUARTByte(0, 0, bits, 0), frames[bits]);
        const uint8_t module[8] = {4, 0, 1, 2, 3, 5, 6, 7};
        for (int baud = 0; baud < 8; ++baud) {
            QCOMPARE(PowerUpUARTByte(1, baud, 0, 0), uint8_t(0x18 | baud));
            QCOMPARE(PowerUpUARTByte(4, baud, 0, 0), uint8_t(0x18 | baud));
            QCOMPARE(PowerUpUARTByte(2, baud, 0, 0), uint8_t(0x18 | module[baud]));
        }
    }

    void outputPinsOnlyInRemoteControl()
    {
        TConfigValues v;
        v.outputPins.fill(false);
        v.outputPins[0] = true;
        v.mode = 3;
        TConfigImage img = ConfigImage(v);
        QCOMPARE(img[0x52], uint8_t(0x01));
        QCOMPARE(img[0x53], uint8_t(0x00));
        QCOMPARE(img[0x57], uint8_t(0x00));
        QCOMPARE(img[0x5C], uint8_t(0x00));
        v.outputPins.fill(true);
        v.outputPins[8] = false;
        img = ConfigImage(v);
        QCOMPARE(img[0x52], uint8_t(0xFF));
        QCOMPARE(img[0x53], uint8_t(0xFE));
        v.mode = 0;
        img = ConfigImage(v);
        QCOMPARE(img[0x52], uint8_t(0x00));
        QCOMPARE(img[0x53], uint8_t(0x00));
    }

    void customBaudDivisor_data()
    {
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QByteArray>("divisor");
        QTest::addColumn<int>("rejected");
        QTest::newRow("74 capped") << "74" << Hex("FF FF") << 0;
        QTest::newRow("128290") << "128290" << Hex("26 00") << 0;
        QTest::newRow("9600") << "9600" << Hex("FC 01") << 0;
        QTest::newRow("out of range") << "50" << Hex("7A 3F") << 1;
        QTest::newRow("empty") << "" << Hex("7A 3F") << 1;
    }
    void customBaudDivisor()
    {
        QFETCH(QString, baud);
        QFETCH(QByteArray, divisor);
        QFETCH(int, rejected);
        TConfigValues v;
        v.customBaud = baud;
        int r = -1;
        QCOMPARE(Bytes(ConfigImage(v, &r), 0x7A, 2), divisor);
        QCOMPARE(r, rejected);
    }

    void temperatureAndChannels()
    {
        TConfigValues v;
        v.temperature = QStringLiteral("-1.9");
        v.channels = {QStringLiteral("903"),   QStringLiteral("927"),   QStringLiteral("915"),
                      QStringLiteral("915.1"), QStringLiteral("928"),   QStringLiteral(""),
                      QStringLiteral("916"),   QStringLiteral("914"),   QStringLiteral("920"),
                      QStringLiteral("902.968"), QStringLiteral("927.032"), QStringLiteral("abc")};
        int rejected = -1;
        const TConfigImage img = ConfigImage(v, &rejected);
        QCOMPARE(Bytes(img, 0x62, 2), Hex("FF FF"));
        // A B C A, D E F D, G H I G, J K L J; two's complement steps.
        QCOMPARE(Bytes(img, 0x30, 16), Hex("A2 5D FF A2 00 00 00 00 07 F8 27 07 A2 5D 00 A2"));
        QCOMPARE(rejected, 1);  // 928
        v.temperature = QStringLiteral("32768");
        v.channels.fill(QStringLiteral("915.064"));
        const TConfigImage again = ConfigImage(v, &rejected);
        QCOMPARE(Bytes(again, 0x62, 2), Hex("00 00"));
        QCOMPARE(rejected, 1);
        v.temperature = QStringLiteral("-32768");
        QCOMPARE(Bytes(ConfigImage(v), 0x62, 2), Hex("00 80"));
    }

    void keyAndAddressPairs()
    {
        TConfigValues v;
        v.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
        v.address = QStringLiteral("12ab");
        TConfigImage img = ConfigImage(v);
        QCOMPARE(Bytes(img, 0x40, 16), Hex("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"));
        QCOMPARE(Bytes(img, 0x5E, 4), Hex("AB 12 AB 12"));
        // A missing or malformed pair gives 0xFF.
        v.key = QStringLiteral("1G2");
        v.address = QStringLiteral("1a");
        img = ConfigImage(v);
        QCOMPARE(Bytes(img, 0x40, 3), Hex("FF FF FF"));
        QCOMPARE(Bytes(img, 0x5E, 4), Hex("FF 1A FF 1A"));
    }
};

QTEST_APPLESS_MAIN(TestConfigImage)
#include "test_config_image.moc"
