// The Com Port page: enabling order, locked settings, reopening, failed
// opens, flow-control items and the lamps, against the virtual module.
#include <QPushButton>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "common/ui/radio_group.h"
#include "module/ui/com_port_page.h"
#include "module/port_setup.h"
#include "scripted_dialogs.h"
#include "serial/ui/com_combo_box.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"
#include "tools/vmodule/virtual_module.h"

class TestComPortPage : public QObject {
    Q_OBJECT

    struct Fixture {
        TVirtualModule vm;
        TComPort port;
        TPortControls controls;
        QWidget window;
        TComPortPage* page;
        std::vector<QPushButton*> ops;
        QPushButton* echo;
        std::vector<QWidget*> enableOrder;

        Fixture()
        {
            page = new TComPortPage(port, controls, &window);
            // Stand-ins for the other pages' controls, registered out of order.
            const TPortControlOrder orders[] = {TPortControlOrder::RowButtons, TPortControlOrder::ReadFlash,
                                                TPortControlOrder::ProgramConfig, TPortControlOrder::SendAll};
            for (auto o : orders) {
                auto* b = new QPushButton(&window);
                b->setEnabled(false);
                b->setProperty("order", int(o));
                controls.AddOperation(b, o);
                ops.push_back(b);
            }
            echo = new QPushButton(&window);
            controls.AddSetting(echo);
            window.resize(700, 400);
            window.show();
            std::string err;
            vm.Start(&err);
            page->ComComboBox1->AddExtraPort(QString::fromStdString(vm.PortPath()));
        }
    };

private slots:
    void openAndCloseSwitchControls()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        Fixture f;
        QCOMPARE(f.page->ComComboBox1->Text(), QString::fromStdString(f.vm.PortPath()));
        QTest::mouseClick(f.page->OpenComPort, Qt::LeftButton);
        QVERIFY2(d.errors.isEmpty(), qPrintable(d.errors.join(';')));
        QVERIFY(f.port.Connected());
        for (QWidget* w : f.page->SettingControls()) QVERIFY(!w->isEnabled());
        QVERIFY(!f.echo->isEnabled());
        for (auto* b : f.ops) QVERIFY(b->isEnabled());
        // The enabling order follows the operations' order, whatever the registration order.
        const auto order = f.controls.Operations();
        for (size_t i = 1; i < order.size(); ++i)
            QVERIFY(order[i - 1]->property("order").toInt() <= order[i]->property("order").toInt());
        QCOMPARE(f.page->ComLed1->State(), lsOn);

        QTest::mouseClick(f.page->CloseComPort, Qt::LeftButton);
        QVERIFY(!f.port.Connected());
        for (QWidget* w : f.page->SettingControls()) QVERIFY(w->isEnabled());
        QVERIFY(f.echo->isEnabled());
        for (auto* b : f.ops) QVERIFY(!b->isEnabled());
        QCOMPARE(f.page->ComLed1->State(), lsOff);
    }

    void openOnOpenPortReopensWithNewSettings()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        Fixture f;
        f.page->OpenComPortClick();
        QCOMPARE(f.port.BaudRate(), br57600);
        f.page->BaudRateGroup->SetItemIndex(4);
        f.page->StopBitGroup->SetItemIndex(1);
        f.page->OpenComPortClick();
        QVERIFY(f.port.Connected());
        QCOMPARE(f.port.BaudRate(), br9600);
        QCOMPARE(f.port.StopBits(), sbTwoStopBits);
        f.page->CloseComPortClick();
    }

    void failedOpenKeepsGroupsLockedUntilClose()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        Fixture f;
        f.page->ComComboBox1->AddExtraPort(QStringLiteral("/dev/tarnwick-no-such-port"));
        QTest::mouseClick(f.page->OpenComPort, Qt::LeftButton);
        QCOMPARE(d.errors.size(), 1);
        QVERIFY(d.errors[0].startsWith(QStringLiteral("Unable to open com port (win error code: 2)")));
        QVERIFY(d.errorDetails[0].contains(QStringLiteral("plugged in")));
        QVERIFY(!f.port.Connected());
        for (QWidget* w : f.page->SettingControls()) QVERIFY(!w->isEnabled());
        for (auto* b : f.ops) QVERIFY(!b->isEnabled());
        QTest::mouseClick(f.page->CloseComPort, Qt::LeftButton);
        for (QWidget* w : f.page->SettingControls()) QVERIFY(w->isEnabled());
        QVERIFY(f.echo->isEnabled());
    }

    void flowItemsIndependentOfHistory()
    {
        // For each item, the members after choosing it are the same whatever came before.
        struct Members {
            TFlowControl fc;
            TDTRFlowControl dtr;
            TRTSFlowControl rts;
            bool dsr, cts, xin, xout;
            bool operator==(const Members&) const = default;
        };
        auto members = [](TComPort& p) {
            const auto& fc = p.FlowControl();
            return Members{fc.FlowControl(), fc.ControlDTR(), fc.ControlRTS(), fc.OutDSRFlow(),
                           fc.OutCTSFlow(),  fc.XonXoffIn(),  fc.XonXoffOut()};
        };
        for (int item = 0; item < 4; ++item) {
            TComPort ref;
            ApplyFlowControlItem(ref, item);
            const Members expected = members(ref);
            for (int before = 0; before < 4; ++before) {
                TComPort p;
                ApplyFlowControlItem(p, before);
                ApplyFlowControlItem(p, item);
                QVERIFY2(members(p) == expected, qPrintable(QStringLiteral("%1 after %2").arg(item).arg(before)));
            }
        }
        TComPort p;
        ApplyFlowControlItem(p, 0);
        QCOMPARE(p.FlowControl().FlowControl(), fcHardware);
        QCOMPARE(p.MakeDCB().Flags, 0x2015u);
        ApplyFlowControlItem(p, 1);
        QCOMPARE(p.MakeDCB().Flags, 0x1029u);
        ApplyFlowControlItem(p, 2);
        QCOMPARE(p.FlowControl().FlowControl(), fcSoftware);
        QCOMPARE(p.FlowControl().ControlDTR(), dtrEnable);
        QVERIFY(!p.FlowControl().OutDSRFlow());
        ApplyFlowControlItem(p, 3);
        QCOMPARE(p.MakeDCB().Flags, 0x1011u);
        QVERIFY(!p.FlowControl().XonXoffIn());
        QVERIFY(!p.FlowControl().XonXoffOut());
    }

    void portChoicesApplied()
    {
        TComPort p;
        TPortChoices c;
        c.port = QStringLiteral("COM3");
        c.baudItem = 7;
        c.dataItem = 1;
        c.parityItem = 1;
        c.stopItem = 1;
        c.flowItem = 3;
        ApplyPortChoices(p, c);
        QCOMPARE(p.Port(), QStringLiteral("COM3"));
        QCOMPARE(p.BaudRate(), br300);
        QCOMPARE(p.DataBits(), dbSeven);
        QCOMPARE(p.Parity().Bits(), prOdd);
        QVERIFY(p.Parity().Check());
        QCOMPARE(p.StopBits(), sbTwoStopBits);
        QCOMPARE(p.MakeDCB().Flags, 0x1011u | 0x0002u);
    }
};

QTEST_MAIN(TestComPortPage)
#include "test_com_port_page.moc"
