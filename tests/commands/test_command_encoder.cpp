// The command encoder, the code tables and the log line, without widgets.
#include <QtTest>

#include "commands/command_catalogue.h"
#include "commands/command_encoder.h"
#include "commands/command_log.h"

namespace {

TCommandParam Text(const QString& t)
{
    TCommandParam p;
    p.text = t;
    return p;
}

TCommandParam Box(bool on)
{
    TCommandParam p;
    p.checked = on;
    return p;
}

TCommandRowValues Row(int command, std::vector<TCommandParam> params = {})
{
    return TCommandRowValues{command, std::move(params)};
}

QByteArray Bytes(const TEncodedCommand& e)
{
    QByteArray out;
    for (uint8_t b : FrameBytes(e.CommandFrame)) out.append(char(b));
    return out;
}

TCommandRowValues Pins(int command, std::initializer_list<int> checked)
{
    std::vector<TCommandParam> p(16);
    for (int pin : checked) p[size_t(pin - 1)].checked = true;
    return Row(command, p);
}

}  // namespace

class TestCommandEncoder : public QObject {
    Q_OBJECT

private slots:
    void framesOfTheCatalogue_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QList<QString>>("texts");
        QTest::addColumn<QList<int>>("items");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("reply");

        const QList<QString> none;
        const QList<int> noItems;
        QTest::newRow("connect 12AB") << int(cmd::Connect) << QList<QString>{"12AB"} << noItems
                                      << QByteArray::fromHex("00AB12") << 1;
        QTest::newRow("disconect") << int(cmd::Disconect) << none << noItems << QByteArray::fromHex("01") << 1;
        QTest::newRow("write registers") << int(cmd::WriteRegisters) << QList<QString>{"3", "01", "0102"}
                                         << noItems << QByteArray::fromHex("20310102") << 1;
        QTest::newRow("read registers") << int(cmd::ReadRegisters) << QList<QString>{"2", "03"} << noItems
                                        << QByteArray::fromHex("2123") << 5;
        QTest::newRow("write flash") << int(cmd::WriteFlash) << QList<QString>{"2", "02", "A1B2C3"} << noItems
                                     << QByteArray::fromHex("3042A1B2C3") << 1;
        QTest::newRow("erase flash") << int(cmd::EraseFlash) << none << noItems << QByteArray::fromHex("40") << 2;
        QTest::newRow("read flash") << int(cmd::ReadFlash) << QList<QString>{"1", "0F"} << noItems
                                    << QByteArray::fromHex("312F") << 17;
        QTest::newRow("send serial data") << int(cmd::SendSerialData) << QList<QString>{"0", "00", "41"}
                                          << noItems << QByteArray::fromHex("500041") << 1;
        QTest::newRow("nop 05") << int(cmd::Nop) << QList<QString>{"05"} << noItems
                                << QByteArray::fromHex("FFFFFFFFFF") << 0;
        QTest::newRow("nop 00") << int(cmd::Nop) << QList<QString>{"00"} << noItems << QByteArray() << 0;
        QTest::newRow("rf channel 3") << int(cmd::SetRFChannel) << none << QList<int>{3}
                                      << QByteArray::fromHex("20500C") << 1;
        QTest::newRow("rf channel 15") << int(cmd::SetRFChannel) << none << QList<int>{15}
                                       << QByteArray::fromHex("20503C") << 1;
        QTest::newRow("rf data rate 9600") << int(cmd::SetRFDataRate) << none << QList<int>{3}
                                           << QByteArray::fromHex("206004") << 1;
        QTest::newRow("uart 9600 8n1") << int(cmd::SetUART) << none << QList<int>{4, 0, 0}
                                       << QByteArray::fromHex("20701B") << 1;
        QTest::newRow("uart custom 7e2") << int(cmd::SetUART) << none << QList<int>{7, 10, 0}
                                         << QByteArray::fromHex("2070EF") << 1;
        QTest::newRow("uart 57600 8o2") << int(cmd::SetUART) << none << QList<int>{1, 5, 0}
                                        << QByteArray::fromHex("2070B8") << 1;
        QTest::newRow("a/d temperature") << int(cmd::SelectADChannel) << none << QList<int>{5}
                                         << QByteArray::fromHex("20400A") << 1;
        QTest::newRow("read a/d") << int(cmd::ReadAD) << none << noItems << QByteArray::fromHex("2161") << 3;
        QTest::newRow("read port pins") << int(cmd::ReadPortPins) << none << noItems
                                        << QByteArray::fromHex("2141") << 3;
        QTest::newRow("read version") << int(cmd::ReadVersion) << none << noItems << QByteArray::fromHex("0F")
                                      << 5;
        QTest::newRow("read rf status") << int(cmd::ReadRFStatus) << none << noItems
                                        << QByteArray::fromHex("60") << 2;
        QTest::newRow("no command") << int(cmd::None) << none << noItems << QByteArray() << 0;
        QTest::newRow("no selection") << -1 << none << noItems << QByteArray() << 0;
    }

    void framesOfTheCatalogue()
    {
        QFETCH(int, command);
        QFETCH(QList<QString>, texts);
        QFETCH(QList<int>, items);
        QFETCH(QByteArray, frame);
        QFETCH(int, reply);
        TCommandRowValues row = Row(command);
        for (const QString& t : texts) row.params.push_back(Text(t));
        for (int i = 0; i < items.size(); ++i) {
            if (row.params.size() <= size_t(i)) row.params.emplace_back();
            row.params[size_t(i)].item = items[i];
        }
        const TEncodedCommand e = EncodeCommand(row);
        QCOMPARE(Bytes(e), frame);
        QCOMPARE(e.ReplyLength, reply);
        QVERIFY(!e.RepeatFlag);
        QCOMPARE(PausesAfterFirstByte(e.ReplyLength), reply > 1);
    }

    void portPinsAndDirectionBits()
    {
        QCOMPARE(Bytes(EncodeCommand(Pins(cmd::SetPortPins, {1, 16}))), QByteArray::fromHex("20010180"));
        QCOMPARE(Bytes(EncodeCommand(Pins(cmd::SetPortDirection, {2, 8, 9}))), QByteArray::fromHex("20218201"));
        QCOMPARE(Bytes(EncodeCommand(Pins(cmd::SetPortPins, {}))), QByteArray::fromHex("20010000"));
    }

    void addressesAndLengthsAreMasked()
    {
        // Address digits 8..F keep their low three bits, lengths their count bits.
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::ReadRegisters, {Text("F"), Text("0F")}))),
                 QByteArray::fromHex("2177"));
        QCOMPARE(EncodeCommand(Row(cmd::ReadRegisters, {Text("F"), Text("0F")})).ReplyLength, 9);
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::ReadFlash, {Text("9"), Text("FF")}))), QByteArray::fromHex("313F"));
        QCOMPARE(EncodeCommand(Row(cmd::ReadFlash, {Text("9"), Text("FF")})).ReplyLength, 33);
        // An address that does not decode is sent with its masked bits.
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::ReadFlash, {Text(""), Text("00")}))), QByteArray::fromHex("31E0"));
    }

    void undecodableEntriesEndTheFrame()
    {
        // A Connect address too short to decode ends the frame after what came before.
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::Connect, {Text("12")}))), QByteArray::fromHex("00"));
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::Connect, {Text("12G4")}))), QByteArray::fromHex("00"));
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::Connect, {Text("X2AB")}))), QByteArray::fromHex("00AB"));
        // Data shorter than the length claims: the bytes before the gap still go.
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::WriteFlash, {Text("0"), Text("03"), Text("1122")}))),
                 QByteArray::fromHex("30031122"));
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::SendSerialData, {Text("0"), Text("01"), Text("4Z42")}))),
                 QByteArray::fromHex("5001"));
        // The frame end sits right after the last byte.
        const TEncodedCommand e = EncodeCommand(Row(cmd::Connect, {Text("12")}));
        QCOMPARE(e.CommandFrame[1], kFrameEnd);
        QCOMPARE(e.CommandFrame[255], kFrameEnd);
    }

    void writeDataFollowsTheMaskedLength()
    {
        // A length field set by other means to more than the command holds:
        // the header's count and the bytes carried still agree.
        const TEncodedCommand e = EncodeCommand(
            Row(cmd::WriteRegisters, {Text("0"), Text("FF"), Text("00112233445566778899AABB")}));
        QCOMPARE(Bytes(e), QByteArray::fromHex("2007") + QByteArray::fromHex("0011223344556677"));
        const TEncodedCommand f =
            EncodeCommand(Row(cmd::WriteFlash, {Text("7"), Text("1F"), Text(QString(64, QLatin1Char('A')))}));
        QCOMPARE(FrameLength(f.CommandFrame), 34);
        QCOMPARE(f.CommandFrame[1], uint16_t(0xFF));
    }

    void nopCounts()
    {
        QCOMPARE(FrameLength(EncodeCommand(Row(cmd::Nop, {Text("FF")})).CommandFrame), 255);
        QCOMPARE(FrameLength(EncodeCommand(Row(cmd::Nop, {Text("14")})).CommandFrame), 20);
        // A count that does not decode is clipped to 255, and the last entry still ends the frame.
        const TEncodedCommand e = EncodeCommand(Row(cmd::Nop, {Text("")}));
        QCOMPARE(FrameLength(e.CommandFrame), 255);
        QCOMPARE(e.CommandFrame[255], kFrameEnd);
        QCOMPARE(e.ReplyLength, 0);
        QVERIFY(!NeedsPresenceCheck(cmd::Nop));
        QVERIFY(NeedsPresenceCheck(cmd::ReadVersion));
    }

    void statusCommandsRepeat()
    {
        QVERIFY(EncodeCommand(Row(cmd::ReadStatus, {Box(true)})).RepeatFlag);
        QVERIFY(!EncodeCommand(Row(cmd::ReadStatus, {Box(false)})).RepeatFlag);
        QVERIFY(EncodeCommand(Row(cmd::ReadNotStatus, {Box(true)})).RepeatFlag);
        QCOMPARE(Bytes(EncodeCommand(Row(cmd::ReadNotStatus, {Box(true)}))), QByteArray::fromHex("03"));
        QVERIFY(RepeatSatisfied(cmd::ReadStatus, 0x6B));
        QVERIFY(!RepeatSatisfied(cmd::ReadStatus, 0x62));
        QVERIFY(RepeatSatisfied(cmd::ReadNotStatus, 0x62));
        QVERIFY(!RepeatSatisfied(cmd::ReadNotStatus, 0x6B));
        QVERIFY(!RepeatSatisfied(cmd::ReadVersion, 0x6B));
    }

    void codeTables()
    {
        QCOMPARE(CommandItems().size(), 22);
        QCOMPARE(CommandItems().at(cmd::ReadNotStatus), QStringLiteral("Read /Status"));
        QCOMPARE(CommandItems().at(cmd::ReadRFStatus), QStringLiteral("Read RF Status"));
        // The format codes are built from their bits: 8 data bits, parity, two stop bits.
        for (int i = 0; i < UartFormatItems().size(); ++i) {
            const QString f = UartFormatItems().at(i);
            uint8_t code = 0x08;
            if (f[0] == QLatin1Char('8')) code |= 0x10;
            if (f[2] == QLatin1Char('o')) code |= 0x20;
            if (f[2] == QLatin1Char('e')) code |= 0x60;
            if (f[4] == QLatin1Char('2')) code |= 0x80;
            QCOMPARE(UartFormatCode(i), code);
        }
        QCOMPARE(UartBaudItems().size(), 8);
        QCOMPARE(UartBaudCode(7), uint8_t(0x07));
        QCOMPARE(RFDataRateCode(0), uint8_t(0x10));
        QCOMPARE(RFDataRateCode(4), uint8_t(0x00));
        QCOMPARE(ADChannelCode(6), uint8_t(0x0B));
        QCOMPARE(RFChannelItems().last(), QStringLiteral("Channel 15"));
    }

    void logLineWrapsAt64()
    {
        QStringList log;
        TLogLine line([&](const QString& s) { log << s; });
        line.Start(QStringLiteral("1. "));
        for (int i = 0; i < 20; ++i) line.AppendSent(0xFF);
        line.Flush();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0], QStringLiteral("1. ") + QString(QStringLiteral("<FF>")).repeated(16));
        QCOMPARE(log[1], QString(11, QLatin1Char(' ')) + QString(QStringLiteral("<FF>")).repeated(4));

        // A continuation that gets nothing is not added; a "Peripheral " line holds 14 items.
        log.clear();
        line.Start(QStringLiteral("Peripheral "));
        for (int i = 0; i < 14; ++i) line.AppendReceived(uint8_t(0x30 + i));
        QCOMPARE(log.size(), 1);
        QVERIFY(!line.Pending());
        line.Flush();
        QCOMPARE(log.size(), 1);
        QVERIFY(log[0].startsWith(QStringLiteral("Peripheral [30][31]")));
        QCOMPARE(log[0].size(), 67);

        // Nothing appended: nothing added.
        log.clear();
        line.Start(QString());
        line.Flush();
        QVERIFY(log.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestCommandEncoder)
#include "test_command_encoder.moc"
