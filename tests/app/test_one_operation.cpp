// One operation at a time: during the pauses of a running operation the
// window takes input, but no other operation and no "Open Port" may start;
// "Close Port" and Abort stay usable, and "Close Port" ends the operation
// through its failure path with one message and without another byte.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "module/operation_runner.h"
#include "app/application.h"
#include "common/ui/radio_group.h"
#include "module/ui/config_programming.h"
#include "module/ui/flash_transfer.h"
#include "module/ui/status_form.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/ui/terminal_page.h"
#include "window_rig.h"

namespace {

std::array<uint8_t, 256> Pattern(int salt)
{
    std::array<uint8_t, 256> m;
    for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i * 11 + salt);
    return m;
}

TFlashImage::Bytes FlashOf(const std::array<uint8_t, 256>& m)
{
    TFlashImage::Bytes b;
    std::copy(m.begin(), m.begin() + 128, b.begin());
    return b;
}

// Inside the operation: everything that would start another one is held,
// what stops it is not.
void VerifyHeld(TWindowRig& r)
{
    for (QWidget* w : r.form->PortControls().Operations()) QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(!r.form->ComPortSheet->OpenComPort->isEnabled());
    QVERIFY(r.form->ComPortSheet->CloseComPort->isEnabled());
    QVERIFY(StatusForm() && StatusForm()->isVisible() && StatusForm()->AbortButton->isEnabled());
}

// After the operation: the controls follow the port again.
void VerifyReleased(TWindowRig& r)
{
    const bool open = r.form->ComPort1->Connected();
    for (QWidget* w : r.form->PortControls().Operations()) QCOMPARE(w->isEnabled(), open);
    QVERIFY(r.form->ComPortSheet->OpenComPort->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!StatusForm()->isVisible());
}

}  // namespace

class TestOneOperation : public QObject {
    Q_OBJECT

private slots:
    void programConfigDuringProgramFlash()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(1)));
        TFlashImage::Bytes image;
        for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(0x5A ^ i);
        r.form->FlashMemorySheet->Image().Assign(image);
        r.During([&r] { return r.Written() >= 10; },  // the pause after the erase
                 [&r] {
                     VerifyHeld(r);
                     r.Show(r.form->FlashConfigSheet);
                     QTest::mouseClick(r.form->FlashConfigSheet->ProgramConfigButton, Qt::LeftButton);
                     // The handler refuses on its own as well.
                     const int written = r.Written();
                     ProgramConfigButtonClick(r.form->Session(), *r.form->FlashConfigSheet, 0);
                     QCOMPARE(r.Written(), written);
                     QCOMPARE(StatusForm()->windowTitle(), QStringLiteral("Flash Memory"));
                 });
        r.Show(r.form->FlashMemorySheet);
        r.form->FlashMemorySheet->ProgramFlashButton->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(r.Acted());
        QCOMPARE(r.Messages(), 0);
        const auto memory = r.vm.Memory();
        QCOMPARE(FlashOf(memory), image);
        // The configuration memory was not touched.
        const auto before = Pattern(1);
        QVERIFY(std::equal(before.begin() + 128, before.end(), memory.begin() + 128));
        VerifyReleased(r);
    }

    void sendCommandDuringReadFlash()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(2)));
        TCommandPage* commands = r.form->CommandSheet;
        commands->CommandCombo(1)->setCurrentIndex(cmd::ReadVersion);
        r.During([&r] { return r.Written() >= 1; },  // the presence check's pause
                 [&r, commands] {
                     VerifyHeld(r);
                     // The terminal would take the replies off the line.
                     QVERIFY(!r.form->TerminalSheet->ComTerminal->isEnabled());
                     r.Show(commands);
                     QTest::mouseClick(commands->SendButton(1), Qt::LeftButton);
                     commands->SendCommandClick(commands->SendButton(1));
                     commands->SendAllClick();
                     QCOMPARE(r.Written(), 1);
                     QVERIFY(commands->LogLines().isEmpty());
                 });
        r.Show(r.form->FlashMemorySheet);
        r.form->FlashMemorySheet->ReadFlashButton->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(r.Acted());
        QCOMPARE(r.Messages(), 0);
        QCOMPARE(r.form->FlashMemorySheet->Image().Data(), FlashOf(Pattern(2)));
        QVERIFY(commands->LogLines().isEmpty());
        VerifyReleased(r);
    }

    void openPortDuringProgramConfig()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(3)));
        r.During([&r] { return r.Written() >= 2; },
                 [&r] {
                     VerifyHeld(r);
                     r.Show(r.form->ComPortSheet);
                     const int opens = r.Opens();
                     QTest::mouseClick(r.form->ComPortSheet->OpenComPort, Qt::LeftButton);
                     r.form->ComPortSheet->OpenComPortClick();
                     QCOMPARE(r.Opens(), opens);
                     QVERIFY(r.form->ComPort1->Connected());
                 });
        r.Show(r.form->FlashConfigSheet);
        r.form->FlashConfigSheet->ProgramConfigButton->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(r.Acted());
        QCOMPARE(r.Messages(), 0);
        VerifyReleased(r);
        // The port stays open with its settings locked.
        QVERIFY(r.form->ComPort1->Connected());
        QVERIFY(!r.form->ComPortSheet->FlowControlGroup->isEnabled());
    }

    void closePortStopsTheOperation_data() { AddOperationRows(); }
    void closePortStopsTheOperation()
    {
        QFETCH(QString, op);
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(4)));
        const TRigOperation o = RigOperation(r, op);
        int written = -1;
        int opens = -1;
        r.During(o.when, [&] {
            VerifyHeld(r);
            r.PressClosePort();
            written = r.Written();
            opens = r.Opens();
        });
        r.Show(o.page);
        o.button->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(r.Acted());
        // Neither another byte nor a reopen of the port after "Close Port".
        QCOMPARE(r.Written(), written);
        QCOMPARE(r.Opens(), opens);
        QVERIFY(!r.form->ComPort1->Connected());
        QCOMPARE(r.Messages(), 1);
        QCOMPARE(int(r.dialogs.messages.size()), 1);
        QCOMPARE(r.dialogs.messages[0].caption, QStringLiteral("Communication Error"));
        QCOMPARE(r.dialogs.messages[0].style, 0x30);
        QVERIFY(o.page->isEnabled());
        VerifyReleased(r);
        QVERIFY(r.form->ComPortSheet->FlowControlGroup->isEnabled());

        // And the window works again.
        r.Show(r.form->ComPortSheet);
        r.form->ComPortSheet->OpenComPort->click();
        QVERIFY(r.form->ComPort1->Connected());
        r.Show(r.form->FlashMemorySheet);
        r.form->FlashMemorySheet->ReadFlashButton->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(r.Messages(), 1);
        // (A stop after the erase has left the module's flash erased.)
        QCOMPARE(r.form->FlashMemorySheet->Image().Data(), FlashOf(r.vm.Memory()));
    }
};

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestOneOperation t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_one_operation.moc"
