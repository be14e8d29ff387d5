// The Jumper Settings page driven through its real controls: captions and
// items, the enable/show rows per mode and for LoadFromFlash, and the marks,
// overlay and labels that follow the clicks.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QtTest>

#include "common/ui/radio_group.h"
#include "settings/ui/jumper_page.h"

namespace {

// On the indicator: a short caption leaves the button's middle outside its click area.
void Click(TRadioGroup* g, int item)
{
    QRadioButton* b = g->Button(item);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(7, b->height() / 2));
}

QStringList Items(TRadioGroup* g)
{
    QStringList v;
    for (int i = 0; i < g->Count(); ++i) v << g->Button(i)->text();
    return v;
}

// Enabled groups (data rate, baud, channel, point, DB9 serial, DB9 flow), then
// shown: both notes, SerialDefaultLabel, LoadFromFlash.
QString ControlRow(TJumperPage& p)
{
    QString s;
    for (QWidget* g : {static_cast<QWidget*>(p.DunmereRFDataRateGroup), static_cast<QWidget*>(p.DunmereBaudRateGroup),
                       static_cast<QWidget*>(p.DunmereRFChannelGroup), static_cast<QWidget*>(p.DunmereMasterSlaveGroup),
                       static_cast<QWidget*>(p.DunmereRS232SerialGroup),
                       static_cast<QWidget*>(p.DunmereFlowControlGroup)})
        s += g->isEnabled() ? 'E' : '-';
    s += ' ';
    s += !p.MasterSlaveNote->isHidden() ? 'N' : '-';
    s += !p.MasterSlaveNote2->isHidden() ? 'N' : '-';
    s += !p.SerialDefaultLabel->isHidden() ? 'S' : '-';
    s += !p.LoadFromFlash->isHidden() ? 'L' : '-';
    return s;
}

// J6 as the marks show it: U, L or - per position.
QString HeaderMarks(TJumperPage& p)
{
    QString s;
    for (int i = 0; i < kHeaderPositions; ++i) {
        QWidget* m = p.ShuntMarks[jmHeader1 + i];
        if (m->isHidden()) s += '-';
        else if (m->geometry() == ShuntMarkRect(TShuntMark(jmHeader1 + i), hsUpper)) s += 'U';
        else if (m->geometry() == ShuntMarkRect(TShuntMark(jmHeader1 + i), hsLower)) s += 'L';
        else s += '?';
    }
    return s;
}

QList<int> Db9Marks(TJumperPage& p)
{
    QList<int> v;
    for (int m = 0; m < kDb9MarkCount; ++m)
        if (!p.ShuntMarks[m]->isHidden())
            v << (p.ShuntMarks[m]->geometry() == ShuntMarkRect(TShuntMark(m)) ? m : -1);  // -1: misplaced
    return v;
}

// Which label boxes of the drawn picture carry text (white pixels).
QString LabelBoxesWithText(TJumperPage& p)
{
    QString s;
    const QImage img = p.BoardCanvas();
    for (int b = lbP; b <= lbS; ++b) {
        const QRect r = LabelBoxRect(TLabelBox(b));
        bool any = false;
        for (int y = r.top(); y <= r.bottom() && !any; ++y)
            for (int x = r.left(); x <= r.right() && !any; ++x) any = img.pixel(x, y) == qRgb(255, 255, 255);
        s += any ? QChar('P' + b) : QChar('-');
    }
    return s;
}

struct ShownPage {
    TJumperPage page;
    ShownPage()
    {
        page.resize(653, 373);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
    }
};

}  // namespace

class TestJumperPage : public QObject {
    Q_OBJECT
private slots:
    void controlsAndStartState()
    {
        ShownPage f;
        TJumperPage& p = f.page;
        QCOMPARE(p.DunmereGroupBox->title(), QString("Dunmere 232A"));
        QCOMPARE(p.DunmereModeGroup->title(), QString("Mode"));
        QCOMPARE(Items(p.DunmereModeGroup),
                 (QStringList{"Demo", "Cable Link", "Command", "Peripheral", "R/C", "AT Command"}));
        QCOMPARE(Items(p.DunmereRFDataRateGroup), (QStringList{"76800 bps", "19200 bps", "4800 bps"}));
        QCOMPARE(p.DunmereBaudRateGroup->title(), QString("Serial Baud Rate"));
        QCOMPARE(Items(p.DunmereBaudRateGroup).last(), QString("Custom"));
        QCOMPARE(p.DunmereRFChannelGroup->Count(), 9);
        QCOMPARE(p.DunmereRFChannelGroup->Button(8)->text(), QString("Channel 15"));
        QCOMPARE(p.DunmereMasterSlaveGroup->title(), QString("Point to Point"));
        QCOMPARE(Items(p.DunmereRS232SerialGroup), (QStringList{"TX = 2, RX = 3", "TX = 3, RX = 2"}));
        QCOMPARE(p.DunmereFlowControlGroup->title(), QString("DB9 Flow Control"));
        QCOMPARE(p.DunmereFlowControlGroup->Button(2)->text(), QString("FI = 4, FO = 6 "));
        QCOMPARE(p.LoadFromFlash->text(), QString("Load configuration options from internal Flash memory."));
        QCOMPARE(p.MasterSlaveNote2->text(), QString("and the other to Point B."));
        for (const char* name : {"DunmereModeGroup", "DunmereFlowControlGroup", "LoadFromFlash", "SerialDefaultLabel",
                                 "MasterSlaveNote", "MasterSlaveNote2", "FCOverlayImage"})
            QVERIFY2(p.findChild<QWidget*>(name), name);
        QCOMPARE(p.FCOverlayImage->geometry(), QRect(113, 13, 101, 46));
        QCOMPARE(p.BoardImage->geometry(), QRect(16, 8, 250, 323));
        // Every child stays inside the page area of the main window.
        for (QWidget* w : p.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(QRect(0, 0, 651, 373).contains(w->geometry()), qPrintable(w->objectName()));

        QCOMPARE(p.DunmereModeGroup->ItemIndex(), int(dmCableLink));
        QCOMPARE(p.DunmereBaudRateGroup->ItemIndex(), int(bd57600));
        QVERIFY(!p.LoadFromFlash->isChecked());
        QCOMPARE(ControlRow(p), QString("EEEEEE NNSL"));
        QCOMPARE(HeaderMarks(p), QString("LLLLLLL"));
        QCOMPARE(Db9Marks(p), (QList<int>{jmSerialStraight1, jmSerialStraight2, jmFlowVertical1, jmFlowVertical2}));
        QVERIFY(p.FCOverlayImage->isHidden());
        QCOMPARE(LabelBoxesWithText(p), QString("PQRS"));
        // Running it again, as the main window's creation does, changes nothing.
        const QImage before = p.BoardCanvas();
        p.SetJumpers();
        QCOMPARE(p.BoardCanvas(), before);
        QCOMPARE(HeaderMarks(p), QString("LLLLLLL"));
    }

    void modeRows_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("controls");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("labels");
        QTest::newRow("Demo") << int(dmDemo) << "E-EE-- NN--" << "LLUULLL" << "----";
        QTest::newRow("Cable Link") << int(dmCableLink) << "EEEEEE NNSL" << "LLLLLLL" << "PQRS";
        QTest::newRow("Command") << int(dmCommand) << "EEE-EE --SL" << "ULLLLLL" << "PQRS";
        QTest::newRow("Peripheral") << int(dmPeripheral) << "----EE ----" << "-------" << "PQRS";
        QTest::newRow("R/C") << int(dmRC) << "------ NN--" << "-------" << "----";
        QTest::newRow("AT Command") << int(dmATCommand) << "----EE ----" << "-------" << "PQRS";
    }
    void modeRows()
    {
        QFETCH(int, mode);
        QFETCH(QString, controls);
        QFETCH(QString, header);
        QFETCH(QString, labels);
        ShownPage f;
        // Leave the start mode first so every row is reached by a real change.
        Click(f.page.DunmereModeGroup, mode == dmRC ? dmDemo : dmRC);
        Click(f.page.DunmereModeGroup, mode);
        QCOMPARE(f.page.DunmereModeGroup->ItemIndex(), mode);
        QCOMPARE(ControlRow(f.page), controls);
        QCOMPARE(HeaderMarks(f.page), header);
        QCOMPARE(LabelBoxesWithText(f.page), labels);
        QCOMPARE(Db9Marks(f.page).size(), labels == "----" ? 0 : 4);
    }

    void modeChangeUnchecksLoadFromFlash()
    {
        ShownPage f;
        TJumperPage& p = f.page;
        Click(p.DunmereModeGroup, dmCommand);
        QTest::mouseClick(p.LoadFromFlash, Qt::LeftButton);
        QVERIFY(p.LoadFromFlash->isChecked());
        Click(p.DunmereModeGroup, dmCableLink);
        QVERIFY(!p.LoadFromFlash->isChecked());
        QCOMPARE(ControlRow(p), QString("EEEEEE NNSL"));
        QCOMPARE(HeaderMarks(p), QString("LLLLLLL"));

        QTest::mouseClick(p.LoadFromFlash, Qt::LeftButton);
        Click(p.DunmereModeGroup, dmPeripheral);
        QVERIFY(!p.LoadFromFlash->isChecked());
        QVERIFY(p.LoadFromFlash->isHidden());
    }

    void loadFromFlashInCommand()
    {
        ShownPage f;
        TJumperPage& p = f.page;
        Click(p.DunmereModeGroup, dmCommand);
        Click(p.DunmereRS232SerialGroup, dsTx3Rx2);
        const QList<int> db9 = Db9Marks(p);
        QCOMPARE(HeaderMarks(p), QString("ULLLLLL"));

        QTest::mouseClick(p.LoadFromFlash, Qt::LeftButton);
        QCOMPARE(ControlRow(p), QString("----EE ---L"));
        QCOMPARE(HeaderMarks(p), QString("-------"));
        QCOMPARE(Db9Marks(p), db9);
        QCOMPARE(LabelBoxesWithText(p), QString("PQRS"));
        // Disabled groups ignore clicks.
        Click(p.DunmereBaudRateGroup, bd9600);
        QCOMPARE(p.DunmereBaudRateGroup->ItemIndex(), int(bd57600));

        QTest::mouseClick(p.LoadFromFlash, Qt::LeftButton);
        QCOMPARE(ControlRow(p), QString("EEE-EE --SL"));
        QCOMPARE(HeaderMarks(p), QString("ULLLLLL"));
        QCOMPARE(Db9Marks(p), db9);
    }

    void loadFromFlashInCableLinkKeepsNotes()
    {
        ShownPage f;
        TJumperPage& p = f.page;
        QTest::mouseClick(p.LoadFromFlash, Qt::LeftButton);
        QCOMPARE(ControlRow(p), QString("----EE NN-L"));
        QCOMPARE(HeaderMarks(p), QString("-------"));
        QTest::mouseClick(p.LoadFromFlash, Qt::LeftButton);
        QCOMPARE(ControlRow(p), QString("EEEEEE NNSL"));
    }

    void groupClicksRedraw()
    {
        ShownPage f;
        TJumperPage& p = f.page;
        Click(p.DunmereMasterSlaveGroup, ptPointB);
        Click(p.DunmereRFDataRateGroup, dr19200);
        Click(p.DunmereBaudRateGroup, bdCustom);
        Click(p.DunmereRFChannelGroup, 7);
        QCOMPARE(HeaderMarks(p), QString("L-LUU-U"));

        Click(p.DunmereRS232SerialGroup, dsTx3Rx2);
        Click(p.DunmereFlowControlGroup, dfFi8Fo7);
        QCOMPARE(Db9Marks(p), (QList<int>{jmSerialCrossed1, jmSerialCrossed2, jmFlowPairA1, jmFlowPairA2}));
        QVERIFY(p.FCOverlayImage->isHidden());
        Click(p.DunmereFlowControlGroup, dfFi4Fo6);
        QCOMPARE(Db9Marks(p), (QList<int>{jmSerialCrossed1, jmSerialCrossed2, jmFlowVertical3, jmFlowVertical4}));
        QVERIFY(!p.FCOverlayImage->isHidden());

        // R/C removes every mark and label; the overlay keeps its last state.
        Click(p.DunmereModeGroup, dmRC);
        QCOMPARE(HeaderMarks(p), QString("-------"));
        QVERIFY(Db9Marks(p).isEmpty());
        QCOMPARE(LabelBoxesWithText(p), QString("----"));
        QVERIFY(!p.FCOverlayImage->isHidden());

        Click(p.DunmereModeGroup, dmPeripheral);
        Click(p.DunmereFlowControlGroup, dfFi7Fo8);
        QVERIFY(p.FCOverlayImage->isHidden());
        QCOMPARE(LabelBoxesWithText(p), QString("PQRS"));
    }

    void demoIgnoresBaud()
    {
        ShownPage f;
        TJumperPage& p = f.page;
        Click(p.DunmereBaudRateGroup, bd1200);
        QCOMPARE(HeaderMarks(p), QString("LL--LLL"));
        Click(p.DunmereModeGroup, dmDemo);
        QCOMPARE(HeaderMarks(p), QString("LLUULLL"));
        QVERIFY(!p.DunmereBaudRateGroup->isEnabled());
        QVERIFY(!p.DunmereRS232SerialGroup->isEnabled());
        QVERIFY(!p.DunmereFlowControlGroup->isEnabled());
        QCOMPARE(LabelBoxesWithText(p), QString("----"));
    }
};

QTEST_MAIN(TestJumperPage)
#include "test_jumper_page.moc"
