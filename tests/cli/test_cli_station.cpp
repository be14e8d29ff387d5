// tarnwick-cli station against virtual modules plugged into a watched
// folder: a line per event, a JSON object per finished module, Ctrl-C's
// summary and the exit statuses.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "cli_run.h"
#include "record/production_record.h"
#include "tools/vmodule/virtual_module.h"

class TestCliStation : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString Profile() { return KeyedProfile(dir_); }
    void Start(QProcess& p, const QStringList& args)
    {
        p.setProcessEnvironment(CliEnvironment(dir_.filePath(QStringLiteral("data"))));
        p.start(qEnvironmentVariable("TW_CLI"), args);
        QVERIFY(p.waitForStarted());
    }
    // The JSON lines read so far, waiting until one satisfies pred.
    static bool WaitLine(QProcess& p, QList<QJsonObject>& lines, const std::function<bool(const QJsonObject&)>& pred)
    {
        QDeadlineTimer deadline(90000);
        for (;;) {
            while (p.canReadLine()) {
                const QJsonObject o = QJsonDocument::fromJson(p.readLine()).object();
                lines << o;
                if (pred(o)) return true;
            }
            if (deadline.hasExpired() || p.state() != QProcess::Running) return false;
            p.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 1000)));
        }
    }

private slots:
    // One module passes, one hangs up mid-way: JSON per module, Ctrl-C ends
    // the station with a summary and exit status 1.
    void passAndFailThenInterrupt()
    {
        const QString watched = dir_.filePath(QStringLiteral("by-id"));
        QVERIFY(QDir().mkpath(watched));
        QProcess p;
        Start(p, {QStringLiteral("station"), Profile(), QStringLiteral("--watch"), watched,
                  QStringLiteral("--unit-address-from"), QStringLiteral("0100"), QStringLiteral("--json")});
        QList<QJsonObject> lines;
        auto finished = [](const QJsonObject& o) { return o.contains(QLatin1String("ok")); };

        TVirtualModule good;
        good.SetLinkPath(QDir(watched).filePath(QStringLiteral("usb-good")).toStdString());
        QVERIFY(good.Start());
        QVERIFY(WaitLine(p, lines, finished));
        const QJsonObject passed = lines.last();
        QVERIFY2(passed.value(QLatin1String("ok")).toBool(), qPrintable(passed.value(QLatin1String("error")).toString()));
        QCOMPARE(passed.value(QLatin1String("unit_address")).toString(), QStringLiteral("0100"));
        QVERIFY(passed.value(QLatin1String("by_id")).toString().endsWith(QLatin1String("usb-good")));
        QVERIFY(!passed.value(QLatin1String("row_id")).toString().isEmpty());
        QVERIFY(passed.value(QLatin1String("duration_ms")).toInteger() > 0);
        for (const QJsonObject& o : lines.mid(0, lines.size() - 1)) {
            QVERIFY(o.contains(QLatin1String("event")));
            QVERIFY(!o.contains(QLatin1String("ok")));
        }

        TVirtualModule bad;
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 60;  // after the check and the start of Read Config
        bad.SetFaults(f);
        bad.SetLinkPath(QDir(watched).filePath(QStringLiteral("usb-bad")).toStdString());
        QVERIFY(bad.Start());
        QVERIFY(WaitLine(p, lines, finished));
        const QJsonObject failed = lines.last();
        QVERIFY(!failed.value(QLatin1String("ok")).toBool());
        QVERIFY2(failed.value(QLatin1String("error")).toString().startsWith(QLatin1String("pulled during ")),
                 qPrintable(failed.value(QLatin1String("error")).toString()));

        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(WaitLine(p, lines, [](const QJsonObject& o) {
            return o.value(QLatin1String("event")).toString() == QLatin1String("summary");
        }));
        QCOMPARE(lines.last().value(QLatin1String("passed")).toInt(), 1);
        QCOMPARE(lines.last().value(QLatin1String("failed")).toInt(), 1);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("nothing to watch") << QStringList{QStringLiteral("--watch"), QStringLiteral("/nonexistent/by-id")} << 3;
        QTest::newRow("watch without station") << QStringList{QStringLiteral("probe"), QStringLiteral("--watch"), QStringLiteral("/tmp")} << 2;
        QTest::newRow("bad label size") << QStringList{QStringLiteral("--label-size"), QStringLiteral("big")} << 2;
    }
    void exitStatuses()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        if (!args.contains(QLatin1String("probe"))) args = QStringList{QStringLiteral("station"), Profile()} + args;
        QProcess p;
        Start(p, args);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), status);
    }
};

QTEST_GUILESS_MAIN(TestCliStation)
#include "test_cli_station.moc"
