// The Config Memory page: start state, the power-up panel's rows per mode,
// and the temperature and custom baud fields.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "settings/ui/config_page.h"
#include "support/scripted_dialogs.h"

class TestConfigPage : public QObject {
    Q_OBJECT

    TPortControls* controls = nullptr;
    TConfigPage* page = nullptr;
    TScriptedDialogs* dialogs = nullptr;

    static bool Shown(QWidget* w) { return !w->isHidden(); }
    bool UARTShown() const
    {
        const bool on = Shown(page->PowerUpUARTLabel);
        for (QWidget* w : {(QWidget*)page->PowerUpBaudRate, (QWidget*)page->PowerUpBitSettings,
                           (QWidget*)page->PowerUpFlowControl})
            if (Shown(w) != on) return !on;  // a half-shown row fails either way
        return on;
    }
    bool OutputsShown() const
    {
        int shown = 0;
        for (QCheckBox* b : page->PURCIO) shown += Shown(b);
        if (shown != 0 && shown != 16) return false;
        return Shown(page->PURCIOLabel) && shown == 16;
    }
    void Enter(QLineEdit* e)
    {
        e->setFocus();
        QTRY_VERIFY(e->hasFocus());
    }
    void Leave(QLineEdit* e)
    {
        page->KeyEdit->setFocus();
        QTRY_VERIFY(!e->hasFocus());
    }

private slots:
    void init()
    {
        dialogs = new TScriptedDialogs;
        SetDialogs(dialogs);
        controls = new TPortControls;
        page = new TConfigPage(*controls);
        page->show();
        page->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page));
    }
    void cleanup()
    {
        delete page;
        delete controls;
        SetDialogs(nullptr);
        delete dialogs;
    }

    void startState()
    {
        QCOMPARE(page->KeyEdit->text(), QStringLiteral("1F2E3D4C5B6A79880F1E2D3C4B5A6978"));
        QCOMPARE(page->KeyEdit->maxLength(), 32);
        for (QLineEdit* e : page->ChannelEdits) {
            QCOMPARE(e->text(), QStringLiteral("915.064"));
            QCOMPARE(e->maxLength(), 7);
            QCOMPARE(e->toolTip(), QStringLiteral("903.000 to 927.000 Mhz"));
        }
        QCOMPARE(page->ChannelEdits[4], page->ChannelEEdit);
        QCOMPARE(page->ChannelEEdit->objectName(), QStringLiteral("ChannelEEdit"));
        QCOMPARE(page->TemparatureEdit->maxLength(), 6);
        QCOMPARE(page->CustomBaudEdit->text(), QStringLiteral("300"));
        QCOMPARE(page->BaudLabel->text(), QStringLiteral("baud ( Actual baud = 300, 0.00% Error )"));
        QCOMPARE(page->PowerUpAddressEdit->text(), QStringLiteral("FFFE"));
        QCOMPARE(page->PowerUpAddressEdit->maxLength(), 4);
        QCOMPARE(page->PowerUpChannel->count(), 16);
        QCOMPARE(page->PowerUpChannel->itemText(15), QStringLiteral("Channel 15"));
        QCOMPARE(page->PowerUpBitSettings->itemText(11), QStringLiteral("7,o,2"));
        QVERIFY(page->PowerUpUARTEnable->isEditable());
        QVERIFY(!page->PowerUpMode->isEditable());

        // Sixteen pin boxes, pin 16 on the left, 20 pixels apart.
        for (int pin = 1; pin <= 16; ++pin) {
            QCheckBox* b = page->PURCIO[size_t(pin - 1)];
            QCOMPARE(b->objectName(), QStringLiteral("PURCIO%1").arg(pin));
            QCOMPARE(b->toolTip(), QStringLiteral("Header Pin %1").arg(pin));
            QCOMPARE(b->isChecked(), pin == 1);
            QCOMPARE(b->isEnabled(), !(pin == 1 || pin == 11 || pin >= 13));
            if (pin > 1) QCOMPARE(b->x() + 20, page->PURCIO[size_t(pin - 2)]->x());
        }

        // The button waits for "Open Port".
        QVERIFY(!page->ProgramConfigButton->isEnabled());
        // "Read Config" follows the port too, after "Program Config".
        QCOMPARE(controls->Operations().size(), size_t(2));
        QCOMPARE(controls->Operations().front(), (QWidget*)page->ProgramConfigButton);
        QCOMPARE(controls->Operations().back(), (QWidget*)page->ReadConfigButton);

        // Cable Link rows.
        QVERIFY(Shown(page->PowerUpMasterSlave) && Shown(page->PowerUpAddressEdit) && Shown(page->MasterSlaveNote3));
        QVERIFY(UARTShown());
        QVERIFY(!Shown(page->PowerUpUARTEnable) && !Shown(page->PowerUpUARTEnableLabel));
        QVERIFY(!Shown(page->PURCIOLabel));
        for (QCheckBox* b : page->PURCIO) QVERIFY(!Shown(b));

        // The values the page starts with are the record's defaults.
        const TConfigValues v = page->Values(), d;
        QCOMPARE(v.key, d.key);
        QVERIFY(v.channels == d.channels);
        QCOMPARE(v.address, d.address);
        QVERIFY(v.outputPins == d.outputPins);
        QCOMPARE(v.mode, 0);
        QCOMPARE(v.uartEnable, 0);
    }

    void rowsFollowTheMode()
    {
        struct Row {
            int mode;
            bool masterSlave, uartEnable, uart, outputs, address, note3;
        };
        const Row rows[] = {
            {1, false, false, true, false, false, false},  // Command
            {2, false, true, true, false, true, false},    // Peripheral
            {3, true, false, false, true, false, true},    // Remote Control
            {4, false, false, true, false, false, false},  // AT Command
            {0, true, false, true, false, true, true},     // Cable Link
        };
        for (const Row& r : rows) {
            page->PowerUpMode->setCurrentIndex(r.mode);
            QVERIFY(Shown(page->PowerUpModeLabel) && Shown(page->PowerUpMode));
            QVERIFY(Shown(page->PowerUpRFDataRate) && Shown(page->PowerUpDateRateLabel));
            QVERIFY(Shown(page->PowerUpChannel) && Shown(page->PowerUpChannelLabel));
            QCOMPARE(Shown(page->PowerUpMasterSlave), r.masterSlave);
            QCOMPARE(Shown(page->PowerUpMasterSlaveLabel), r.masterSlave);
            QCOMPARE(Shown(page->PowerUpUARTEnable), r.uartEnable);
            QCOMPARE(Shown(page->PowerUpUARTEnableLabel), r.uartEnable);
            QCOMPARE(UARTShown(), r.uart);
            QCOMPARE(OutputsShown(), r.outputs);
            QCOMPARE(Shown(page->PowerUpAddressEdit), r.address);
            QCOMPARE(Shown(page->PowerUpAddressLabel), r.address);
            QCOMPARE(Shown(page->MasterSlaveNote3), r.note3);
        }
        // The output boxes take the UART row's place.
        QCOMPARE(page->PURCIO[15]->y() / 10, page->PowerUpBaudRate->y() / 10);
    }

    void peripheralUARTDisable()
    {
        page->PowerUpMode->setCurrentIndex(2);
        page->PowerUpUARTEnable->setCurrentIndex(1);
        QVERIFY(!UARTShown());
        QCOMPARE(page->Values().uartEnable, 1);
        page->PowerUpUARTEnable->setCurrentIndex(0);
        QVERIFY(UARTShown());
        page->PowerUpUARTEnable->setCurrentIndex(1);

        // Another mode shows the UART row again; back in Peripheral the box is reset.
        page->PowerUpMode->setCurrentIndex(1);
        QVERIFY(UARTShown());
        QCOMPARE(page->PowerUpUARTEnable->currentIndex(), 1);
        page->PowerUpMode->setCurrentIndex(2);
        QCOMPARE(page->PowerUpUARTEnable->currentIndex(), 0);
        QCOMPARE(page->PowerUpUARTEnable->currentText(), QStringLiteral("UART Enable"));
        QVERIFY(UARTShown());

        // Typed text that names no item counts as no item.
        page->PowerUpUARTEnable->setEditText(QStringLiteral("maybe"));
        QVERIFY(!UARTShown());
        QCOMPARE(page->Values().uartEnable, -1);
        page->PowerUpUARTEnable->setEditText(QStringLiteral("UART Enable"));
        QVERIFY(UARTShown());
        QCOMPARE(page->Values().uartEnable, 0);
    }

    void hiddenSelectionsStay()
    {
        page->PowerUpMode->setCurrentIndex(1);
        page->PowerUpBaudRate->setCurrentIndex(4);
        page->PowerUpMode->setCurrentIndex(3);
        page->PURCIO[1]->setChecked(true);
        page->PowerUpMode->setCurrentIndex(1);
        QCOMPARE(page->PowerUpBaudRate->currentIndex(), 4);
        QVERIFY(page->Values().outputPins[1]);
        // Pin 1 cannot be unchecked by the user.
        page->PowerUpMode->setCurrentIndex(3);
        QTest::mouseClick(page->PURCIO[0], Qt::LeftButton);
        QVERIFY(page->PURCIO[0]->isChecked());
    }

    void temperatureEnterAppliesTheRule()
    {
        QLineEdit* t = page->TemparatureEdit;
        t->clear();
        Enter(t);
        QTest::keyClicks(t, QStringLiteral("-3a.2"));
        QCOMPARE(t->text(), QStringLiteral("-32"));
        QCOMPARE(dialogs->beeps, 2);
        QTest::keyClicks(t, QStringLiteral("769"));
        QCOMPARE(t->text(), QStringLiteral("-32769"));
        QTest::keyClick(t, Qt::Key_Return);
        QCOMPARE(t->text(), QStringLiteral("0"));
        QCOMPARE(dialogs->beeps, 3);
        QVERIFY(t->hasFocus());

        t->setText(QStringLiteral("-"));
        Leave(t);
        QCOMPARE(t->text(), QStringLiteral("0"));
        QCOMPARE(dialogs->beeps, 3);
        t->setText(QStringLiteral("-32768"));
        Enter(t);
        Leave(t);
        QCOMPARE(t->text(), QStringLiteral("-32768"));
    }

    void customBaudShowsTheActualRate()
    {
        QLineEdit* b = page->CustomBaudEdit;
        b->clear();
        Enter(b);
        QTest::keyClicks(b, QStringLiteral("96.00"));
        QCOMPARE(b->text(), QStringLiteral("9600"));
        QCOMPARE(dialogs->beeps, 1);
        QTest::keyClick(b, Qt::Key_Enter);
        QCOMPARE(page->BaudLabel->text(), QStringLiteral("baud ( Actual baud = 9596, -0.04% Error )"));
        QVERIFY(b->hasFocus());

        b->setText(QStringLiteral("73"));
        Leave(b);
        QCOMPARE(b->text(), QStringLiteral("300"));
        QCOMPARE(page->BaudLabel->text(), QStringLiteral("baud ( Actual baud = 300, 0.00% Error )"));
        QCOMPARE(dialogs->beeps, 2);

        b->clear();
        Enter(b);
        QTest::keyClick(b, Qt::Key_Return);
        QCOMPARE(b->text(), QStringLiteral("300"));
        QCOMPARE(dialogs->beeps, 3);
        QVERIFY(dialogs->messages.empty());
    }

    // Every button and check box can be seen and clicked: none lies on
    // another, none is cut by the edge of its parent.
    void controlsDoNotCoverEachOther()
    {
        QList<QWidget*> controls;
        for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
            if (b->isVisibleTo(page)) controls << b;
        for (QLabel* l : page->findChildren<QLabel*>())
            if (l->isVisibleTo(page) && !l->text().isEmpty()) controls << l;
        QVERIFY(controls.contains(page->ProgramPairButton));
        for (QWidget* w : controls) {
            const QRect inParent = w->geometry();
            QVERIFY2(w->parentWidget()->rect().contains(inParent),
                     qPrintable(w->objectName() + QStringLiteral(" is cut by its parent")));
        }
        for (int i = 0; i < controls.size(); ++i)
            for (int j = i + 1; j < controls.size(); ++j) {
                QWidget* a = controls[i];
                QWidget* b = controls[j];
                const QRect ra(a->mapTo(page, QPoint(0, 0)), a->size());
                const QRect rb(b->mapTo(page, QPoint(0, 0)), b->size());
                QVERIFY2(!ra.intersects(rb), qPrintable(a->objectName() + QStringLiteral(" covers ") +
                                                        b->objectName()));
            }
        // The notice's text fits its lines.
        QLabel* notice = page->ExampleKeyNotice;
        QVERIFY(notice->heightForWidth(notice->width()) <= notice->height());
    }

    void configurationFieldsUseTheSharedRules()
    {
        QLineEdit* a = page->PowerUpAddressEdit;
        a->clear();
        Enter(a);
        QTest::keyClicks(a, QStringLiteral("1a"));
        Leave(a);
        QCOMPARE(a->text(), QStringLiteral("001A"));
        Enter(page->ChannelLEdit);
        page->ChannelLEdit->setText(QStringLiteral("903"));
        Leave(page->ChannelLEdit);
        QCOMPARE(page->ChannelLEdit->text(), QStringLiteral("903.032"));
        QCOMPARE(page->Values().channels[11], QStringLiteral("903.032"));
    }
};

QTEST_MAIN(TestConfigPage)
#include "test_config_page.moc"
