// Conversions and text rules of the Config Memory fields, without widgets.
#include <QtTest>

#include "settings/conversions.h"
#include "settings/power_up_rules.h"

class TestConversions : public QObject {
    Q_OBJECT

    struct Channel {
        QString text;
        int step;
        bool beep;
    };
    static Channel Normalize(const QString& in)
    {
        Channel c{in, 0, false};
        c.step = NormalizeChannelFrequency(c.text, &c.beep);
        return c;
    }

    // A field's text rule: the text as the field keeps it, its value, and
    // whether it beeped, for each text typed.
    static void TextRuleColumns()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("beep");
    }
    static void CheckTextRule(int (*rule)(QString&, bool*))
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QFETCH(int, value);
        QFETCH(bool, beep);
        QString text = in;
        bool beeped = false;
        QCOMPARE(rule(text, &beeped), value);
        QCOMPARE(text, out);
        QCOMPARE(beeped, beep);
    }

private slots:
    void channelStepsRoundInExtendedPrecision_data()
    {
        TextRuleColumns();
        QTest::newRow("915 just under -0.5") << "915" << "914.936" << -1 << false;
        QTest::newRow("903 lowest advertised") << "903" << "903.032" << -94 << false;
        QTest::newRow("927 highest advertised") << "927" << "926.968" << 93 << false;
        QTest::newRow("915.1") << "915.1" << "915.064" << 0 << false;
        QTest::newRow("reference") << "915.064" << "915.064" << 0 << false;
        QTest::newRow("lower bound") << "902.968" << "903.032" << -94 << false;
        QTest::newRow("upper bound") << "927.032" << "926.968" << 93 << false;
        QTest::newRow("902.9 below") << "902.9" << "915.064" << 0 << true;
        QTest::newRow("928 above") << "928" << "915.064" << 0 << true;
        QTest::newRow("927.1 above") << "927.1" << "915.064" << 0 << true;
        QTest::newRow("empty") << "" << "915.064" << 0 << false;
        QTest::newRow("two points") << "915..1" << "915.064" << 0 << false;
        QTest::newRow("letters") << "abc" << "915.064" << 0 << false;
        QTest::newRow("trailing point") << "920." << "920.056" << 39 << false;
    }
    void channelStepsRoundInExtendedPrecision() { CheckTextRule(NormalizeChannelFrequency); }

    void everyAcceptedStepFormatsBackToItself()
    {
        // The text written back reads again as the same step.
        for (int n = -94; n <= 93; ++n) {
            const QString text = ChannelStepText(n);
            QCOMPARE(Normalize(text).step, n);
            QCOMPARE(Normalize(text).text, text);
        }
        QCOMPARE(ChannelStepText(0), QStringLiteral("915.064"));
        QCOMPARE(ChannelStepText(-6), QStringLiteral("914.296"));
    }

    void temperatureOffset_data()
    {
        TextRuleColumns();
        QTest::newRow("zero") << "0" << "0" << 0 << false;
        QTest::newRow("lowest") << "-32768" << "-32768" << -32768 << false;
        QTest::newRow("highest") << "32767" << "32767" << 32767 << false;
        QTest::newRow("below") << "-32769" << "0" << 0 << true;
        QTest::newRow("above") << "32768" << "0" << 0 << true;
        QTest::newRow("lone minus") << "-" << "0" << 0 << false;
        QTest::newRow("empty") << "" << "0" << 0 << false;
        QTest::newRow("truncated toward zero") << "-1.9" << "-1.9" << -1 << false;
        QTest::newRow("positive fraction kept") << "12.7" << "12.7" << 12 << false;
        QTest::newRow("minus inside") << "1-2" << "0" << 0 << false;
    }
    void temperatureOffset() { CheckTextRule(ParseTemperatureOffset); }

    void customBaud_data()
    {
        TextRuleColumns();
        QTest::newRow("default") << "300" << "300" << 300 << false;
        QTest::newRow("lowest") << "74" << "74" << 74 << false;
        QTest::newRow("highest") << "128290" << "128290" << 128290 << false;
        QTest::newRow("73") << "73" << "300" << 300 << true;
        QTest::newRow("128291") << "128291" << "300" << 300 << true;
        QTest::newRow("empty beeps") << "" << "300" << 300 << true;
        QTest::newRow("not a number") << "9x" << "300" << 300 << true;
    }
    void customBaud() { CheckTextRule(ParseCustomBaud); }

    void baudDivisorAndLabel_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("divisor");
        QTest::addColumn<QString>("label");
        const auto L = [](const char* actual, const char* error) {
            return QStringLiteral("baud ( Actual baud = %1, %2% Error )").arg(QLatin1String(actual), QLatin1String(error));
        };
        QTest::newRow("300") << 300 << 16250 << L("300", "0.00");
        QTest::newRow("1200 tie to even") << 1200 << 4062 << L("1200", "0.01");
        QTest::newRow("9600") << 9600 << 508 << L("9596", "-0.04");
        QTest::newRow("19200") << 19200 << 254 << L("19193", "-0.04");
        QTest::newRow("57600") << 57600 << 85 << L("57353", "-0.43");
        QTest::newRow("115200") << 115200 << 42 << L("116071", "0.76");
        QTest::newRow("74 capped") << 74 << 65535 << L("74", "0.52");
        QTest::newRow("31250 exact") << 31250 << 156 << L("31250", "0.00");
        QTest::newRow("128290") << 128290 << 38 << L("128289", "0.00");
    }
    void baudDivisorAndLabel()
    {
        QFETCH(int, baud);
        QFETCH(int, divisor);
        QFETCH(QString, label);
        QCOMPARE(BaudDivisor(baud), divisor);
        QCOMPARE(BaudLabelText(baud), label);
    }

    void formatFixedRoundsLikeTheFormatPatterns()
    {
        QCOMPARE(FormatFixed(914.936L, 0, 3), QStringLiteral("914.936"));
        QCOMPARE(FormatFixed(0.5L, 0, 3), QStringLiteral(".500"));
        QCOMPARE(FormatFixed(116071.428L, 0, 0), QStringLiteral("116071"));
        QCOMPARE(FormatFixed(2.5L, 0, 0), QStringLiteral("3"));   // half away from zero
        QCOMPARE(FormatFixed(-2.5L, 0, 0), QStringLiteral("-3"));
        QCOMPARE(FormatFixed(0.125L, 1, 2), QStringLiteral("0.13"));
        QCOMPARE(FormatFixed(-0.0369L, 1, 2), QStringLiteral("-0.04"));
        QCOMPARE(FormatFixed(99.996L, 1, 2), QStringLiteral("100.00"));
        QCOMPARE(FormatFixed(0.0L, 1, 2), QStringLiteral("0.00"));
        QCOMPARE(FormatFixed(-0.001L, 1, 2), QStringLiteral("0.00"));
    }

    void readDecimalAcceptsOnlyNumbers()
    {
        QCOMPARE(ReadDecimal(QStringLiteral("915.064")).value_or(-1), 915.064L);
        QCOMPARE(ReadDecimal(QStringLiteral(" -12 ")).value_or(0), -12.0L);
        QCOMPARE(ReadDecimal(QStringLiteral(".5")).value_or(0), 0.5L);
        QCOMPARE(ReadDecimal(QStringLiteral("1e3")).value_or(0), 1000.0L);
        for (const char* bad : {"", "-", ".", "1.2.3", "1 2", "12a", "1e", "0x10", "1,5"})
            QVERIFY2(!ReadDecimal(QLatin1String(bad)).has_value(), bad);
    }

    void keyFilters()
    {
        struct Case {
            bool (*filter)(QChar&);
            char in;
            char out;  // 0: suppressed
            bool beep;
        };
        const Case cases[] = {
            {FilterHexKey, 'b', 'B', false}, {FilterHexKey, 'F', 'F', false}, {FilterHexKey, '7', '7', false},
            {FilterHexKey, 'g', 0, true},    {FilterHexKey, ' ', 0, true},    {FilterHexKey, '\r', '\r', false},
            {FilterHexKey, '\b', '\b', false},
            {FilterDecKey, '.', '.', false}, {FilterDecKey, '5', '5', false}, {FilterDecKey, '-', 0, true},
            {FilterDecKey, 'e', 0, true},
            {FilterTemperatureKey, '-', '-', false}, {FilterTemperatureKey, '.', 0, true},
            {FilterBaudKey, '9', '9', false},        {FilterBaudKey, '.', 0, true}, {FilterBaudKey, '-', 0, true},
        };
        for (const Case& c : cases) {
            QChar k = QLatin1Char(c.in);
            const bool beep = c.filter(k);
            QCOMPARE(beep, c.beep);
            QCOMPARE(k.unicode(), ushort(uchar(c.out)));
        }
        // 8-bit characters pass every filter unchanged.
        QChar high(0xE9);
        QVERIFY(!FilterHexKey(high));
        QCOMPARE(high, QChar(0xE9));
    }

    void hexPaddingAndDataLength()
    {
        QCOMPARE(PadHexText(QStringLiteral("1a"), 4), QStringLiteral("001A"));
        QCOMPARE(PadHexText(QString(), 4), QStringLiteral("0000"));
        QCOMPARE(PadHexText(QStringLiteral("X12"), 4), QStringLiteral("0012"));
        QCOMPARE(PadHexText(QStringLiteral("12345"), 4), QStringLiteral("1234"));
        QCOMPARE(PadHexText(QStringLiteral("abcde"), 32), QString(27, QLatin1Char('0')) + QStringLiteral("ABCDE"));
        QCOMPARE(PadHexText(QStringLiteral("F"), 2), QStringLiteral("0F"));

        QCOMPARE(DataLengthWhileTyping(QStringLiteral("A")), QStringLiteral("00"));
        QCOMPARE(DataLengthWhileTyping(QStringLiteral("ABC")), QStringLiteral("01"));
        QCOMPARE(DataLengthWhileTyping(QString(64, QLatin1Char('F'))), QStringLiteral("1F"));

        const THexData odd = NormalizeHexData(QStringLiteral("ABC"));
        QCOMPARE(odd.data, QStringLiteral("0ABC"));
        QCOMPARE(odd.length, QStringLiteral("01"));
        const THexData empty = NormalizeHexData(QString());
        QCOMPARE(empty.data, QStringLiteral("00"));
        QCOMPARE(empty.length, QStringLiteral("00"));
        const THexData lower = NormalizeHexData(QStringLiteral("ab"));
        QCOMPARE(lower.data, QStringLiteral("AB"));
        QCOMPARE(lower.length, QStringLiteral("00"));
    }

    void powerUpRowsByMode()
    {
        using namespace powerup;
        const TVisibility cable = VisibilityFor(pmCableLink);
        QVERIFY(cable.masterSlave && cable.uartSettings && cable.address && cable.note3);
        QVERIFY(!cable.uartEnable && !cable.outputs);
        const TVisibility remote = VisibilityFor(pmRemoteControl);
        QVERIFY(remote.outputs && remote.masterSlave && !remote.uartSettings && !remote.address);
        QVERIFY(VisibilityFor(pmPeripheral, 0).uartSettings);
        QVERIFY(!VisibilityFor(pmPeripheral, 1).uartSettings);
        QVERIFY(!VisibilityFor(pmPeripheral, -1).uartSettings);
        for (int m : {pmCommand, pmATCommand}) {
            const TVisibility v = VisibilityFor(m);
            QVERIFY(v.rfDataRate && v.channel && v.uartSettings);
            QVERIFY(!v.masterSlave && !v.uartEnable && !v.address && !v.note3 && !v.outputs);
        }
        for (int pin = 1; pin <= 16; ++pin)
            QCOMPARE(PinFixed(pin), pin == 1 || pin == 11 || pin >= 13);
    }
};

QTEST_APPLESS_MAIN(TestConversions)
#include "test_conversions.moc"
