// "Find Module" on the Com Port page: the listed ports are searched, the
// answering port and rate are selected and reported; otherwise what was
// tried is listed with the jumper hint; Abort ends the search.
#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "module/operation_runner.h"
#include "common/ui/port_controls.h"
#include "finder_module.h"
#include "common/ui/radio_group.h"
#include "module/ui/com_port_page.h"
#include "module/ui/status_form.h"
#include "scripted_dialogs.h"
#include "serial/ui/com_combo_box.h"
#include "serial/com_port.h"
#include "serial/port_list.h"

class TestFindModule : public QObject {
    Q_OBJECT

    QTemporaryDir machine_;  // an empty machine: only the modules' ports are listed

    struct Page {
        TComPort port;
        TPortControls controls;
        QWidget window;
        TComPortPage* page;
        Page()
        {
            page = new TComPortPage(port, controls, &window);
            window.resize(700, 400);
            window.show();
        }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(machine_.path() + QLatin1String("/dev")));
        SetDefaultPortRoots({machine_.path(), machine_.path() + QLatin1String("/dev")});
        InitStatus();
    }

    void findsAndSelectsPortAndRate()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        auto silent = Module(0, true);
        auto at9600 = Module(9600);
        QVERIFY(silent && at9600);
        Page p;
        p.page->ComComboBox1->AddExtraPort(PathOf(*silent));
        p.page->ComComboBox1->AddExtraPort(PathOf(*at9600));
        p.page->ComComboBox1->SetText(PathOf(*silent));
        p.page->AllRatesCheckBox->setChecked(true);
        QCOMPARE(p.page->BaudRateGroup->ItemIndex(), 1);
        QTest::mouseClick(p.page->FindModuleButton, Qt::LeftButton);
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(d.messages.size(), size_t(1));
        QCOMPARE(d.messages[0].text, QStringLiteral("Tarnwick module 2.10 on %1 at 9600 baud.").arg(PathOf(*at9600)));
        QCOMPARE(d.messages[0].caption, QStringLiteral("Find Module"));
        QCOMPARE(p.page->ComComboBox1->Text(), PathOf(*at9600));
        QCOMPARE(p.page->BaudRateGroup->ItemIndex(), 4);
        QVERIFY(p.page->isEnabled());
        QVERIFY(!StatusForm()->isVisible());
        QVERIFY(!p.port.Connected());
        // The page's port is opened by hand afterwards as always.
        QTest::mouseClick(p.page->OpenComPort, Qt::LeftButton);
        QVERIFY(p.port.Connected());
        QVERIFY(!p.page->FindModuleButton->isEnabled());
        QTest::mouseClick(p.page->CloseComPort, Qt::LeftButton);
        QVERIFY(p.page->FindModuleButton->isEnabled());
    }

    void noAnswerListsWhatWasTried()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        auto silent = Module(0, true);
        auto at300 = Module(300);
        QVERIFY(silent && at300);
        Page p;
        p.page->ComComboBox1->AddExtraPort(PathOf(*silent));
        p.page->ComComboBox1->AddExtraPort(PathOf(*at300));
        p.page->BaudRateGroup->SetItemIndex(3);  // 19200 only
        QTest::mouseClick(p.page->FindModuleButton, Qt::LeftButton);
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(d.messages.size(), size_t(1));
        const QString text = d.messages[0].text;
        QVERIFY2(text.startsWith(QStringLiteral("No Tarnwick module answered.")), qPrintable(text));
        QVERIFY(text.contains(PathOf(*silent) + QStringLiteral(" at 19200 baud")));
        QVERIFY(text.contains(PathOf(*at300) + QStringLiteral(" at 19200 baud")));
        QVERIFY(text.contains(QStringLiteral("jumpered for Command Mode")));
        QCOMPARE(d.messages[0].style, 0x30);
        QCOMPARE(p.page->BaudRateGroup->ItemIndex(), 3);
    }

    void abortEndsTheSearch()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        auto silent = Module(0, true);
        QVERIFY(silent);
        Page p;
        p.page->ComComboBox1->AddExtraPort(PathOf(*silent));
        p.page->AllRatesCheckBox->setChecked(true);
        // Abort as soon as the progress window shows.
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [] {
            if (StatusForm()->isVisible()) QTest::mouseClick(StatusForm()->AbortButton, Qt::LeftButton);
        });
        poll.start(50);
        QTest::mouseClick(p.page->FindModuleButton, Qt::LeftButton);
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        poll.stop();
        QCOMPARE(d.messages.size(), size_t(1));
        QVERIFY2(d.messages[0].text.contains(QStringLiteral("aborted")), qPrintable(d.messages[0].text));
        // Fewer than the eight rates were tried.
        QVERIFY(silent->ReceivedCount() < 8 * 3);
    }
};

QTEST_MAIN(TestFindModule)
#include "test_find_module.moc"
