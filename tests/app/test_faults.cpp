// A module that hangs up or falls silent in the middle of each operation,
// driven through the real window: the panel must come back usable, say so
// once, keep what the user had, and work again after Close/Open Port.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "module/operation_runner.h"
#include "app/application.h"
#include "app/main_window.h"
#include "commands/command_catalogue.h"
#include "commands/ui/command_page.h"
#include "common/ui/radio_group.h"
#include "flash_editor/ui/flash_page.h"
#include "module/ui/com_port_page.h"
#include "module/ui/status_form.h"
#include "scripted_dialogs.h"
#include "serial/ui/com_combo_box.h"
#include "serial/com_port.h"
#include "settings/ui/config_page.h"
#include "terminal/com_term_buffer.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/ui/terminal_page.h"
#include "tools/vmodule/virtual_module.h"

namespace {

constexpr int kWaitMs = 10000;

std::array<uint8_t, 256> Pattern(int salt)
{
    std::array<uint8_t, 256> m;
    for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i * 7 + salt);
    return m;
}

TFlashImage::Bytes FlashOf(const std::array<uint8_t, 256>& m)
{
    TFlashImage::Bytes b;
    std::copy(m.begin(), m.begin() + 128, b.begin());
    return b;
}

// What the user typed or chose anywhere in the window, by object path.
QStringList FieldContents(QWidget* root)
{
    QStringList out;
    auto name = [](QObject* o) {
        QString n;
        for (; o; o = o->parent()) n.prepend(o->objectName() + QLatin1Char('/'));
        return n;
    };
    for (QLineEdit* e : root->findChildren<QLineEdit*>()) out << name(e) + QStringLiteral("=") + e->text();
    for (QComboBox* c : root->findChildren<QComboBox*>())
        out << name(c) + QStringLiteral("#") + QString::number(c->currentIndex()) + c->currentText();
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->isCheckable()) out << name(b) + QStringLiteral("?") + QString::number(b->isChecked());
    // Raising a widget reorders its siblings; only the contents count.
    out.sort();
    return out;
}

QString ScreenText(const TComTerminal& t)
{
    const TComTermBuffer& b = t.Buffer();
    QString s;
    for (int y = 1; y <= b.Rows(); ++y) {
        const TTermCell* row = b.Row(y);
        QString line;
        for (int x = 0; x < b.Columns(); ++x) line += row[x].Ch ? QChar(row[x].Ch) : QChar(' ');
        s += line.trimmed() + QLatin1Char('\n');
    }
    return s;
}

std::vector<uint8_t> Bytes(const char* text) { return std::vector<uint8_t>(text, text + qstrlen(text)); }

}  // namespace

// Runs a checking helper and leaves the test slot when it failed.
#define CHECKED(call)                             \
    do {                                          \
        call;                                     \
        if (QTest::currentTestFailed()) return;   \
    } while (0)

// The window on a virtual module reached through a fixed link path, so the
// module can be restarted on a new pty and the same port chosen again.
class TFaultRig {
public:
    TScriptedDialogs dialogs;
    TDialogsScope scope{&dialogs};
    QTemporaryDir dir;
    TVirtualModule vm;
    std::unique_ptr<TTarnwickForm> form;
    QStringList fieldsBefore;
    TFlashImage::Bytes imageBefore{};

    bool Setup()
    {
        if (!dir.isValid()) return false;
        vm.SetLinkPath(dir.filePath(QStringLiteral("module")).toStdString());
        vm.SetMemory(Pattern(3));
        std::string err;
        if (!vm.Start(&err)) {
            qWarning("virtual module: %s", err.c_str());
            return false;
        }
        form = std::make_unique<TTarnwickForm>();
        form->show();
        if (!QTest::qWaitForWindowActive(form.get())) return false;
        form->AddPort(QString::fromStdString(vm.PortPath()));
        // Something of the user's in the grid, to see that it survives.
        TFlashImage::Bytes mine;
        for (size_t i = 0; i < mine.size(); ++i) mine[i] = uint8_t(0xA0 ^ i);
        form->FlashMemorySheet->Image().Assign(mine);
        return OpenPort();
    }

    void Show(QWidget* page) { form->PageControl1->setCurrentWidget(page); }

    void Click(QPushButton* b)
    {
        QVERIFY(b->isVisible());
        QVERIFY(b->isEnabled());
        QTest::mouseClick(b, Qt::LeftButton);
    }

    bool OpenPort()
    {
        Show(form->ComPortSheet);
        QTest::mouseClick(form->ComPortSheet->OpenComPort, Qt::LeftButton);
        return form->ComPort1->Connected();
    }

    void Snapshot()
    {
        fieldsBefore = FieldContents(form.get());
        imageBefore = form->FlashMemorySheet->Image().Data();
    }

    int Messages() const { return int(dialogs.messages.size()) + int(dialogs.errors.size()); }

    // After the fault: one clear message, everything given back, nothing lost.
    void VerifyRecovered(QWidget* page)
    {
        QVERIFY(TOperationRunner::Panel().WaitIdle(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(Messages(), 1, kWaitMs);
        if (!dialogs.messages.empty()) {
            QVERIFY(!dialogs.messages[0].text.isEmpty());
            QCOMPARE(dialogs.messages[0].style, 0x30);
        } else {
            // A port error: what happened and what to do about it.
            QVERIFY(!dialogs.errors[0].isEmpty());
            QVERIFY2(!dialogs.errorDetails[0].isEmpty(), qPrintable(dialogs.errors[0]));
        }
        QVERIFY(page->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(StatusForm() && !StatusForm()->isVisible());
        QCOMPARE(FieldContents(form.get()), fieldsBefore);
    }

    // The module is plugged in again; Close Port and Open Port bring the
    // panel back, and a read gets the module's memory.
    void VerifyReconnects()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!vm.Running(), kWaitMs);
        vm.SetFaults(TVirtualModuleFaults{});
        std::string err;
        QVERIFY2(vm.Start(&err), err.c_str());
        vm.SetMemory(Pattern(11));
        const int before = Messages();

        Show(form->ComPortSheet);
        CHECKED(Click(form->ComPortSheet->CloseComPort));
        QVERIFY(!form->ComPort1->Connected());
        QVERIFY(form->ComPortSheet->FlowControlGroup->isEnabled());
        QVERIFY(form->ComPortSheet->ComComboBox1->isEnabled());
        QCOMPARE(Messages(), before);
        QVERIFY(OpenPort());
        QCOMPARE(Messages(), before);

        Show(form->FlashMemorySheet);
        CHECKED(Click(form->FlashMemorySheet->ReadFlashButton));
        QVERIFY(TOperationRunner::Panel().WaitIdle(kWaitMs));
        QCOMPARE(Messages(), before);
        QCOMPARE(form->FlashMemorySheet->Image().Data(), FlashOf(Pattern(11)));
        QVERIFY(form->FlashMemorySheet->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }
};

class TestFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<TFaultRig> rig;

private slots:
    void init()
    {
        rig = std::make_unique<TFaultRig>();
        QVERIFY(rig->Setup());
    }
    void cleanup() { rig.reset(); }

    void readFlash()
    {
        TFaultRig& r = *rig;
        r.Snapshot();
        // Check (2), preamble (5), block 3 (2) is read, block 2's command (2)
        // goes unanswered.
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 11;
        r.vm.SetFaults(f);
        r.Show(r.form->FlashMemorySheet);
        CHECKED(r.Click(r.form->FlashMemorySheet->ReadFlashButton));
        CHECKED(r.VerifyRecovered(r.form->FlashMemorySheet));
        // Block 3 arrived before the line went; the other blocks are the user's.
        TFlashImage::Bytes expected = r.imageBefore;
        const auto module = Pattern(3);
        std::copy(module.begin() + 96, module.begin() + 128, expected.begin() + 96);
        QCOMPARE(r.form->FlashMemorySheet->Image().Data(), expected);
        CHECKED(r.VerifyReconnects());
    }

    void programFlash()
    {
        TFaultRig& r = *rig;
        r.Snapshot();
        // Hangs up in the middle of block 0's data.
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 30;
        r.vm.SetFaults(f);
        r.Show(r.form->FlashMemorySheet);
        CHECKED(r.Click(r.form->FlashMemorySheet->ProgramFlashButton));
        CHECKED(r.VerifyRecovered(r.form->FlashMemorySheet));
        QCOMPARE(r.form->FlashMemorySheet->Image().Data(), r.imageBefore);
        CHECKED(r.VerifyReconnects());
    }

    void programConfig()
    {
        TFaultRig& r = *rig;
        TConfigPage* page = r.form->FlashConfigSheet;
        page->KeyEdit->setText(QStringLiteral("00112233445566778899AABBCCDDEEFF"));
        page->TemparatureEdit->setText(QStringLiteral("-5"));
        page->PowerUpAddressEdit->setText(QStringLiteral("1234"));
        r.Snapshot();
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 30;
        r.vm.SetFaults(f);
        r.Show(page);
        CHECKED(r.Click(page->ProgramConfigButton));
        CHECKED(r.VerifyRecovered(page));
        QCOMPARE(r.form->FlashMemorySheet->Image().Data(), r.imageBefore);
        // The flow control of the Com Port page is in force again.
        QCOMPARE(r.form->ComPort1->FlowControl().OutCTSFlow(), true);
        CHECKED(r.VerifyReconnects());
    }

    void sendCommand()
    {
        TFaultRig& r = *rig;
        TCommandPage* page = r.form->CommandSheet;
        r.Show(page);
        page->CommandCombo(1)->setCurrentIndex(cmd::ReadFlash);
        qobject_cast<QLineEdit*>(page->ParamControl(1, 1))->setText(QStringLiteral("0"));
        qobject_cast<QLineEdit*>(page->ParamControl(1, 2))->setText(QStringLiteral("1F"));
        r.Snapshot();
        // Check (2), then the first byte of the frame; the second cannot go.
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 3;
        r.vm.SetFaults(f);
        CHECKED(r.Click(page->SendButton(1)));
        CHECKED(r.VerifyRecovered(page));
        QVERIFY(page->LogLines().join(QLatin1Char('\n')).contains(QStringLiteral("1. <31>")));
        CHECKED(r.VerifyReconnects());
    }

    void sendAllWithRepeatingRow()
    {
        TFaultRig& r = *rig;
        TCommandPage* page = r.form->CommandSheet;
        r.Show(page);
        page->CommandCombo(1)->setCurrentIndex(cmd::ReadStatus);
        qobject_cast<QCheckBox*>(page->ParamControl(1, 1))->setChecked(true);
        page->CommandCombo(2)->setCurrentIndex(cmd::ReadVersion);
        r.Snapshot();
        // The module answers the check, then falls silent, so row 1 repeats;
        // the line goes with its second Read Status.
        TVirtualModuleFaults f;
        f.silentAfterBytes = 2;
        f.hangUpAfterBytes = 4;
        r.vm.SetFaults(f);
        CHECKED(r.Click(page->SendAllButton));
        CHECKED(r.VerifyRecovered(page));
        QCOMPARE(r.vm.Received(), std::vector<uint8_t>({0xFF, 0x0F, 0x02, 0x02}));
        CHECKED(r.VerifyReconnects());
    }

    void terminalStream()
    {
        TFaultRig& r = *rig;
        TTerminalPage* page = r.form->TerminalSheet;
        r.Show(page);
        page->ComTerminal->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(page->ComTerminal->hasFocus(), kWaitMs);
        r.Snapshot();
        r.vm.Inject(Bytes("first line\r\nsecond line\r\nMARK1\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(ScreenText(*page->ComTerminal).contains(QStringLiteral("MARK1")), kWaitMs);
        // More traffic, and the line goes while it streams in.
        std::string more;
        for (int i = 0; i < 12; ++i) more += "streamed line " + std::to_string(i) + "\r\n";
        r.vm.Inject(std::vector<uint8_t>(more.begin(), more.end()));
        TVirtualModuleFaults f;
        f.hangUpAfterBytes = 0;
        r.vm.SetFaults(f);
        QTRY_VERIFY_WITH_TIMEOUT(!r.vm.Running(), kWaitMs);
        CHECKED(r.VerifyRecovered(page));
        const QString screen = ScreenText(*page->ComTerminal);
        QVERIFY(screen.startsWith(QStringLiteral("first line\nsecond line\nMARK1\n")));
        // Typing into the dead line adds no second message.
        QTest::keyClick(page->ComTerminal, Qt::Key_A);
        QCOMPARE(r.Messages(), 1);
        QCOMPARE(ScreenText(*page->ComTerminal), screen);
        CHECKED(r.VerifyReconnects());
        QCOMPARE(ScreenText(*page->ComTerminal), screen);
    }
};

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestFaults t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_faults.moc"
