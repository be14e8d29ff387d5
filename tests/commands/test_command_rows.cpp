// The nine command rows: creation, the rebuild of the parameter controls,
// the hexadecimal fields of a row and "Clear Commands".
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "commands/command_catalogue.h"
#include "commands/ui/command_page.h"
#include "common/ui/port_controls.h"
#include "module/session.h"
#include "serial/com_port.h"
#include "support/scripted_dialogs.h"

class TestCommandRows : public QObject {
    Q_OBJECT

    TComPort* port = nullptr;
    TModuleSession* session = nullptr;
    TPortControls* controls = nullptr;
    TCommandPage* page = nullptr;
    TScriptedDialogs* dialogs = nullptr;

    void Choose(int row, int command) { page->CommandCombo(row)->setCurrentIndex(command); }

    QLineEdit* Edit(int row, int position) { return qobject_cast<QLineEdit*>(page->ParamControl(row, position)); }

    // Leaves a field the way the user does: the focus goes elsewhere.
    void Leave(QWidget* w)
    {
        page->ClearLogButton->setFocus();
        QTRY_VERIFY(!w->hasFocus());
    }

private slots:
    void init()
    {
        dialogs = new TScriptedDialogs;
        SetDialogs(dialogs);
        port = new TComPort;
        session = new TModuleSession(*port);
        controls = new TPortControls;
        page = new TCommandPage(*session, *controls);
        page->CreateCommandRows();
        page->resize(657, 376);
        page->show();
        page->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page));
    }
    void cleanup()
    {
        delete page;
        delete controls;
        delete session;
        delete port;
        SetDialogs(nullptr);
        delete dialogs;
    }

    void rowsAtStart()
    {
        QCOMPARE(page->objectName(), QStringLiteral("CommandSheet"));
        QCOMPARE(page->CommandBox->title(), QStringLiteral("Command Builder (Command Mode)"));
        QCOMPARE(page->CommandBox->geometry(), QRect(8, 8, 633, 249));
        for (int n = 1; n <= 9; ++n) {
            QCOMPARE(page->RowLabel(n)->text(), QStringLiteral("  %1.").arg(n));
            QCOMPARE(page->RowLabel(n)->parentWidget(), page->CommandBox);
            QComboBox* c = page->CommandCombo(n);
            QCOMPARE(c->count(), 22);
            QCOMPARE(c->itemText(0), QString());
            QCOMPARE(c->itemText(21), QStringLiteral("Read RF Status"));
            QCOMPARE(c->currentIndex(), -1);
            QCOMPARE(c->geometry().topLeft(), QPoint(30, 24 * n + 10));
            QCOMPARE(c->toolTip(), QStringLiteral("Command"));
            QCOMPARE(c->property("Tag").toInt(), n);
            QPushButton* b = page->SendButton(n);
            QCOMPARE(b->text(), QStringLiteral("Send Command"));
            QCOMPARE(b->geometry(), QRect(525, 24 * n + 10, 99, 21));
            QVERIFY(!b->isEnabled());
            QCOMPARE(page->ParamCount(n), 0);
        }
        QVERIFY(!page->SendAllButton->isEnabled());
        QVERIFY(page->ClearLogButton->isEnabled());
        // "Open Port" enables "Send All" before the row buttons, rows in order.
        const std::vector<QWidget*> ops = controls->Operations();
        QCOMPARE(ops.size(), size_t(10));
        QCOMPARE(ops[0], static_cast<QWidget*>(page->SendAllButton));
        for (int n = 1; n <= 9; ++n) QCOMPARE(ops[size_t(n)], static_cast<QWidget*>(page->SendButton(n)));
        // Built once: a second call adds nothing.
        page->CreateCommandRows();
        QCOMPARE(controls->Operations().size(), size_t(10));
    }

    void changingRowFreesAllControls()
    {
        Choose(3, cmd::SetPortPins);
        QCOMPARE(page->ParamCount(3), 17);
        std::vector<QPointer<QWidget>> old;
        for (int i = 1; i <= 17; ++i) old.emplace_back(page->ParamControl(3, i));
        for (int pin = 1; pin <= 16; ++pin) {
            auto* box = qobject_cast<QCheckBox*>(page->ParamControl(3, pin));
            QVERIFY(box);
            QCOMPARE(box->toolTip(), QStringLiteral("Header pin %1 high").arg(pin));
            QCOMPARE(box->x(), 520 - 20 * pin);
            QCOMPARE(box->y(), 24 * 3 + 12);
            QCOMPARE(box->property("Tag").toInt(), 3);
        }
        auto* label = qobject_cast<QLabel*>(page->ParamControl(3, 17));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("High"));
        QCOMPARE(label->parentWidget(), page->CommandBox);
        QVERIFY(!label->property("Tag").isValid());

        Choose(3, cmd::ReadVersion);
        QCOMPARE(page->ParamCount(3), 0);
        for (const auto& w : old) QVERIFY(w.isNull());
        QVERIFY(page->ParamControl(3, 1) == nullptr);

        Choose(3, cmd::SetPortDirection);
        QCOMPARE(page->ParamControl(3, 16)->toolTip(), QStringLiteral("Header pin 16 output"));
        QCOMPARE(qobject_cast<QLabel*>(page->ParamControl(3, 17))->text(), QStringLiteral("Output"));
    }

    void parameterControlsAsTabled()
    {
        Choose(1, cmd::SetUART);
        QCOMPARE(page->ParamCount(1), 3);
        auto* baud = qobject_cast<QComboBox*>(page->ParamControl(1, 1));
        auto* format = qobject_cast<QComboBox*>(page->ParamControl(1, 2));
        auto* flow = qobject_cast<QComboBox*>(page->ParamControl(1, 3));
        QVERIFY(baud && format && flow);
        QCOMPARE(baud->currentText(), QStringLiteral("57600 baud"));
        QCOMPARE(format->currentText(), QStringLiteral("8,n,1"));
        QCOMPARE(flow->currentText(), QStringLiteral("Hardware"));
        QCOMPARE(baud->count(), 8);
        QCOMPARE(format->count(), 12);
        QCOMPARE(format->toolTip(), QStringLiteral("Select number of data bits, parity, and stop bits"));
        QCOMPARE(flow->geometry().left(), 360);
        // The defaults encode as 57600 baud, 8,n,1.
        QCOMPARE(EncodeCommand(page->RowValues(1)).CommandFrame[2], uint16_t(0x18));

        Choose(2, cmd::SendSerialData);
        QCOMPARE(page->ParamCount(2), 3);
        QVERIFY(!Edit(2, 1)->isVisible());
        QCOMPARE(Edit(2, 2)->toolTip(), QStringLiteral("Length (Hex)"));
        QVERIFY(Edit(2, 2)->isReadOnly());
        QCOMPARE(Edit(2, 3)->maxLength(), 64);
        QCOMPARE(Edit(2, 3)->text(), QStringLiteral("00"));
        QCOMPARE(Edit(2, 3)->geometry(), QRect(230, 24 * 2 + 10, 280, Edit(2, 3)->height()));

        Choose(4, cmd::WriteRegisters);
        QVERIFY(Edit(4, 1)->isVisible());
        QCOMPARE(Edit(4, 1)->maxLength(), 1);
        QCOMPARE(Edit(4, 3)->maxLength(), 16);

        Choose(5, cmd::ReadFlash);
        QCOMPARE(page->ParamCount(5), 2);
        QVERIFY(!Edit(5, 2)->isReadOnly());

        Choose(6, cmd::Connect);
        QCOMPARE(Edit(6, 1)->text(), QStringLiteral("0000"));
        QCOMPARE(Edit(6, 1)->maxLength(), 4);
        QCOMPARE(Edit(6, 1)->toolTip(), QStringLiteral("Tarnwick unit address (Hex)"));

        Choose(7, cmd::ReadStatus);
        QCOMPARE(page->ParamControl(7, 1)->toolTip(), QStringLiteral("Repeat until 0x6B or timeout"));
        Choose(7, cmd::ReadNotStatus);
        QCOMPARE(page->ParamControl(7, 1)->toolTip(), QStringLiteral("Repeat until 0x62 or timeout"));

        Choose(8, cmd::SetRFChannel);
        auto* channel = qobject_cast<QComboBox*>(page->ParamControl(8, 1));
        QCOMPARE(channel->count(), 16);
        channel->setCurrentIndex(3);
        const TEncodedCommand e = EncodeCommand(page->RowValues(8));
        QCOMPARE(FrameBytes(e.CommandFrame), (std::vector<uint8_t>{0x20, 0x50, 0x0C}));

        for (int c : {int(cmd::Disconect), int(cmd::EraseFlash), int(cmd::ReadAD), int(cmd::ReadPortPins),
                      int(cmd::ReadVersion), int(cmd::ReadRFStatus), int(cmd::None)}) {
            Choose(9, c);
            QCOMPARE(page->ParamCount(9), 0);
        }
    }

    void dataFieldKeepsLengthInStep()
    {
        Choose(2, cmd::WriteFlash);
        QLineEdit* data = Edit(2, 3);
        QLineEdit* length = Edit(2, 2);
        data->setFocus();
        QTRY_VERIFY(data->hasFocus());
        data->selectAll();
        QTest::keyClick(data, Qt::Key_A);
        QCOMPARE(data->text(), QStringLiteral("A"));
        QCOMPARE(length->text(), QStringLiteral("00"));
        QTest::keyClicks(data, QStringLiteral("b"));
        QCOMPARE(data->text(), QStringLiteral("AB"));
        QCOMPARE(length->text(), QStringLiteral("00"));
        QTest::keyClicks(data, QStringLiteral("c"));
        QCOMPARE(length->text(), QStringLiteral("01"));
        // Not a hex digit: beep, nothing typed.
        const int beeps = dialogs->beeps;
        QTest::keyClicks(data, QStringLiteral("g"));
        QCOMPARE(data->text(), QStringLiteral("ABC"));
        QCOMPARE(dialogs->beeps, beeps + 1);
        QTest::keyClicks(data, QStringLiteral("1234"));
        QCOMPARE(length->text(), QStringLiteral("03"));
        // Odd digit count: leaving pads a leading zero.
        Leave(data);
        QCOMPARE(data->text(), QStringLiteral("0ABC1234"));
        QCOMPARE(length->text(), QStringLiteral("03"));
        QCOMPARE(FrameBytes(EncodeCommand(page->RowValues(2)).CommandFrame),
                 (std::vector<uint8_t>{0x30, 0x03, 0x0A, 0xBC, 0x12, 0x34}));

        // Pasted text with a non-hex character: "00" and one beep.
        const int before = dialogs->beeps;
        data->setText(QStringLiteral("12 34"));
        QCOMPARE(data->text(), QStringLiteral("00"));
        QCOMPARE(length->text(), QStringLiteral("00"));
        QCOMPARE(dialogs->beeps, before + 1);

        // An emptied field becomes "00" with length "00" on leaving.
        data->setFocus();
        QTRY_VERIFY(data->hasFocus());
        data->selectAll();
        QTest::keyClick(data, Qt::Key_Backspace);
        QCOMPARE(length->text(), QStringLiteral("00"));
        Leave(data);
        QCOMPARE(data->text(), QStringLiteral("00"));
    }

    void hexFieldsPadOnExit()
    {
        Choose(1, cmd::Connect);
        QLineEdit* unit = Edit(1, 1);
        unit->setFocus();
        QTRY_VERIFY(unit->hasFocus());
        unit->selectAll();
        QTest::keyClicks(unit, QStringLiteral("1a"));
        QCOMPARE(unit->text(), QStringLiteral("1A"));
        Leave(unit);
        QCOMPARE(unit->text(), QStringLiteral("001A"));

        Choose(1, cmd::ReadRegisters);
        QLineEdit* len = Edit(1, 2);
        len->setFocus();
        QTRY_VERIFY(len->hasFocus());
        len->selectAll();
        QTest::keyClicks(len, QStringLiteral("f"));
        Leave(len);
        QCOMPARE(len->text(), QStringLiteral("0F"));
    }

    void freeingAFocusedFieldIsSafe()
    {
        Choose(1, cmd::SendSerialData);
        QLineEdit* data = Edit(1, 3);
        data->setFocus();
        QTRY_VERIFY(data->hasFocus());
        QTest::keyClicks(data, QStringLiteral("5"));
        // Rebuilt while the data field still holds the focus.
        Choose(1, cmd::Nop);
        QCOMPARE(page->ParamCount(1), 1);
        QCOMPARE(Edit(1, 1)->text(), QStringLiteral("00"));
    }

    void clearCommands()
    {
        Choose(2, cmd::SetUART);
        Choose(5, cmd::Connect);
        page->CommandBuildTerminal->appendPlainText(QStringLiteral("2. <20><70><18>[6B]"));

        dialogs->answers.push_back(mb::IdNo);
        page->ClearCommandsButtonClick();
        QCOMPARE(dialogs->messages.size(), size_t(1));
        QCOMPARE(dialogs->messages[0].text, QStringLiteral("Are you sure?"));
        QCOMPARE(dialogs->messages[0].caption, QStringLiteral("Clear Commands"));
        QCOMPARE(dialogs->messages[0].style, mb::YesNo | mb::IconExclamation);
        QCOMPARE(page->CommandCombo(2)->currentIndex(), int(cmd::SetUART));
        QCOMPARE(page->ParamCount(2), 3);

        QPointer<QWidget> unit = page->ParamControl(5, 1);
        dialogs->answers.push_back(mb::IdYes);
        page->ClearCommandsButtonClick();
        for (int n = 1; n <= 9; ++n) {
            QCOMPARE(page->CommandCombo(n)->currentIndex(), 0);
            QCOMPARE(page->ParamCount(n), 0);
        }
        QVERIFY(unit.isNull());
        QCOMPARE(page->LogLines(), QStringList{QStringLiteral("2. <20><70><18>[6B]")});

        page->ClearLogButtonClick();
        QVERIFY(page->LogLines().isEmpty());
    }
};

QTEST_MAIN(TestCommandRows)
#include "test_command_rows.moc"
