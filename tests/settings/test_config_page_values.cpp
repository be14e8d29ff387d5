// Putting values onto the Config Memory page: as if typed, left and chosen.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "settings/ui/config_page.h"
#include "support/scripted_dialogs.h"

class TestConfigPageValues : public QObject {
    Q_OBJECT

    TScriptedDialogs dialogs;
    std::unique_ptr<TPortControls> controls;
    std::unique_ptr<TConfigPage> page;

    static bool Shown(QWidget* w) { return !w->isHidden(); }

private slots:
    void init()
    {
        dialogs = TScriptedDialogs{};
        SetDialogs(&dialogs);
        controls = std::make_unique<TPortControls>();
        page = std::make_unique<TConfigPage>(*controls);
    }
    void cleanup()
    {
        page.reset();
        controls.reset();
        SetDialogs(nullptr);
    }

    void valuesComeBackAsSet()
    {
        TConfigValues v;
        v.key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
        v.channels[0] = QStringLiteral("903.032");
        v.channels[11] = QStringLiteral("926.968");
        v.temperature = QStringLiteral("-12");
        v.customBaud = QStringLiteral("9600");
        v.mode = 3;
        v.rfDataRate = 2;
        v.channel = 15;
        v.masterSlave = 1;
        v.baudRate = 7;
        v.bitSettings = 11;
        v.flowControl = 1;
        v.outputPins[1] = v.outputPins[9] = true;
        v.address = QStringLiteral("0A0B");
        page->SetValues(v);
        QCOMPARE(page->Values(), v);
        QCOMPARE(page->BaudLabel->text(), QStringLiteral("baud ( Actual baud = 9596, -0.04% Error )"));
        QVERIFY(Shown(page->PURCIOLabel) && !Shown(page->PowerUpUARTLabel) && Shown(page->MasterSlaveNote3));
        QCOMPARE(dialogs.beeps, 0);
    }

    // Texts a person could have left unfinished are settled the way leaving
    // the field settles them.
    void textsAreSettledAsOnLeaving()
    {
        TConfigValues v;
        v.key = QStringLiteral("abc");
        v.channels[3] = QStringLiteral("915");
        v.address = QStringLiteral("7");
        page->SetValues(v);
        QCOMPARE(page->KeyEdit->text(), QString(29, QLatin1Char('0')) + QStringLiteral("ABC"));
        QCOMPARE(page->ChannelDEdit->text(), QStringLiteral("914.936"));
        QCOMPARE(page->PowerUpAddressEdit->text(), QStringLiteral("0007"));
    }

    void peripheralKeepsTheChosenUARTEnable()
    {
        TConfigValues v;
        v.mode = 2;
        v.uartEnable = 1;
        page->SetValues(v);
        QCOMPARE(page->UARTEnableItem(), 1);
        QVERIFY(Shown(page->PowerUpUARTEnable));
        QVERIFY(!Shown(page->PowerUpUARTLabel) && !Shown(page->PowerUpBaudRate));
        // Back to Cable Link: the rows of that mode, UART settings shown again.
        page->SetValues(TConfigValues{});
        QVERIFY(!Shown(page->PowerUpUARTEnable));
        QVERIFY(Shown(page->PowerUpUARTLabel) && Shown(page->PowerUpMasterSlave) && Shown(page->PowerUpAddressEdit));
        QCOMPARE(page->Values(), TConfigValues{});
    }
};

QTEST_MAIN(TestConfigPageValues)
#include "test_config_page_values.moc"
