// The History table read from a real SQLite record: pages, pairs kept
// together under every sort and filter, the export in the order shown, and
// record locations shown without their password.
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "record/history_model.h"
#include "record/history_query.h"
#include "record/production_record.h"
#include "record_rows_helper.h"

namespace {

// Waits until the model has answered: rows and their count.
bool Settled(const THistoryModel& m)
{
    return m.CurrentState() == THistoryModel::State::Idle && (m.MatchingRows() >= 0 || !m.LoadError().isEmpty());
}

// Pairs never split: a row with a pair id sits next to the pair's other row.
bool PairsAdjacent(const TRecordEntries& rows)
{
    QHash<QString, int> first;
    for (int i = 0; i < int(rows.size()); ++i) {
        const QString& p = rows[size_t(i)].pairId;
        if (p.isEmpty()) continue;
        if (!first.contains(p)) first.insert(p, i);
        else if (first[p] != i - 1) return false;
    }
    return true;
}

}  // namespace

class TestHistoryModel : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void pairsTogetherAndExportInTheOrderShown_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rows");
        QTest::newRow("time, newest first") << int(THistoryModel::Time) << int(Qt::DescendingOrder) << QString() << 4;
        QTest::newRow("port") << int(THistoryModel::Port) << int(Qt::AscendingOrder) << QString() << 4;
        QTest::newRow("outcome, descending") << int(THistoryModel::Outcome) << int(Qt::DescendingOrder) << QString() << 4;
        QTest::newRow("search hits one of the pair") << int(THistoryModel::Port) << int(Qt::AscendingOrder)
                                                     << QStringLiteral("/DEV/Z") << 2;
        QTest::newRow("wildcards are plain text") << int(THistoryModel::Port) << int(Qt::AscendingOrder)
                                                  << QStringLiteral("%") << 0;
    }
    void pairsTogetherAndExportInTheOrderShown()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QString, text);
        QFETCH(int, rows);
        const QString path = dir_.filePath(QStringLiteral("pairs.sqlite"));
        if (!QFile::exists(path)) {
            // The pair's two rows are far apart in time and in every sort key.
            TProductionRecord record(path);
            QVERIFY(record.Append({Row(QStringLiteral("/dev/a"), QStringLiteral("ok"), QStringLiteral("P"), 50),
                                   Row(QStringLiteral("/dev/m"), QStringLiteral("failed"), {}, 40),
                                   Row(QStringLiteral("/dev/k"), QStringLiteral("ok"), {}, 30)}).ok);
            QVERIFY(record.Append({Row(QStringLiteral("/dev/z"), QStringLiteral("failed"), QStringLiteral("P"), 20)}).ok);
        }
        THistoryModel model;
        THistoryFilter f;
        f.text = text;
        model.SetFilter(f);
        model.sort(column, Qt::SortOrder(order));
        model.SetLocation(path);
        QTRY_VERIFY_WITH_TIMEOUT(Settled(model), 20000);
        QCOMPARE(model.LoadError(), QString());
        QCOMPARE(model.rowCount(), rows);
        QCOMPARE(model.MatchingRows(), qint64(rows));
        QVERIFY(PairsAdjacent(model.LoadedRows()));

        QSignalSpy exported(&model, &THistoryModel::Exported);
        const QString csv = dir_.filePath(QStringLiteral("out.csv"));
        model.ExportCsv(csv, [](const QString& p, const QByteArray& bytes, QString*) {
            QFile out(p);
            return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
        });
        QTRY_COMPARE_WITH_TIMEOUT(exported.size(), 1, 20000);
        QVERIFY2(exported[0][0].toBool(), qPrintable(exported[0][1].toString()));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        lines.removeFirst();
        if (rows == 0) lines.removeAll("");
        QCOMPARE(lines.size(), rows);
        for (int r = 0; r < rows; ++r) QVERIFY(lines[r].startsWith(model.EntryAt(r).rowId.toUtf8() + ','));
    }

    // More rows than a page: the first screen is one page, the rest comes
    // as the view asks, each row once, pairs together, newest first.
    void pagesAddUpToTheRecord()
    {
        const QString path = dir_.filePath(QStringLiteral("pages.sqlite"));
        TRecordEntries rows;
        for (int i = 0; i < 3 * THistoryModel::kPageGroups; ++i)
            rows.push_back(Row(QStringLiteral("/dev/ttyUSB%1").arg(i), QStringLiteral("ok"),
                               i % 5 < 2 ? QStringLiteral("pair-%1").arg(i / 5) : QString(), i));
        {
            TProductionRecord record(path);
            QVERIFY(record.Append(rows).ok);
        }
        THistoryModel model;
        model.SetLocation(path);
        QTRY_VERIFY_WITH_TIMEOUT(Settled(model), 20000);
        QCOMPARE(model.MatchingRows(), qint64(rows.size()));
        QVERIFY(model.rowCount() < int(rows.size()));
        while (model.canFetchMore({})) {
            model.fetchMore({});
            QTRY_VERIFY_WITH_TIMEOUT(!model.Fetching(), 20000);
        }
        QCOMPARE(model.rowCount(), int(rows.size()));
        QSet<QString> ids;
        for (const TRecordEntry& e : model.LoadedRows()) ids.insert(e.rowId);
        QCOMPARE(ids.size(), int(rows.size()));
        QVERIFY(PairsAdjacent(model.LoadedRows()));
        for (int r = 1; r < model.rowCount(); ++r)
            if (model.EntryAt(r).pairId.isEmpty() || model.EntryAt(r).pairId != model.EntryAt(r - 1).pairId)
                QVERIFY(model.EntryAt(r).timeUtc <= model.EntryAt(r - 1).timeUtc);
    }

    void locationShownWithoutPassword_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("shown");
        QTest::newRow("file") << QStringLiteral("/tmp/a:b@c.sqlite") << QStringLiteral("/tmp/a:b@c.sqlite");
        QTest::newRow("no password") << QStringLiteral("postgresql://line@db:5432/tw") << QStringLiteral("postgresql://line@db:5432/tw");
        QTest::newRow("password") << QStringLiteral("postgresql://line:s3cret@db/tw") << QStringLiteral("postgresql://line@db/tw");
        QTest::newRow("'@' and '/' unescaped") << QStringLiteral("postgres://line:s3/c@ret@db/tw") << QStringLiteral("postgres://line@db/tw");
        QTest::newRow("as a parameter") << QStringLiteral("postgresql://db/tw?user=line&password=s3cret&port=5433")
                                        << QStringLiteral("postgresql://db/tw?user=line&port=5433");
        QTest::newRow("parameter last") << QStringLiteral("postgresql://db/tw?password=s3cret") << QStringLiteral("postgresql://db/tw");
    }
    void locationShownWithoutPassword()
    {
        QFETCH(QString, location);
        QFETCH(QString, shown);
        QCOMPARE(LocationWithoutPassword(location), shown);
    }
};

QTEST_GUILESS_MAIN(TestHistoryModel)
#include "test_history_model.moc"
