// Configuration profiles: writing, reading back, and every way a file can be wrong.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "settings/config_profile.h"
#include "settings/conversions.h"

namespace {

TConfigValues Sample()
{
    TConfigValues v;
    v.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
    v.channels = {QStringLiteral("903.032"), QStringLiteral("915"),     QStringLiteral("926.968"),
                  QStringLiteral("910.072"), QStringLiteral("915.064"), QStringLiteral("920.184"),
                  QStringLiteral("905.848"), QStringLiteral("911.992"), QStringLiteral("918.136"),
                  QStringLiteral("907.384"), QStringLiteral("913.528"), QStringLiteral("919.672")};
    v.temperature = QStringLiteral("-1.9");
    v.customBaud = QStringLiteral("78000");
    v.mode = 3;
    v.rfDataRate = 4;
    v.channel = 12;
    v.masterSlave = 1;
    v.uartEnable = 1;
    v.baudRate = 7;
    v.bitSettings = 10;
    v.flowControl = 1;
    v.outputPins[3] = v.outputPins[11] = true;
    v.address = QStringLiteral("0A0B");
    return v;
}

// The default profile with one member replaced (or removed, for an undefined value).
QByteArray With(const QString& member, const QJsonValue& value)
{
    QJsonObject o = QJsonDocument::fromJson(WriteConfigProfile(TConfigValues{})).object();
    if (value.isUndefined()) o.remove(member);
    else o.insert(member, value);
    return QJsonDocument(o).toJson();
}

}  // namespace

class TestConfigProfile : public QObject {
    Q_OBJECT

private slots:
    void startValuesAsWritten()
    {
        // The file a person sees for the page's start values (the README shows it).
        const QByteArray expected = R"({
    "format": "tarnwick-config-profile",
    "version": 1,
    "encryptionKey": "1F2E3D4C5B6A79880F1E2D3C4B5A6978",
    "channel12Frequencies": ["915.064", "915.064", "915.064"],
    "channel13Frequencies": ["915.064", "915.064", "915.064"],
    "channel14Frequencies": ["915.064", "915.064", "915.064"],
    "channel15Frequencies": ["915.064", "915.064", "915.064"],
    "temperatureCalibration": "0",
    "customSerialBaudRate": "300",
    "powerUpMode": "Cable Link",
    "rfDataRate": "76800 bps",
    "rfChannel": "Channel 0",
    "pointToPoint": "Point A",
    "uartEnable": "UART Enable",
    "uartBaudRate": "115200 baud",
    "uartBitSettings": "8,n,1",
    "uartFlowControl": "Hardware",
    "outputPins": [1],
    "unitAddress": "FFFE"
}
)";
        QCOMPARE(WriteConfigProfile(TConfigValues{}), expected);
    }

    void roundTrip()
    {
        const TConfigValues v = Sample();
        const TConfigProfileRead r = ReadConfigProfile(WriteConfigProfile(v));
        QVERIFY2(r.check.ok, qPrintable(r.check.Lines().join(QLatin1Char('\n'))));
        QVERIFY(r.check.unknown.isEmpty());
        QCOMPARE(r.values, SettledConfigValues(v));
        QCOMPARE(r.values.channels[1], QStringLiteral("914.936"));
        QCOMPARE(r.values.temperature, QStringLiteral("-1.9"));
    }

    void unfinishedTextsAreSettledOnSaving()
    {
        TConfigValues v;
        v.key = QStringLiteral("abc");
        v.channels[0] = QString();
        v.temperature = QStringLiteral("-");
        v.customBaud = QString();
        v.uartEnable = -1;
        v.address = QStringLiteral("1 2");
        const TConfigProfileRead r = ReadConfigProfile(WriteConfigProfile(v));
        QVERIFY(r.check.ok);
        QCOMPARE(r.values.key, QString(29, QLatin1Char('0')) + QStringLiteral("ABC"));
        QCOMPARE(r.values.channels[0], QStringLiteral("915.064"));
        QCOMPARE(r.values.temperature, QStringLiteral("0"));
        QCOMPARE(r.values.customBaud, QStringLiteral("300"));
        QCOMPARE(r.values.uartEnable, 1);
        QCOMPARE(r.values.address, QStringLiteral("0000"));
    }

    // Texts the fields keep and the number reading takes, but a profile
    // does not: saved as the number they stand for, so the file loads.
    void fieldTextsTheReaderRefusesAreSavedAsTheirNumber_data()
    {
        QTest::addColumn<QString>("temperature");
        QTest::addColumn<QString>("baud");
        QTest::newRow("plus sign") << QStringLiteral("+5") << QStringLiteral("+9600");
        QTest::newRow("exponent") << QStringLiteral("1e3") << QStringLiteral("1e4");
        QTest::newRow("leading space") << QStringLiteral(" 5") << QStringLiteral(" 9600");
        QTest::newRow("trailing space") << QStringLiteral("-7.5 ") << QStringLiteral("78000 ");
    }
    void fieldTextsTheReaderRefusesAreSavedAsTheirNumber()
    {
        QFETCH(QString, temperature);
        QFETCH(QString, baud);
        TConfigValues v;
        v.temperature = temperature;
        v.customBaud = baud;
        const TConfigProfileRead r = ReadConfigProfile(WriteConfigProfile(v));
        QVERIFY2(r.check.ok, qPrintable(r.check.Lines().join(QLatin1Char('\n'))));
        QString savedT = r.values.temperature, savedB = r.values.customBaud;
        QCOMPARE(ParseTemperatureOffset(savedT), ParseTemperatureOffset(temperature));
        QCOMPARE(ParseCustomBaud(savedB), ParseCustomBaud(baud));
    }

    void typedFormsAreAccepted()
    {
        QJsonObject o = QJsonDocument::fromJson(With(QStringLiteral("encryptionKey"), QStringLiteral("abc"))).object();
        o.insert(QStringLiteral("powerUpMode"), QStringLiteral("remote control"));
        o.insert(QStringLiteral("channel13Frequencies"),
                 QJsonArray{QStringLiteral("903"), QStringLiteral("927"), QStringLiteral("915.1")});
        o.insert(QStringLiteral("outputPins"), QJsonArray{2, 12});
        const TConfigProfileRead r = ReadConfigProfile(QJsonDocument(o).toJson());
        QVERIFY2(r.check.ok, qPrintable(r.check.Lines().join(QLatin1Char('\n'))));
        QCOMPARE(r.values.key, QString(29, QLatin1Char('0')) + QStringLiteral("ABC"));
        QCOMPARE(r.values.mode, 3);
        QCOMPARE(r.values.channels[3], QStringLiteral("903.032"));
        QCOMPARE(r.values.channels[4], QStringLiteral("926.968"));
        QCOMPARE(r.values.channels[5], QStringLiteral("915.064"));
        QVERIFY(r.values.outputPins[0] && r.values.outputPins[1] && r.values.outputPins[11]);
        QVERIFY(!r.values.outputPins[2]);
    }

    void badMembers_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("named");  // what the message must say
        QTest::newRow("bad hex") << With(QStringLiteral("encryptionKey"), QStringLiteral("1F2G")) << "\"encryptionKey\": \"G\" is not a hexadecimal digit";
        QTest::newRow("key too long") << With(QStringLiteral("encryptionKey"), QString(33, QLatin1Char('A'))) << "\"encryptionKey\": 33 digits, at most 32 fit";
        QTest::newRow("address bad hex") << With(QStringLiteral("unitAddress"), QStringLiteral("12 4")) << "\"unitAddress\": \" \" is not a hexadecimal digit";
        QTest::newRow("frequency out of range")
            << With(QStringLiteral("channel14Frequencies"), QJsonArray{QStringLiteral("915.064"), QStringLiteral("928"), QStringLiteral("915.064")})
            << "\"channel14Frequencies\": frequency 2: 928 MHz is outside 902.968 to 927.032 MHz";
        QTest::newRow("frequency not a number")
            << With(QStringLiteral("channel12Frequencies"), QJsonArray{QStringLiteral("9l5"), QStringLiteral("915"), QStringLiteral("915")})
            << "\"channel12Frequencies\": frequency 1: \"9l5\" is not a number";
        QTest::newRow("two frequencies") << With(QStringLiteral("channel15Frequencies"), QJsonArray{QStringLiteral("915"), QStringLiteral("915")})
                                         << "\"channel15Frequencies\": a list of 3 texts in quotes is needed";
        QTest::newRow("temperature out of range") << With(QStringLiteral("temperatureCalibration"), QStringLiteral("-32769"))
                                                  << "\"temperatureCalibration\": -32769 is outside -32768 to 32767";
        QTest::newRow("temperature empty") << With(QStringLiteral("temperatureCalibration"), QString())
                                           << "\"temperatureCalibration\": empty; a number is needed";
        QTest::newRow("baud too low") << With(QStringLiteral("customSerialBaudRate"), QStringLiteral("73"))
                                      << "\"customSerialBaudRate\": 73 is outside 74 to 128290 baud";
        QTest::newRow("baud too long") << With(QStringLiteral("customSerialBaudRate"), QStringLiteral("1282900"))
                                       << "\"customSerialBaudRate\": \"1282900\" is longer than 6 characters";
        QTest::newRow("unknown item") << With(QStringLiteral("powerUpMode"), QStringLiteral("Repeater"))
                                      << "\"powerUpMode\": \"Repeater\" is not one of its items (Cable Link, Command, Peripheral, Remote Control, AT Command)";
        QTest::newRow("unknown channel") << With(QStringLiteral("rfChannel"), QStringLiteral("Channel 16"))
                                         << "\"rfChannel\": \"Channel 16\" is not one of its items (Channel 0 to Channel 15)";
        QTest::newRow("index for item") << With(QStringLiteral("uartBitSettings"), 3) << "\"uartBitSettings\": a text in quotes is needed";
        QTest::newRow("number for text") << With(QStringLiteral("customSerialBaudRate"), 9600) << "\"customSerialBaudRate\": a text in quotes is needed";
        QTest::newRow("pins as text") << With(QStringLiteral("outputPins"), QStringLiteral("1,2")) << "\"outputPins\": a list of whole numbers is needed";
        QTest::newRow("pin 17") << With(QStringLiteral("outputPins"), QJsonArray{1, 17}) << "\"outputPins\": 17 is no header pin (1 to 16)";
        QTest::newRow("fixed pin") << With(QStringLiteral("outputPins"), QJsonArray{1, 13}) << "\"outputPins\": header pin 13 cannot be set";
        QTest::newRow("missing member") << With(QStringLiteral("pointToPoint"), QJsonValue::Undefined) << "\"pointToPoint\": missing";
        QTest::newRow("truncated") << WriteConfigProfile(TConfigValues{}).left(300) << "The file is not valid JSON";
        QTest::newRow("empty file") << QByteArray() << "The file is not valid JSON";
        QTest::newRow("array") << QByteArray("[1, 2]") << "The file holds no JSON object.";
        QTest::newRow("other format") << With(QStringLiteral("format"), QStringLiteral("tarnwick-command-script"))
                                      << "is not a tarnwick-config-profile file";
        QTest::newRow("version text") << With(QStringLiteral("version"), QStringLiteral("1")) << "\"version\": a whole number from 1 is needed.";
        QTest::newRow("newer version") << With(QStringLiteral("version"), 2)
                                       << "The file has format version 2, written by a newer panel; this panel reads version 1 and older.";
    }
    void badMembers()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, named);
        const TConfigProfileRead r = ReadConfigProfile(file);
        QVERIFY(!r.check.ok);
        QCOMPARE(r.values, TConfigValues{});
        const QString message = r.check.Lines().join(QLatin1Char('\n'));
        QVERIFY2(message.contains(named), qPrintable(message));
    }

    void newerVersionIsRefusedWhateverItHolds()
    {
        QJsonObject o;
        o.insert(QStringLiteral("format"), configprofile::kFormat);
        o.insert(QStringLiteral("version"), 7);
        o.insert(QStringLiteral("somethingNew"), true);
        const TConfigProfileRead r = ReadConfigProfile(QJsonDocument(o).toJson());
        QVERIFY(!r.check.ok);
        QVERIFY(r.check.newerVersion);
        QCOMPARE(r.check.problems.size(), 1);
    }

    // One message names every problem and lists the unknown members.
    void everyProblemInOneMessage()
    {
        QJsonObject o = QJsonDocument::fromJson(WriteConfigProfile(TConfigValues{})).object();
        o.remove(QStringLiteral("rfDataRate"));
        o.insert(QStringLiteral("unitAddress"), QStringLiteral("XYZ"));
        o.insert(QStringLiteral("uartFlowControl"), QStringLiteral("Xon/Xoff"));
        o.insert(QStringLiteral("comment"), QStringLiteral("site B"));
        o.insert(QStringLiteral("channel16Frequencies"), QJsonArray{});
        const TConfigProfileRead r = ReadConfigProfile(QJsonDocument(o).toJson());
        QVERIFY(!r.check.ok);
        QCOMPARE(r.check.problems.size(), 3);
        const QString message = r.check.Lines().join(QLatin1Char('\n'));
        for (const char* member : {"\"rfDataRate\": missing", "\"unitAddress\"", "\"uartFlowControl\"",
                                   "(ignored): \"channel16Frequencies\", \"comment\""})
            QVERIFY2(message.contains(QLatin1String(member)), qPrintable(message));
    }

    void unknownMembersAloneDoNotStopLoading()
    {
        const TConfigProfileRead r = ReadConfigProfile(With(QStringLiteral("site"), QStringLiteral("B")));
        QVERIFY(r.check.ok);
        QCOMPARE(r.check.unknown, QStringList{QStringLiteral("site")});
        QCOMPARE(r.values, TConfigValues{});
    }
};

QTEST_GUILESS_MAIN(TestConfigProfile)
#include "test_config_profile.moc"
