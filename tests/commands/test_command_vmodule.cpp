// Command rows against the virtual module: the module's side of the
// protocol is its own, so these runs check the frames and the log together.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "module/operation_runner.h"
#include "commands/command_catalogue.h"
#include "commands/ui/command_page.h"
#include "common/ui/port_controls.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "serial/com_port.h"
#include "support/module_line.h"
#include "support/scripted_dialogs.h"
#include "tools/vmodule/virtual_module.h"

class TestCommandVModule : public QObject, TModuleLine {
    Q_OBJECT

    TPortControls* controls = nullptr;
    TCommandPage* page = nullptr;

    void Choose(int row, int command) { page->CommandCombo(row)->setCurrentIndex(command); }

    // Reply items of a log line ("[XX]").
    static int Replies(const QStringList& lines) { return lines.join(QString()).count(QLatin1Char('[')); }

private slots:
    void initTestCase() { InitStatus(); }

    void init()
    {
        std::string err;
        QVERIFY2(StartLine(true, &err), err.c_str());
        controls = new TPortControls;
        page = new TCommandPage(*session, *controls);
        page->CreateCommandRows();
        controls->EnableOperations(true);
        page->show();
    }
    void cleanup()
    {
        delete page;
        delete controls;
        StopLine();
    }

    void setRFChannelReachesTheRegister()
    {
        Choose(3, cmd::SetRFChannel);
        qobject_cast<QComboBox*>(page->ParamControl(3, 1))->setCurrentIndex(3);
        page->SendButton(3)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(page->LogLines(), QStringList{QStringLiteral("3. <20><50><0C>[6B]")});
        QCOMPARE(vm->Registers()[5], uint8_t(0x0C));
        QVERIFY(dialogs->messages.empty());
    }

    void sendAllRows2And5()
    {
        Choose(2, cmd::Disconect);
        Choose(5, cmd::ReadVersion);
        page->SendAllClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        const QStringList log = page->LogLines();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0], QStringLiteral("2. <01>[6B]"));
        QVERIFY2(log[1].startsWith(QStringLiteral("5. <0F>[43]")), qPrintable(log[1]));
        QCOMPARE(log[1].size(), 7 + 5 * 4);
        QVERIFY(dialogs->messages.empty());
        QVERIFY(page->isEnabled());
        QVERIFY(!StatusForm()->isVisible());
    }

    void readFlashReplyWrapsOntoAContinuation()
    {
        Choose(9, cmd::ReadFlash);
        qobject_cast<QLineEdit*>(page->ParamControl(9, 1))->setText(QStringLiteral("1"));
        qobject_cast<QLineEdit*>(page->ParamControl(9, 2))->setText(QStringLiteral("0F"));
        page->SendButton(9)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        const QStringList log = page->LogLines();
        QCOMPARE(log.size(), 2);
        QVERIFY(log[0].startsWith(QStringLiteral("9. <31><2F>[")));
        QVERIFY(log[1].startsWith(QString(11, QLatin1Char(' ')) + QLatin1Char('[')));
        // Header byte and 16 data bytes.
        QCOMPARE(Replies(log), 17);
    }

    void xonXoffBytesInAReply()
    {
        // "Xon/Xoff" chosen: a reply holding 0x13 and 0x11 still arrives whole.
        port->FlowControl().SetXonXoffIn(true);
        port->FlowControl().SetXonXoffOut(true);
        auto memory = vm->Memory();
        memory[0] = 0x13;
        memory[1] = 0x11;
        memory[2] = 0x13;
        vm->SetMemory(memory);
        Choose(1, cmd::ReadFlash);
        qobject_cast<QLineEdit*>(page->ParamControl(1, 1))->setText(QStringLiteral("0"));
        qobject_cast<QLineEdit*>(page->ParamControl(1, 2))->setText(QStringLiteral("02"));
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        const QStringList log = page->LogLines();
        QCOMPARE(log.size(), 1);
        QVERIFY2(log[0].startsWith(QStringLiteral("1. <31><02>[")) && log[0].endsWith(QStringLiteral("][13][11][13]")),
                 qPrintable(log[0]));
        QVERIFY(dialogs->messages.empty());
        QVERIFY(port->FlowControl().XonXoffIn() && port->FlowControl().XonXoffOut());

        // "Send All" as well.
        page->ClearLogButtonClick();
        page->SendAllClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(page->LogLines().join(QString()).endsWith(QStringLiteral("][13][11][13]")));
        QVERIFY(port->FlowControl().XonXoffIn() && port->FlowControl().XonXoffOut());
    }

    void silentModule()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        Choose(1, cmd::ReadStatus);
        page->SendButton(1)->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(dialogs->messages.size(), size_t(1));
        QCOMPARE(dialogs->messages[0].text, QStringLiteral("Could not communicate with Tarnwick Module"));

        dialogs->messages.clear();
        page->SendAllClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(dialogs->messages.empty());
        QVERIFY(page->LogLines().isEmpty());
    }
};

QTEST_MAIN(TestCommandVModule)
#include "test_command_vmodule.moc"
