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

        TOperationState::RequestStop();  // what "Close Port" does
        QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 20000);
        QVERIFY(!TOperationState::Running());
        QVERIFY(w.LastResult().partial);
        QVERIFY(w.LinkSummary->toPlainText().contains(QStringLiteral("partial result: stopped")));
        QVERIFY(w.LastResult().total.sent > 40);

        QTemporaryDir dir;
        dialogs.saveNames.push_back(dir.filePath(QStringLiteral("run.csv")));
        w.LinkSaveButton->click();
        QFile csv(dir.filePath(QStringLiteral("run.csv"))), json(dir.filePath(QStringLiteral("run.json")));
        QVERIFY(csv.open(QIODevice::ReadOnly) && json.open(QIODevice::ReadOnly));
        QVERIFY(csv.readLine().startsWith("second,sent,received"));
        for (const QFile* f : {&csv, &json})  // owner-only, as the record's other files
            QCOMPARE(f->permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions{});
        QVERIFY(QJsonDocument::fromJson(json.readAll()).object().value(QStringLiteral("partial")).toBool());

        // Closing the window stops a run too, and the operation ends.
        QVERIFY(w.Start());
        QTRY_VERIFY_WITH_TIMEOUT(w.LinkFigures->text().contains(QStringLiteral("received")), 20000);
        w.close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 20000);
        QVERIFY(!TOperationState::Running());
        QCOMPARE(w.LastResult().partialReason, QStringLiteral("stopped"));
    }
};

QTEST_MAIN(TestLinkTestWindow)
#include "test_link_test_window.moc"
