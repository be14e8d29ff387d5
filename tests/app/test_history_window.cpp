// The History window on a small record: the rows it shows, its filters,
// "Export CSV…" through the dialog seam, and its place in the View menu.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "app/history_window.h"
#include "app/main_window.h"
#include "record/history_model.h"
#include "record/production_record.h"
#include "scripted_dialogs.h"

class TestHistoryWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toLocal8Bit());
        TRecordEntries rows;
        for (int i = 0; i < 6; ++i) {
            TRecordEntry e = NewRecordEntry(QStringLiteral("test"), QStringLiteral("program-config"));
            e.station = i < 3 ? QStringLiteral("bench-1") : QStringLiteral("bench-2");
            e.port = QStringLiteral("/dev/ttyUSB%1").arg(i);
            e.outcome = i == 4 ? QStringLiteral("failed") : QStringLiteral("ok");
            rows.push_back(e);
        }
        TProductionRecord record;
        QVERIFY(record.Append(rows).ok);
    }

    void filtersNarrowTheRows_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rows");
        QTest::newRow("all") << 0 << QString() << QString() << 6;
        QTest::newRow("failed") << 2 << QString() << QString() << 1;
        QTest::newRow("station") << 0 << QStringLiteral("bench-2") << QString() << 3;
        QTest::newRow("text, any case") << 0 << QString() << QStringLiteral("ttyusb1") << 1;
        QTest::newRow("ok at bench-2") << 1 << QStringLiteral("bench-2") << QString() << 2;
    }
    void filtersNarrowTheRows()
    {
        QFETCH(int, outcome);
        QFETCH(QString, station);
        QFETCH(QString, text);
        QFETCH(int, rows);
        THistoryWindow w;
        QCOMPARE(w.HistoryTable->model()->rowCount(), 6);
        // TW_SHOT=PATH keeps a picture of the window for the README.
        if (!qEnvironmentVariableIsEmpty("TW_SHOT") && QTest::currentDataTag() == QLatin1String("all")) {
            w.show();
            QVERIFY(w.grab().save(qEnvironmentVariable("TW_SHOT")));
        }
        w.OutcomeFilter->setCurrentIndex(outcome);
        if (!station.isEmpty()) w.StationFilter->setCurrentIndex(w.StationFilter->findText(station));
        w.SearchText->setText(text);
        QCOMPARE(w.HistoryTable->model()->rowCount(), rows);
    }

    void exportWritesTheRowsShown()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        const QString path = dir_.filePath(QStringLiteral("out.csv"));
        dialogs.saveNames.push_back(path);
        THistoryWindow w;
        w.OutcomeFilter->setCurrentIndex(2);
        w.ExportClick();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[1].contains("/dev/ttyUSB4"));
        // The record's rows are their owner's only, as the record itself.
        QCOMPARE(f.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions{});
    }

    void viewMenuOpensIt()
    {
        TTarnwickForm form;
        QAction* history = form.findChild<QAction*>(QStringLiteral("History1"));
        QVERIFY(history);
        history->trigger();
        auto* w = form.findChild<THistoryWindow*>();
        QVERIFY(w && w->isVisible());
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "test_history_window.moc"
