// The Link Test window: the one-operation rule, a run with loss that a
// "Close Port" stops (a partial result, the operation ended), and saving.
// TW_SHOT=PATH keeps a picture of the window during the run for the README.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "cable_link_rig.h"
#include "commands/ui/link_test_window.h"
#include "common/ui/mini_chart.h"
#include "module/operation_report.h"
#include "module/operation_runner.h"
#include "module/operation_state.h"
#include "scripted_dialogs.h"

class TestLinkTestWindow : public QObject {
    Q_OBJECT

    static TPairPortSetup Setup()
    {
        TPairPortSetup s;
        s.line.flowItem = 3;
        return s;
    }

private slots:
    void init() { TOperationState::Reset(); }

    void refusesWhileAnotherOperationRuns()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        TLinkTestWindow w(Setup, 0);
        w.LinkLoopback->setChecked(true);
        w.LinkPortA->setEditText(QStringLiteral("/dev/null"));
        // Another operation holds the runner until it is told to end.
        TStopFlag release;
        QVERIFY(TOperationRunner::Panel().Start(QStringLiteral("Read Flash"), [&release](TStopFlag&) { release.Sleep(30000); }, {}));
        QVERIFY(!w.Start());
        QVERIFY(!w.Running());
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("\"Read Flash\" is still running")));
        release.Request();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
    }

    void runWithLossStoppedByClosePort()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        TCableLinkModule m;
        TAirOptions o;
        o.loopback = true;
        o.loss = 0.05;
        o.bitErrors = 0.00002;
        o.latencyMs = 15;
        QVERIFY(m.Start(CableLinkMemory(0x11, true), o));

        TLinkTestWindow w(Setup, 0);
        w.resize(1100, 640);
        w.show();
        w.LinkLoopback->setChecked(true);
        w.LinkPortA->setEditText(m.Port());
        w.LinkRate->setValue(40);
        w.LinkSeconds->setValue(60);
        w.LinkMaxPer->setValue(2);
        QVERIFY(w.Start());
        QVERIFY(TOperationState::Running());
        QVERIFY(!w.LinkStartButton->isEnabled() && w.LinkStopButton->isEnabled());
        const int wanted = qEnvironmentVariableIsEmpty("TW_SHOT") ? 2 : 12;
        QTRY_VERIFY_WITH_TIMEOUT(w.LinkFigures->text().startsWith(QString::number(wanted)), 60000);
        QVERIFY(w.LinkFigures->text().contains(QStringLiteral("out and back")));
        if (!qEnvironmentVariableIsEmpty("TW_SHOT")) QVERIFY(w.grab().save(qEnvironmentVariable("TW_SHOT")));

        std::vector<TOperationReport> reports;
        SetOperationReportSink([&reports](const TOperationReport& r) { reports.push_back(r); });
        TOperationState::RequestStop();  // what "Close Port" does
        QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 20000);
        SetOperationReportSink({});
        QVERIFY(!TOperationState::Running());
        QVERIFY(w.LastResult().partial);
        // Not judged, and recorded so: never "ok".
        QVERIFY2(w.LinkSummary->toPlainText().startsWith(QStringLiteral("STOPPED after")), qPrintable(w.LinkSummary->toPlainText()));
        QCOMPARE(reports.size(), size_t(1));
        QVERIFY(!reports[0].ok);
        QCOMPARE(reports[0].outcome, QStringLiteral("stopped"));
        QVERIFY(w.LastResult().total.sent > 40);

        QTemporaryDir dir;
        dialogs.saveNames.push_back(dir.filePath(QStringLiteral("run.csv")));
        w.LinkSaveButton->click();
        // A name with the date and the port is proposed; the window says where it wrote.
        QCOMPARE(dialogs.proposedNames.size(), 1);
        QVERIFY2(dialogs.proposedNames[0].contains(QFileInfo(m.Port()).fileName()) &&
                     dialogs.proposedNames[0].contains(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))),
                 qPrintable(dialogs.proposedNames[0]));
        QVERIFY(w.LinkSummary->toPlainText().contains(dir.filePath(QStringLiteral("run.json"))));
        QFile csv(dir.filePath(QStringLiteral("run.csv"))), json(dir.filePath(QStringLiteral("run.json")));
        QVERIFY(csv.open(QIODevice::ReadOnly) && json.open(QIODevice::ReadOnly));
        QVERIFY(csv.readLine().startsWith("second,sent,received"));
        for (const QFile* f : {&csv, &json})  // owner-only, as the record's other files
            QCOMPARE(f->permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions{});
        QVERIFY(QJsonDocument::fromJson(json.readAll()).object().value(QStringLiteral("partial")).toBool());

        // Closing the window stops a run too, and the operation ends; Start
        // clears the last run's charts.
        QVERIFY(!w.LatencyChart->Empty() && !w.PerChart->Empty());
        QVERIFY(w.Start());
        QVERIFY(w.LatencyChart->Empty() && w.PerChart->Empty() && w.ThroughputChart->Empty());
        QTRY_VERIFY_WITH_TIMEOUT(w.LinkFigures->text().contains(QStringLiteral("received")), 20000);
        w.close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 20000);
        QVERIFY(!TOperationState::Running());
        QCOMPARE(w.LastResult().partialReason, QStringLiteral("stopped"));
    }

    // Point A and Point B default to adapters, never to the port open on the
    // Com Port page, and never to one port twice.
    void defaultPorts()
    {
        auto port = [](const QString& name, bool usb) {
            TPortInfo p;
            p.name = name;
            p.path = QStringLiteral("/dev/") + name;
            p.usb = usb;
            return p;
        };
        const QList<TPortInfo> list{port(QStringLiteral("ttyS0"), false), port(QStringLiteral("ttyUSB0"), true),
                                    port(QStringLiteral("ttyUSB1"), true), port(QStringLiteral("ttyACM0"), false)};
        QCOMPARE(TLinkTestWindow::DefaultPorts(list, QString()), std::make_pair(1, 2));
        QCOMPARE(TLinkTestWindow::DefaultPorts(list, QStringLiteral("/dev/ttyUSB0")), std::make_pair(2, 3));
        QCOMPARE(TLinkTestWindow::DefaultPorts({list[0]}, QString()), std::make_pair(0, -1));
    }

    // Every control of the window that takes a value has a name of its own.
    void accessibleNames()
    {
        TLinkTestWindow w(Setup, 0);
        QStringList names;
        for (QWidget* c : w.findChildren<QAbstractSpinBox*>()) names << c->accessibleName();
        for (QWidget* c : w.findChildren<QComboBox*>()) names << c->accessibleName();
        QVERIFY(!names.contains(QString()));
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
    }
};

QTEST_MAIN(TestLinkTestWindow)
#include "test_link_test_window.moc"
