// "Program Config" against the virtual module on a pty.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QtTest>
#include <algorithm>
#include <vector>

#include "common/ui/port_controls.h"
#include "module/config_image.h"
#include "module/ui/config_programming.h"
#include "module/operation_runner.h"
#include "module/ui/error_report.h"
#include "module/port_setup.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "serial/com_port.h"
#include "settings/ui/config_page.h"
#include "support/module_line.h"
#include "support/scripted_dialogs.h"
#include "tools/vmodule/virtual_module.h"

namespace {

const QString kNoModule = QStringLiteral("Could not communicate with Tarnwick Module");

QByteArray ConfigMemory(const std::array<uint8_t, 256>& m)
{
    return QByteArray(reinterpret_cast<const char*>(m.data()) + 128, 128);
}

QByteArray ImageBytes(const TConfigImage& img) { return QByteArray(reinterpret_cast<const char*>(img.data()), 128); }

// Positions of the byte b in the received stream.
int Count(const std::vector<uint8_t>& rx, uint8_t b) { return int(std::count(rx.begin(), rx.end(), b)); }

}  // namespace

class TestConfigProgramming : public QObject, TModuleLine {
    Q_OBJECT

    TPortControls* controls = nullptr;
    TConfigPage* page = nullptr;

    // What the main window does: a port error that escapes ends in the error box.
    void Run(int flowItem)
    {
        ProgramConfigButtonClick(*session, *page, flowItem);
        QVERIFY(TOperationRunner::Panel().WaitIdle());
    }

    // "Open Port" with the given flow-control item.
    void Open(int flowItem)
    {
        port->SetConnected(false);
        ApplyFlowControlItem(*port, flowItem);
        port->OpenPort();
        QVERIFY(port->Connected());
    }

    void VerifyRestored()
    {
        QVERIFY(page->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(StatusForm() && !StatusForm()->isVisible());
    }

    void VerifyFlowItem(int item)
    {
        const TComFlowControl& fc = port->FlowControl();
        switch (item) {
        case 0:
            QCOMPARE(fc.ControlRTS(), rtsHandshake);
            QVERIFY(fc.OutCTSFlow());
            QVERIFY(!fc.XonXoffIn() && !fc.XonXoffOut());
            break;
        case 1:
            QCOMPARE(fc.ControlDTR(), dtrHandshake);
            QVERIFY(fc.OutDSRFlow());
            QVERIFY(!fc.OutCTSFlow());
            break;
        case 2:
            QVERIFY(fc.XonXoffIn() && fc.XonXoffOut());
            QVERIFY(!fc.OutCTSFlow());
            break;
        default:
            QVERIFY(!fc.OutCTSFlow() && !fc.OutDSRFlow());
            QVERIFY(!fc.XonXoffIn() && !fc.XonXoffOut());
            break;
        }
    }

private slots:
    void initTestCase() { InitStatus(); }

    void init()
    {
        std::string err;
        QVERIFY2(StartLine(false, &err), err.c_str());
        controls = new TPortControls;
        page = new TConfigPage(*controls);
    }
    void cleanup()
    {
        delete page;
        delete controls;
        StopLine();
    }

    void initialPageIsProgrammed()
    {
        Open(0);
        Run(0);
        QVERIFY(dialogs->messages.empty());
        const auto memory = vm->Memory();
        QCOMPARE(ConfigMemory(memory), ImageBytes(ConfigImage(TConfigValues{})));
        // The flash half is not touched.
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(memory.data()), 128), QByteArray(128, '\xFF'));
        // Erase with 0x48 after Write Registers, then Write Flash to the four configuration blocks.
        const auto rx = vm->Received();
        const uint8_t erase[] = {0x20, 0x40, 0xAA, 0x48};
        QVERIFY(std::search(rx.begin(), rx.end(), std::begin(erase), std::end(erase)) != rx.end());
        for (uint8_t block : {0x9F, 0xBF, 0xDF, 0xFF}) {
            const uint8_t cmd[] = {0x30, block};
            QVERIFY(std::search(rx.begin(), rx.end(), std::begin(cmd), std::end(cmd)) != rx.end());
        }
        VerifyRestored();
        QVERIFY(port->Connected());
        VerifyFlowItem(0);
    }

    void editedPageWithXonXoffIsProgrammedAndRestored()
    {
        // Key bytes 0x11 and 0x13 must reach the module as data.
        page->KeyEdit->setText(QStringLiteral("11131113A5A5A5A5000102030405FFEE"));
        page->ChannelBEdit->setText(QStringLiteral("903"));
        page->TemparatureEdit->setText(QStringLiteral("-1.9"));
        page->CustomBaudEdit->setText(QStringLiteral("9600"));
        page->PowerUpMode->setCurrentIndex(3);
        page->PURCIO[4]->setChecked(true);
        page->PowerUpAddressEdit->setText(QStringLiteral("1234"));
        Open(2);
        // While the run pauses, the line has no handshaking and no XON/XOFF.
        // Judged between the module's first and last received byte: before
        // and after those the window may show the run while its worker has
        // not yet prepared, or has already restored, the line.
        const long before = vm->ReceivedCount();
        std::vector<std::pair<long, bool>> samples;  // bytes received so far, handshaking on
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, this, [&] {
            if (!StatusForm()->isVisible()) return;
            const TComFlowControl& fc = port->FlowControl();
            samples.emplace_back(vm->ReceivedCount(), fc.XonXoffIn() || fc.XonXoffOut() || fc.OutCTSFlow() ||
                                                          fc.OutDSRFlow() || fc.ControlDTR() != dtrEnable ||
                                                          fc.ControlRTS() != rtsEnable);
        });
        poll.start();
        Run(2);
        poll.stop();
        const long after = vm->ReceivedCount();
        int seen = 0, handshaking = 0;
        for (const auto& [received, on] : samples) {
            if (received <= before || received >= after) continue;
            ++seen;
            if (on) ++handshaking;
        }
        QVERIFY(seen > 0);
        QCOMPARE(handshaking, 0);
        QVERIFY(dialogs->messages.empty());
        const QByteArray expected = ImageBytes(ConfigImage(page->Values()));
        QCOMPARE(ConfigMemory(vm->Memory()), expected);
        QCOMPARE(expected.mid(0x40, 4), QByteArray("\x11\x13\x11\x13", 4));
        QCOMPARE(expected.mid(0x62, 2), QByteArray("\xFF\xFF", 2));
        QCOMPARE(expected.mid(0x7A, 2), QByteArray("\xFC\x01", 2));
        // Program Config converts copies: the fields keep their texts.
        QCOMPARE(page->TemparatureEdit->text(), QStringLiteral("-1.9"));
        QCOMPARE(page->ChannelBEdit->text(), QStringLiteral("903"));
        VerifyRestored();
        QVERIFY(port->Connected());
        VerifyFlowItem(2);
    }

    void silentModuleReportsAndRestoresFlowControl()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        Open(1);
        Run(1);
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].text, kNoModule);
        QCOMPARE(dialogs->messages[0].caption, QStringLiteral("Communication Error"));
        QCOMPARE(dialogs->messages[0].style, 0x30);
        // Nothing beyond the check: NOP and Read Version.
        const auto rx = vm->Received();
        QVERIFY(!rx.empty());
        QCOMPARE(rx.back(), uint8_t(0x0F));
        QCOMPARE(Count(rx, 0x48), 0);  // no erase
        QCOMPARE(ConfigMemory(vm->Memory()), QByteArray(128, '\xFF'));
        VerifyRestored();
        QVERIFY(port->Connected());
        VerifyFlowItem(1);
    }

    void closedPortWritesNothing()
    {
        ApplyFlowControlItem(*port, 2);
        Run(2);
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].text, kNoModule);
        QVERIFY(!port->Connected());
        QCOMPARE(vm->ReceivedCount(), 0L);
        VerifyRestored();
        VerifyFlowItem(2);
    }

    void failedBlockReportsProgrammingError()
    {
        // The module goes quiet once the erase command has arrived, so the
        // first block's communication check fails.
        Open(3);
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, this, [this] {
            const auto rx = vm->Received();
            if (std::find(rx.begin(), rx.end(), uint8_t(0x48)) != rx.end()) {
                TVirtualModuleFaults s;
                s.silent = true;
                vm->SetFaults(s);
            }
        });
        poll.start();
        Run(3);
        poll.stop();
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].text, QStringLiteral("Error Programming Config Memory"));
        QCOMPARE(dialogs->messages[0].style, 0x30);
        VerifyRestored();
        QVERIFY(port->Connected());
        VerifyFlowItem(3);
    }

    void hangUpInMidRunRestoresPageAndSettings()
    {
        Open(0);
        TVirtualModuleFaults f;
        // NOP, Read Version and the start of the programming preamble.
        f.hangUpAfterBytes = 5;
        vm->SetFaults(f);
        Run(0);
        QCOMPARE(int(dialogs->messages.size() + size_t(dialogs->errors.size())), 1);
        VerifyRestored();
        VerifyFlowItem(0);
    }
};

QTEST_MAIN(TestConfigProgramming)
#include "test_config_programming.moc"
