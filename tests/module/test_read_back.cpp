// "Read Config", the verifying read after programming and "Compare with
// Module", against the virtual module on a pty.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <algorithm>

#include "common/ui/port_controls.h"
#include "flash_editor/ui/flash_page.h"
#include "module/config_image.h"
#include "module/ui/config_programming.h"
#include "module/ui/flash_transfer.h"
#include "module/port_setup.h"
#include "module/operation_runner.h"
#include "module/ui/read_back.h"
#include "module/ui/status_form.h"
#include "settings/ui/config_page.h"
#include "support/module_line.h"

namespace {

const QString kNoModule = QStringLiteral("Could not communicate with Tarnwick Module");
// Bytes a programming run writes: the check (2), the preamble and erase (8),
// per block a check, Disconect, Connect and Write Flash with 32 bytes (40).
constexpr long kProgrammingBytes = 2 + 8 + 4 * 40;

std::array<uint8_t, 256> Pattern(int salt)
{
    std::array<uint8_t, 256> m;
    for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i * 5 + salt);
    return m;
}

TConfigValues Unusual()
{
    TConfigValues v;
    v.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
    v.channels[0] = QStringLiteral("903.032");
    v.channels[4] = QStringLiteral("926.968");
    v.channels[11] = QStringLiteral("914.936");
    v.temperature = QStringLiteral("-12");
    v.customBaud = QStringLiteral("9600");
    v.mode = 3;  // Remote Control: the pins count
    v.rfDataRate = 2;
    v.channel = 9;
    v.masterSlave = 1;
    v.outputPins = {};
    v.outputPins[0] = true;
    v.outputPins[6] = true;
    v.outputPins[2] = true;
    v.address = QStringLiteral("12AB");
    return v;
}

std::vector<uint8_t> After(const std::vector<uint8_t>& rx, size_t skip)
{
    return rx.size() <= skip ? std::vector<uint8_t>{} : std::vector<uint8_t>(rx.begin() + long(skip), rx.end());
}

}  // namespace

class TestReadBack : public QObject, TModuleLine {
    Q_OBJECT

    TPortControls* controls = nullptr;
    TFlashPage* flash = nullptr;
    TConfigPage* config = nullptr;

    template <class F>
    void Run(F&& f)
    {
        f();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
    }

    void SetConfigMemory(const TConfigImage& image)
    {
        auto m = vm->Memory();
        std::copy(image.begin(), image.end(), m.begin() + 128);
        vm->SetMemory(m);
    }
    TConfigImage ConfigMemory() const
    {
        const auto m = vm->Memory();
        TConfigImage out;
        std::copy(m.begin() + 128, m.end(), out.begin());
        return out;
    }

private slots:
    void initTestCase() { InitStatus(); }

    void init()
    {
        std::string err;
        QVERIFY2(StartLine(true, &err), err.c_str());
        controls = new TPortControls;
        flash = new TFlashPage(*controls);
        flash->SetupGrids();
        config = new TConfigPage(*controls);
    }
    void cleanup()
    {
        delete config;
        delete flash;
        delete controls;
        StopLine();
    }

    void buttonsFollowThePort()
    {
        QVERIFY(config->VerifyConfigCheckBox->isChecked());
        QVERIFY(flash->VerifyFlashCheckBox->isChecked());
        const auto ops = controls->Operations();
        for (QWidget* w : {static_cast<QWidget*>(config->ReadConfigButton), static_cast<QWidget*>(flash->CompareFlashButton)}) {
            QVERIFY(!w->isEnabled());
            QVERIFY(std::find(ops.begin(), ops.end(), w) != ops.end());
        }
        // The specified order stays: Program Config first, then Read Flash.
        QCOMPARE(ops.front(), static_cast<QWidget*>(config->ProgramConfigButton));
    }

    void readConfigFillsThePageForAnIdenticalProgramming()
    {
        const TConfigImage original = ConfigImage(Unusual());
        SetConfigMemory(original);
        Run([&] { ReadConfigButtonClick(*session, *config); });
        QVERIFY2(dialogs->messages.empty(), dialogs->messages.empty() ? "" : qPrintable(dialogs->messages[0].text));
        QCOMPARE(StatusForm()->windowTitle(), QStringLiteral("Config Memory"));
        QCOMPARE(config->Values().address, QStringLiteral("12AB"));
        QCOMPARE(config->Values().mode, 3);
        // The blocks were asked for highest first, after the Read Flash preamble.
        const auto rx = vm->Received();
        const std::vector<uint8_t> tail{0x02, 0x31, 0xFF, 0x31, 0xDF, 0x31, 0xBF, 0x31, 0x9F};
        QVERIFY(std::search(rx.begin(), rx.end(), tail.begin(), tail.end()) != rx.end());

        SetConfigMemory([] {
            TConfigImage blank;
            blank.fill(0xFF);
            return blank;
        }());
        Run([&] { ProgramConfigButtonClick(*session, *config, 0); });
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(ConfigMemory(), original);
    }

    void readConfigListsWhatThePageCannotShow()
    {
        TConfigImage image = ConfigImage(TConfigValues{});
        image[0x50] = 0x12;  // a template byte
        SetConfigMemory(image);
        Run([&] { ReadConfigButtonClick(*session, *config); });
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].caption, QStringLiteral("Read Config"));
        QVERIFY(dialogs->messages[0].text.contains(QStringLiteral("0x50")));
        QVERIFY(dialogs->messages[0].text.contains(QStringLiteral("\"Program Config\"")));
        QCOMPARE(ConfigImage(config->Values()), ConfigImage(TConfigValues{}));
    }

    void readConfigFailureLeavesThePage()
    {
        config->KeyEdit->setText(QStringLiteral("FFEEDDCCBBAA99887766554433221100"));
        const TConfigValues before = config->Values();
        TVirtualModuleFaults f;
        f.silent = true;
        vm->SetFaults(f);
        Run([&] { ReadConfigButtonClick(*session, *config); });
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].text, kNoModule);
        QVERIFY(config->Values() == before);
        QVERIFY(config->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void verifyIsSilentOnAGoodModuleAndReadsBack()
    {
        flash->Image().Assign([] {
            TFlashImage::Bytes b;
            for (int i = 0; i < 128; ++i) b[size_t(i)] = uint8_t(0xA5 ^ i);
            return b;
        }());
        vm->ClearReceived();
        Run([&] { ProgramFlashButtonClick(*session, *flash); });
        QVERIFY(dialogs->messages.empty());
        QVERIFY(flash->MarkedAddresses().empty());
        // The programming's own bytes first, then the verifying read.
        const auto verify = After(vm->Received(), size_t(kProgrammingBytes));
        const std::vector<uint8_t> blocks{0x31, 0x7F, 0x31, 0x5F, 0x31, 0x3F, 0x31, 0x1F};
        QVERIFY(verify.size() >= blocks.size());
        QVERIFY(std::equal(blocks.begin(), blocks.end(), verify.end() - long(blocks.size())));

        // Unchecked: nothing after the programming.
        flash->VerifyFlashCheckBox->setChecked(false);
        vm->ClearReceived();
        Run([&] { ProgramFlashButtonClick(*session, *flash); });
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(vm->ReceivedCount(), kProgrammingBytes);
    }

    void verifyCatchesACorruptedFlashWrite()
    {
        flash->Image().Fill(0x3C);
        TVirtualModuleFaults f;
        f.corruptWriteAddress = 0x25;
        vm->SetFaults(f);
        Run([&] { ProgramFlashButtonClick(*session, *flash); });
        QCOMPARE(int(dialogs->messages.size()), 1);
        const QString text = dialogs->messages[0].text;
        QVERIFY2(text.contains(QStringLiteral("1 byte differs")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("0x25: written 3C, read 3D")), qPrintable(text));
        QCOMPARE(flash->MarkedAddresses(), std::vector<int>{0x25});
        QVERIFY(flash->CompareSummaryLabel->text().contains(QStringLiteral("0x25")));
        // The next edit clears the marks.
        flash->Grid().SetFocus(TFlashGrid::Hex);
        flash->Grid().HexKeyPress(QChar('1'));
        QVERIFY(flash->MarkedAddresses().empty());
        QVERIFY(flash->CompareSummaryLabel->text().isEmpty());
    }

    void verifyCatchesACorruptedConfigWrite()
    {
        port->SetConnected(false);
        ApplyFlowControlItem(*port, 0);
        port->OpenPort();
        TVirtualModuleFaults f;
        f.corruptWriteAddress = 0xA5;
        vm->SetFaults(f);
        Run([&] { ProgramConfigButtonClick(*session, *config, 0); });
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].caption, QStringLiteral("Verify Error"));
        QVERIFY2(dialogs->messages[0].text.contains(QStringLiteral("0xA5: written")),
                 qPrintable(dialogs->messages[0].text));
        QVERIFY(port->Connected());
    }

    void silentModuleDuringTheVerifyingRead()
    {
        TVirtualModuleFaults f;
        f.silentAfterBytes = kProgrammingBytes;
        vm->SetFaults(f);
        Run([&] { ProgramFlashButtonClick(*session, *flash); });
        QCOMPARE(int(dialogs->messages.size()), 1);
        QCOMPARE(dialogs->messages[0].text, kNoModule);

        vm->SetFaults(f);
        Run([&] { ProgramConfigButtonClick(*session, *config, 0); });
        QCOMPARE(int(dialogs->messages.size()), 2);
        QCOMPARE(dialogs->messages[1].text, kNoModule);
    }

    void compareMarksExactlyTheDifferingCells()
    {
        const auto memory = Pattern(9);
        vm->SetMemory(memory);
        TFlashImage::Bytes shown;
        std::copy(memory.begin(), memory.begin() + 128, shown.begin());
        for (int a : {0x25, 0x40, 0x7F}) shown[size_t(a)] ^= 0x80;
        flash->Image().Assign(shown);
        Run([&] { CompareFlashButtonClick(*session, *flash); });
        QVERIFY(dialogs->messages.empty());
        QCOMPARE(flash->MarkedAddresses(), (std::vector<int>{0x25, 0x40, 0x7F}));
        QCOMPARE(flash->CompareSummaryLabel->text(), QStringLiteral("3 bytes differ, first at 0x25"));
        QVERIFY(flash->Image().Data() == shown);  // the grids keep what they showed

        // A read clears the marks.
        Run([&] { ReadFlashButtonClick(*session, *flash); });
        QVERIFY(flash->MarkedAddresses().empty());
    }
};

QTEST_MAIN(TestReadBack)
#include "test_read_back.moc"
