// "Reconnect automatically": the line hangs up, a new virtual module comes
// up on the same link path, the port reopens by itself with its settings
// and the terminal shows bytes again; with the box off nothing reopens.
#include <QCheckBox>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/main_window.h"
#include "common/ui/radio_group.h"
#include "module/ui/com_port_page.h"
#include "module/port_reconnect.h"
#include "scripted_dialogs.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"
#include "flash_editor/ui/flash_page.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/ui/terminal_page.h"
#include "tools/vmodule/virtual_module.h"

class TestReconnect : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    std::string Link() const { return (tmp_.path() + QStringLiteral("/line")).toStdString(); }

    // Starts vm on the link (again, after a stop).
    bool StartOnLink(TVirtualModule& vm) const
    {
        vm.SetLinkPath(Link());
        std::string err;
        if (vm.Start(&err)) return true;
        qWarning("virtual module: %s", err.c_str());
        return false;
    }

    // Starts vm, opens the port on its link at 38400 baud and gives the
    // terminal the focus.
    bool OpenWithTerminal(TTarnwickForm& form, TVirtualModule& vm, bool reconnect)
    {
        if (!StartOnLink(vm)) return false;
        form.AddPort(QString::fromStdString(Link()));
        form.show();
        if (!QTest::qWaitForWindowActive(&form)) return false;
        form.PageControl1->setCurrentWidget(form.ComPortSheet);
        form.ComPortSheet->ReconnectCheckBox->setChecked(reconnect);
        form.ComPortSheet->BaudRateGroup->SetItemIndex(2);
        QTest::mouseClick(form.ComPortSheet->OpenComPort, Qt::LeftButton);
        if (!form.ComPort1->Connected()) return false;
        form.PageControl1->setCurrentWidget(form.TerminalSheet);
        QTest::mouseClick(form.TerminalSheet->ComTerminal->viewport(), Qt::LeftButton, {}, QPoint(30, 30));
        return QTest::qWaitFor([&] { return form.TerminalSheet->ComTerminal->ComPort() == form.ComPort1; }, 5000);
    }

    static uint8_t Cell(TTarnwickForm& form, int x) { return form.TerminalSheet->ComTerminal->Buffer().LoadCell(x, 1).Ch; }

private slots:
    void hangUpAndComeBackReopens()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        TVirtualModule first;
        TTarnwickForm form;
        QVERIFY(OpenWithTerminal(form, first, true));
        first.Inject({'a', 'b'});
        QTRY_COMPARE(Cell(form, 2), uint8_t('b'));

        first.Stop();  // the far end goes: the kernel hangs the line up
        TPortReconnector& r = form.ComPortSheet->Reconnector();
        QTRY_VERIFY(r.Waiting());
        QTRY_VERIFY(!form.ComPort1->Connected());
        QCOMPARE(form.ComPortSheet->ComLed1->State(), lsOff);
        QVERIFY(!form.ComPortSheet->LineStateLabel->text().isEmpty());
        // The lost line is shown on the page, not in a box.
        QVERIFY2(d.errors.isEmpty(), qPrintable(d.errors.join(';')));

        TVirtualModule second;
        QVERIFY(StartOnLink(second));
        QTRY_VERIFY_WITH_TIMEOUT(form.ComPort1->Connected(), 10000);
        QCOMPARE(r.State(), TPortReconnector::rsReopened);
        QTRY_COMPARE(form.ComPortSheet->ComLed1->State(), lsOn);
        QTRY_COMPARE(second.LineBaud(), 38400L);  // the same settings
        // The terminal holds the new line and shows what comes.
        QTRY_VERIFY(form.TerminalSheet->ComTerminal->ComPort() == form.ComPort1);
        second.Inject({'x', 'y'});
        QTRY_COMPARE(Cell(form, 4), uint8_t('y'));
        // Operations stayed enabled throughout: the port counts as open.
        QVERIFY(!form.ComPortSheet->BaudRateGroup->isEnabled());
        QVERIFY(d.messages.empty());
        QVERIFY(d.errors.isEmpty());

        // Close Port by hand after that ends it as always.
        form.PageControl1->setCurrentWidget(form.ComPortSheet);
        QTest::mouseClick(form.ComPortSheet->CloseComPort, Qt::LeftButton);
        QVERIFY(!form.ComPort1->Connected());
        QCOMPARE(r.State(), TPortReconnector::rsIdle);
        QVERIFY(form.ComPortSheet->LineStateLabel->text().isEmpty());
    }

    void operationCutOffFailsOnceAndIsNotRepeated()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        TVirtualModule vm;
        TTarnwickForm form;
        QVERIFY(OpenWithTerminal(form, vm, true));
        // The line goes in the middle of Read Flash.
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 11;
        vm.SetFaults(f);
        form.PageControl1->setCurrentWidget(form.FlashMemorySheet);
        QTest::mouseClick(form.FlashMemorySheet->ReadFlashButton, Qt::LeftButton);
        QTRY_COMPARE(d.messages.size() + size_t(d.errors.size()), size_t(1));
        QTRY_VERIFY(form.ComPortSheet->Reconnector().Waiting());
        QTRY_VERIFY(!form.ComPort1->Connected());

        // The module comes back: the port reopens, and nothing of the
        // operation is sent again.
        QTRY_VERIFY(!vm.Running());
        vm.SetFaults(TVirtualModuleFaults{});
        vm.ClearReceived();
        QVERIFY(StartOnLink(vm));
        QTRY_VERIFY_WITH_TIMEOUT(form.ComPort1->Connected(), 10000);
        QCoreApplication::processEvents();
        QCOMPARE(vm.ReceivedCount(), 0L);
        QCOMPARE(d.messages.size() + size_t(d.errors.size()), size_t(1));
        QVERIFY(form.FlashMemorySheet->isEnabled());
        QVERIFY(form.FlashMemorySheet->ReadFlashButton->isEnabled());
    }

    void boxOffReopensNothing()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        TVirtualModule first;
        TTarnwickForm form;
        QVERIFY(OpenWithTerminal(form, first, false));
        first.Stop();
        // As before: the terminal reports the lost line once.
        QTRY_COMPARE(d.messages.size() + size_t(d.errors.size()), size_t(1));
        QFileSystemWatcher w({tmp_.path()});
        QSignalSpy changed(&w, &QFileSystemWatcher::directoryChanged);
        TVirtualModule second;
        QVERIFY(StartOnLink(second));
        // The notice that would reopen the port has come and gone.
        QTRY_VERIFY(changed.count() > 0);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(form.ComPortSheet->Reconnector().State(), TPortReconnector::rsIdle);
        // The port still holds the dead line: nothing was reopened.
        QVERIFY_THROWS_EXCEPTION(EComPort, form.ComPort1->WriteText(QByteArray("x")));
    }
};

QTEST_MAIN(TestReconnect)
#include "test_reconnect.moc"
