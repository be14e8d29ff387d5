// The traffic log: ring order and bounds, runs and their lines, CSV back
// and forth, the list model, and the port recording on a pty with the log
// file kept across a hang-up.
#include <QTemporaryDir>
#include <QtTest>

#include "pty_pair.h"
#include "serial/com_port.h"
#include "serial/ui/traffic_file_log.h"
#include "serial/ui/traffic_format.h"
#include "serial/traffic_log.h"
#include "serial/ui/traffic_model.h"

namespace {

constexpr auto Tx = TTrafficDirection::Tx;
constexpr auto Rx = TTrafficDirection::Rx;

std::string Joined(const std::vector<TTrafficChunk>& chunks)
{
    std::string s;
    for (const auto& c : chunks) s += c.Bytes;
    return s;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestTrafficLog : public QObject {
    Q_OBJECT
private slots:
    void ringKeepsOrderAndDropsOldest()
    {
        TTrafficLog log(10, 100);
        log.RecordAt(Tx, 1, "abcd", 4);
        log.RecordAt(Rx, 2, "efgh", 4);
        QCOMPARE(log.DroppedBytes(), uint64_t(0));
        log.RecordAt(Tx, 3, "ijklmn", 6);  // 14 bytes in a ring of 10: the four oldest go
        QCOMPARE(log.DroppedBytes(), uint64_t(4));
        QCOMPARE(log.FirstByte(), uint64_t(4));
        QCOMPARE(log.EndByte(), uint64_t(14));
        const auto chunks = log.ChunksFrom(0);
        QCOMPARE(chunks.size(), std::size_t(2));
        QCOMPARE(chunks[0].Bytes, std::string("efgh"));
        QCOMPARE(chunks[0].Dir, Rx);
        QCOMPARE(chunks[0].TimeNs, int64_t(2));
        QCOMPARE(chunks[1].Bytes, std::string("ijklmn"));
        // Wrapped storage reads back in order; a start inside a transfer cuts it.
        log.RecordAt(Rx, 4, "XY", 2);
        QCOMPARE(Joined(log.ChunksFrom(0)), std::string("ghijklmnXY"));
        const auto tail = log.ChunksFrom(9);
        QCOMPARE(tail.front().FirstByte, uint64_t(9));
        QCOMPARE(Joined(tail), std::string("jklmnXY"));
        // A transfer larger than the ring keeps its newest bytes.
        log.RecordAt(Tx, 5, "0123456789ABCDEF", 16);
        QCOMPARE(Joined(log.ChunksFrom(0)), std::string("6789ABCDEF"));
        QCOMPARE(log.DroppedBytes(), uint64_t(6 + 10 + 6));
        // Clear forgets without counting; numbering goes on.
        const uint64_t end = log.EndByte();
        log.Clear();
        QCOMPARE(log.DroppedBytes(), uint64_t(0));
        QVERIFY(log.ChunksFrom(0).empty());
        log.RecordAt(Rx, 6, "z", 1);
        QCOMPARE(log.ChunksFrom(0).front().FirstByte, end);
    }

    void transferCountIsBoundedToo()
    {
        TTrafficLog log(1000, 3);
        for (char c : std::string("abcde")) log.RecordAt(Tx, 0, &c, 1);
        QCOMPARE(Joined(log.ChunksFrom(0)), std::string("cde"));
        QCOMPARE(log.DroppedBytes(), uint64_t(2));
    }

    void runsGroupByDirectionPauseAndWidth()
    {
        TTrafficLines lines;
        const int64_t ms = 1'000'000;
        auto add = [&](TTrafficDirection d, int64_t t, const std::string& b, uint64_t first) {
            return lines.Add({first, t, d, b});
        };
        add(Tx, 0, "\xFF", 0);
        add(Tx, 300 * ms, "\x0F", 1);  // after the pause: a new line
        auto a = add(Tx, 301 * ms, "A", 2);  // 1 ms later: same run
        QVERIFY(a.LastChanged);
        QCOMPARE(a.NewLines, std::size_t(0));
        add(Rx, 302 * ms, std::string(20, 'x'), 3);  // other direction, two lines
        QCOMPARE(lines.Lines().size(), std::size_t(4));
        QCOMPARE(lines.Lines()[1].GapNs, 300 * ms);
        QCOMPARE(int(lines.Lines()[1].Count), 2);
        QCOMPARE(lines.Lines()[3].GapNs, int64_t(-1));
        QCOMPARE(int(lines.Lines()[3].Count), 4);
        const std::string text = FormatTrafficLine(lines.Lines()[1]);
        QVERIFY2(text.find("0.300000") != std::string::npos, text.c_str());
        QVERIFY2(text.find("+   300.000 ms") != std::string::npos, text.c_str());
        QVERIFY2(text.find("TX  0F 41 ") != std::string::npos, text.c_str());
        QVERIFY2(text.substr(text.size() - 2) == ".A", text.c_str());

        // A hidden direction leaves no lines but still splits the runs.
        TTrafficLines txOnly;
        txOnly.SetFilter(true, false);
        txOnly.Add({0, 0, Tx, "a"});
        txOnly.Add({1, 1, Rx, "b"});
        txOnly.Add({2, 2, Tx, "c"});
        QCOMPARE(txOnly.Lines().size(), std::size_t(2));
        QCOMPARE(txOnly.DropBefore(1), std::size_t(1));
    }

    void csvParsesBack()
    {
        TTrafficLog log;
        log.RecordAt(Tx, 1'234'567'891, "\xFF", 1);
        log.RecordAt(Rx, 2'000'000'000'123, "C\x00\x7F", 3);
        std::string csv = TrafficCsvHeader();
        for (const auto& c : log.ChunksFrom(0)) csv += TrafficCsvRows(c);
        QStringList rows = QString::fromStdString(csv).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(rows.takeFirst(), QStringLiteral("time_s,direction,byte"));
        QCOMPARE(rows.size(), 4);
        const int64_t times[] = {1'234'567'000, 2'000'000'000'000, 2'000'000'000'000, 2'000'000'000'000};
        const uint8_t bytes[] = {0xFF, 'C', 0x00, 0x7F};
        for (int i = 0; i < 4; ++i) {
            int64_t t = 0;
            TTrafficDirection d;
            uint8_t b = 0;
            QVERIFY(ParseTrafficCsvRow(rows[i].toStdString(), &t, &d, &b));
            QCOMPARE(t, times[i]);
            QCOMPARE(d, i == 0 ? Tx : Rx);
            QCOMPARE(b, bytes[i]);
        }
        int64_t t;
        TTrafficDirection d;
        uint8_t b;
        QVERIFY(!ParseTrafficCsvRow("1.5,TX,FF", &t, &d, &b));
        QVERIFY(!ParseTrafficCsvRow("1.000000,XX,FF", &t, &d, &b));
        QVERIFY(!ParseTrafficCsvRow("1.000000,TX,G0", &t, &d, &b));
    }

    void modelAppendsGrowsAndDrops()
    {
        TTrafficLog log(40, 100);
        TTrafficModel model(log);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        log.RecordAt(Tx, 0, "ab", 2);
        QVERIFY(model.Refresh());
        QCOMPARE(model.rowCount(), 1);
        log.RecordAt(Tx, 1000, "cd", 2);  // same run: the row grows
        QVERIFY(model.Refresh());
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(changed.count(), 1);
        QVERIFY(model.data(model.index(0), Qt::DisplayRole).toString().endsWith(QStringLiteral("abcd")));
        QVERIFY(!model.Refresh());
        log.RecordAt(Rx, 2000, std::string(40, 'r').data(), 40);  // pushes "abcd" out of the ring
        QVERIFY(model.Refresh());
        QCOMPARE(removed.count(), 1);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(inserted.count(), 2);
        model.SetFilter(true, false);
        QCOMPARE(model.rowCount(), 0);
        model.SetFilter(true, true);
        QCOMPARE(model.rowCount(), 3);
        QVERIFY(model.StatusText().contains(QStringLiteral("40 bytes kept, 4 dropped")));
        model.ClearLog();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.CsvText(), QByteArray("time_s,direction,byte\n"));
    }

    void portRecordsBothWaysAndFileSurvivesHangUp()
    {
        QTemporaryDir dir;
        TPtyPair pty;
        QVERIFY(pty.Ok());
        TComPort port;
        port.SetPort(pty.Path());
        port.SetEvents(0);
        TTrafficFileLog file;
        QString error;
        const QString path = dir.filePath(QStringLiteral("traffic.txt"));
        QVERIFY2(file.Start(port.Traffic(), path, &error), qPrintable(error));
        port.OpenPort();
        QCOMPARE(port.WriteText(QByteArray("\x01\x02", 2)), 2);
        QCOMPARE(pty.Read(2, 3000), QByteArray("\x01\x02", 2));
        pty.Write("kk");
        QVERIFY(port.WaitForInput(2, 3000));
        char buf[2];
        QCOMPARE(port.ReadBytes(buf, 2), 2);
        pty.Write("zz");  // purged, not read: still shown as received
        QVERIFY(port.WaitForInput(2, 3000));
        port.PurgeBuffers(true, true);
        const auto chunks = port.Traffic().ChunksFrom(0);
        QCOMPARE(chunks.size(), std::size_t(3));
        QCOMPARE(chunks[0].Dir, Tx);
        QCOMPARE(chunks[1].Bytes, std::string("kk"));
        QCOMPARE(chunks[2].Bytes, std::string("zz"));
        QVERIFY(chunks[1].TimeNs >= chunks[0].TimeNs);

        // The far end hangs up: the port fails, the file keeps what was logged.
        pty.CloseMaster();
        bool failed = false;
        try {
            for (int i = 0; i < 50 && !failed; ++i) port.WriteText(QByteArray("x"));
        } catch (const EComPort&) {
            failed = true;
        }
        QVERIFY(failed);
        try {
            port.ClosePort();
        } catch (const EComPort&) {
        }
        const QByteArray text = ReadFile(path);
        QVERIFY2(text.contains("TX  01 02"), text.constData());
        QVERIFY2(text.contains("RX  6B 6B"), text.constData());
        QVERIFY2(text.contains("RX  7A 7A"), text.constData());
        QVERIFY(file.Active());
        // Still logging after the hang-up; a restart appends.
        port.Traffic().Record(Tx, "Q", 1);
        file.Stop();
        QVERIFY(file.Start(port.Traffic(), path, &error));
        file.Stop();
        const QByteArray after = ReadFile(path);
        QVERIFY(after.startsWith(text));
        QVERIFY(after.contains("TX  51"));
        QCOMPARE(after.count("# Traffic log started"), 2);
    }
};

QTEST_GUILESS_MAIN(TestTrafficLog)
#include "test_traffic_log.moc"
