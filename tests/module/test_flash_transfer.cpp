// "Read Flash" and "Program Flash" against the virtual module on a pty.
#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

#include "common/ui/port_controls.h"
#include "flash_editor/flash_file.h"
#include "flash_editor/ui/flash_page.h"
#include "module/ui/error_report.h"
#include "module/ui/flash_transfer.h"
#include "module/memory_operations.h"
#include "module/operation_runner.h"
#include "module/session.h"
#include "module/ui/status_form.h"
#include "serial/com_port.h"
#include "support/module_line.h"
#include "support/scripted_dialogs.h"
#include "tools/vmodule/virtual_module.h"

namespace {

const QString kNoModule = QStringLiteral("Could not communicate with Tarnwick Module");

std::array<uint8_t, 256> Pattern(int salt)
{
    std::array<uint8_t, 256> m;
    for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i * 5 + salt);
    return m;
}

QByteArray Flash(const std::array<uint8_t, 256>& m)
{
    return QByteArray(reinterpret_cast<const char*>(m.data()), 128);
}

QByteArray ImageBytes(const TFlashImage& image)
{
    return QByteArray(reinterpret_cast<const char*>(image.Data().data()), 128);
}

// The bytes after the communication check (NOP, Read Version) of a run.
std::vector<uint8_t> AfterCheck(const std::vector<uint8_t>& rx)
{
    auto it = std::find(rx.begin(), rx.end(), uint8_t(0x0F));
    return it == rx.end() ? std::vector<uint8_t>{} : std::vector<uint8_t>(it + 1, rx.end());
}

}  // namespace

class TestFlashTransfer : public QObject, TModuleLine {
    Q_OBJECT

    TPortControls* controls = nullptr;
    TFlashPage* page = nullptr;

    // What the main window does: a port error that escapes ends in the error box.
    void Run(void (*op)(TModuleSession&, TFlashPage&))
    {
        op(*session, *page);
        QVERIFY(TOperationRunner::Panel().WaitIdle());
    }

    void VerifyRestored()
    {
        QVERIFY(page->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(StatusForm() && !StatusForm()->isVisible());
    }

private slots:
    void initTestCase() { InitStatus(); }

    void init()
    {
        std::string err;
        QVERIFY2(StartLine(true, &err), err.c_str());
        controls = new TPortControls;
        page = new TFlashPage(*controls);
        page->SetupGrids();
    }
    void cleanup()
    {
        delete page;
        delete controls;
        StopLine();
    }

    void readFillsHighestBlockFirst()
    {
        const auto memory = Pattern(7);
        vm->SetMemory(memory);
        QSignalSpy changed(&page->Image(), &TFlashImage::Changed);
        Run(ReadFlashButtonClick);
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(ImageBytes(page->Image()), Flash(memory));
        // Rows 7-8 first, rows 1-2 last.
        QCOMPARE(changed.count(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(changed.at(i).at(0).toInt(), (3 - i) * 32);
            QCOMPARE(changed.at(i).at(1).toInt(), 32);
        }
        const std::vector<uint8_t> expected{0x01, 0x00, 0x00, 0x00, 0x02, 0x31, 0x7F,
                                            0x31, 0x5F, 0x31, 0x3F, 0x31, 0x1F};
        QCOMPARE(AfterCheck(vm->Received()), expected);
        QCOMPARE(BarPosition(), 256);
        QCOMPARE(StatusForm()->windowTitle(), QStringLiteral("Flash Memory"));
        VerifyRestored();
        // Both grids show what was read.
        QCOMPARE(page->Grid().HexCellText(16, 8), QStringLiteral("%1").arg(memory[127], 2, 16, QChar('0')).toUpper());
        QCOMPARE(page->Grid().CharCellText(15, 8), FlashDisplayChar(memory[127]));
    }

    void readHeaderTest_data()
    {
        QTest::addColumn<int>("header");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0x5F") << 0x5F << true;
        QTest::newRow("0x40") << 0x40 << true;
        QTest::newRow("0x4A") << 0x4A << true;
        QTest::newRow("0x60") << 0x60 << false;
        QTest::newRow("0x20") << 0x20 << false;
    }
    void readHeaderTest()
    {
        QFETCH(int, header);
        QFETCH(bool, accepted);
        const auto memory = Pattern(1);
        vm->SetMemory(memory);
        TVirtualModuleFaults f;
        f.readFlashHeader = header;
        vm->SetFaults(f);
        Run(ReadFlashButtonClick);
        if (accepted) {
            QVERIFY(dialogs->messages.empty());
            QCOMPARE(ImageBytes(page->Image()), Flash(memory));
        } else {
            QCOMPARE(int(dialogs->messages.size()), 1);
            QCOMPARE(dialogs->messages[0].text, kNoModule);
            QCOMPARE(dialogs->messages[0].caption, QStringLiteral("Communication Error"));
            QCOMPARE(dialogs->messages[0].style, 0x30);
            QCOMPARE(ImageBytes(page->Image()), QByteArray(128, '\0'));
            // The loop ends with the refused block.
            const auto rx = AfterCheck(vm->Received());
            QCOMPARE(rx.back(), uint8_t(0x7F));
            QCOMPARE(std::count(rx.begin(), rx.end(), uint8_t(0x31)), 1L);
        }
        VerifyRestored();
    }

    void programThenReadBack()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("image.bin"));
        QByteArray data;
        for (int i = 0; i < 128; ++i) data.append(char(0xA5 ^ (i * 3)));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(data);
        }
        QVERIFY(LoadFlashFile(file, page->Image()));
        Run(ProgramFlashButtonClick);
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(Flash(vm->Memory()), data);
        const auto rx = vm->Received();
        QVERIFY(std::find(rx.begin(), rx.end(), uint8_t(0x40)) != rx.end());
        QCOMPARE(StatusForm()->windowTitle(), QStringLiteral("Flash Memory"));
        QCOMPARE(BarPosition(), 256);
        VerifyRestored();

        page->Image().Fill(0x00);
        Run(ReadFlashButtonClick);
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(ImageBytes(page->Image()), data);
    }

    void programConfigBlocksLeavesFlash()
    {
        const auto before = vm->Memory();
        std::array<uint8_t, 128> config;
        for (int i = 0; i < 128; ++i) config[size_t(i)] = uint8_t(0x80 + i);
        QVERIFY(session->Communication_Check());
        TBlockingObserver observer;
        QVERIFY(ProgramMemoryBlocks(*session, observer, 0x48, 4, config) == TOperationError::None);
        const auto after = vm->Memory();
        QCOMPARE(Flash(after), Flash(before));
        QVERIFY(std::equal(config.begin(), config.end(), after.begin() + 128));
        const auto rx = vm->Received();
        for (uint8_t block : {0x9F, 0xBF, 0xDF, 0xFF}) {
            const uint8_t cmd[2] = {0x30, block};
            QVERIFY(std::search(rx.begin(), rx.end(), cmd, cmd + 2) != rx.end());
        }
    }

    void unacknowledgedHandshakeSendsNoErase()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        TBlockingObserver observer;
        QVERIFY(ProgramMemoryBlocks(*session, observer, 0x40, 0, page->Image().Data()) != TOperationError::None);
        QTRY_COMPARE(vm->ReceivedCount(), 1L);
        QCOMPARE(vm->Received().front(), uint8_t(0x01));
        QTest::qWait(50);
        QCOMPARE(vm->ReceivedCount(), 1L);
    }

    void silentModuleFailsAfterTheCheck()
    {
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        Run(ReadFlashButtonClick);
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].text, kNoModule);
        QVERIFY(AfterCheck(vm->Received()).empty());
        VerifyRestored();

        vm->ClearReceived();
        Run(ProgramFlashButtonClick);
        QCOMPARE(int(dialogs->messages.size()), 2);
        QCOMPARE(dialogs->messages[1].text, kNoModule);
        QCOMPARE(dialogs->messages[1].style, 0x30);
        const auto rx = vm->Received();
        QVERIFY(!rx.empty());
        QCOMPARE(rx.back(), uint8_t(0x0F));
        QVERIFY(AfterCheck(rx).empty());
        QCOMPARE(std::count_if(rx.begin(), rx.end(), [](uint8_t b) { return b != 0xFF && b != 0x0F; }), 0L);
        VerifyRestored();
    }

    void closedPortFailsWithoutWriting()
    {
        port->ClosePort();
        vm->ClearReceived();
        Run(ProgramFlashButtonClick);
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].text, kNoModule);
        QCOMPARE(vm->ReceivedCount(), 0L);
        VerifyRestored();
    }

    void xonXoffBytesReadAsData()
    {
        // "Xon/Xoff" chosen: the line would take 0x11 and 0x13 for flow control.
        port->FlowControl().SetXonXoffIn(true);
        port->FlowControl().SetXonXoffOut(true);
        auto memory = Pattern(2);
        for (int i = 0; i < 128; i += 8) {
            memory[size_t(i)] = 0x13;
            memory[size_t(i + 1)] = 0x11;
        }
        vm->SetMemory(memory);
        Run(ReadFlashButtonClick);
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(ImageBytes(page->Image()), Flash(memory));
        QVERIFY(port->FlowControl().XonXoffIn());
        QVERIFY(port->FlowControl().XonXoffOut());
        VerifyRestored();

        // Programmed back and read again; restored after a failed run too.
        page->Image().Fill(0x13);
        Run(ProgramFlashButtonClick);
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(Flash(vm->Memory()), QByteArray(128, '\x13'));
        QVERIFY(port->FlowControl().XonXoffIn() && port->FlowControl().XonXoffOut());
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        Run(ReadFlashButtonClick);
        QCOMPARE(int(dialogs->messages.size()), 1);
        QVERIFY(port->FlowControl().XonXoffIn() && port->FlowControl().XonXoffOut());
        VerifyRestored();
    }

    void hangUpInMidReadLeavesUsablePage()
    {
        vm->SetMemory(Pattern(3));
        TVirtualModuleFaults f;
        // NOP, Read Version, the preamble (5) and the first Read Flash command (2).
        f.hangUpAfterBytes = 9;
        vm->SetFaults(f);
        Run(ReadFlashButtonClick);
        QCOMPARE(int(dialogs->messages.size() + size_t(dialogs->errors.size())), 1);
        VerifyRestored();
        QCOMPARE(ImageBytes(page->Image()), QByteArray(128, '\0'));
        // The editor still takes input.
        page->Grid().SetFocus(TFlashGrid::Hex);
        page->Grid().HexKeyPress(QChar('7'));
        page->Grid().HexKeyPress(QChar('e'));
        QCOMPARE(page->Image().Byte(0), uint8_t(0x7E));
    }
};

QTEST_MAIN(TestFlashTransfer)
#include "test_flash_transfer.moc"
