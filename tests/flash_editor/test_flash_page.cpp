// The Flash Memory page driven through real key and mouse events.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "common/hex_text.h"
#include "common/ui/port_controls.h"
#include "flash_editor/flash_grid_geometry.h"
#include "flash_editor/ui/flash_grid_view.h"
#include "flash_editor/ui/flash_page.h"

using namespace flash_grid;

class TestFlashPage : public QObject {
    Q_OBJECT

    TPortControls* controls = nullptr;
    TFlashPage* page = nullptr;

    TFlashGridController& G() { return page->Grid(); }

    // Both grids show the image byte for byte.
    void VerifyGridsEqual()
    {
        for (int a = 0; a < 128; ++a) {
            const int hex = HexSubstringValue(G().HexCellText(a % 16 + 1, a / 16 + 1), 1, 2);
            QCOMPARE(hex, int(page->Image().Byte(a)));
            QCOMPARE(G().CharCellText(a % 16, a / 16 + 1), FlashDisplayChar(uint8_t(hex)));
        }
        QCOMPARE(G().CharCol() + 1, G().HexCol());
        QCOMPARE(G().CharRow(), G().HexRow());
    }

    QPoint HexPoint(int col, int row, int dx)
    {
        return page->FlashMemory->FromClient(HexCellRect(col, row).topLeft() + QPoint(dx, 10));
    }

    QColor PixelAt(QWidget* w, QPoint p) { return w->grab().toImage().pixelColor(p); }

private slots:
    void init()
    {
        controls = new TPortControls;
        page = new TFlashPage(*controls);
        page->SetupGrids();
        page->ResetNibble();
        page->resize(660, 380);
        page->show();
        QVERIFY(QTest::qWaitForWindowActive(page));
        QTest::mouseClick(page->FlashMemory, Qt::LeftButton, {}, HexPoint(1, 1, 3));
        QTRY_VERIFY(page->FlashMemory->hasFocus());
    }
    void cleanup()
    {
        delete page;
        delete controls;
    }

    void controlsAndStartState()
    {
        QCOMPARE(page->objectName(), QStringLiteral("FlashMemorySheet"));
        QCOMPARE(page->ReadFlashButton->text(), QStringLiteral("Read Flash"));
        QCOMPARE(page->ProgramFlashButton->text(), QStringLiteral("Program Flash"));
        QCOMPARE(page->FlashMemoryLoad->text(), QStringLiteral("Load Binary File"));
        QCOMPARE(page->FlashMemorySave->text(), QStringLiteral("Save Binary File"));
        QCOMPARE(page->findChild<QWidget*>(QStringLiteral("FlashMemory")), page->FlashMemory);
        QCOMPARE(page->findChild<QWidget*>(QStringLiteral("FlashMemoryS")), page->FlashMemoryS);
        QVERIFY(page->NoteLabel->text().startsWith(QStringLiteral("NOTE: Tarnwick Module must be in Command Mode")));
        QVERIFY(!page->ReadFlashButton->isEnabled());
        QVERIFY(!page->ProgramFlashButton->isEnabled());
        const auto ops = controls->Operations();
        // "Compare with Module" follows the port too, after the two specified buttons.
        QCOMPARE(int(ops.size()), 3);
        QCOMPARE(ops[0], page->ReadFlashButton);
        QCOMPARE(ops[1], page->ProgramFlashButton);
        QCOMPARE(ops[2], page->CompareFlashButton);
        QCOMPARE(page->FlashMemory->contentsRect().size(), QSize(HexGridWidth(), GridHeight()));
        QCOMPARE(page->FlashMemoryS->contentsRect().size(), QSize(CharGridWidth(), GridHeight()));
        QCOMPARE(page->FlashMemoryS->font(), page->FlashMemory->font());
        for (int a = 0; a < 128; ++a) QCOMPARE(page->Image().Byte(a), uint8_t(0));
        QCOMPARE(G().Address(), 0);
        QCOMPARE(G().NibblePosition(), 1);
    }

    void typingHexDigits()
    {
        QTest::keyClicks(page->FlashMemory, QStringLiteral("41g"));
        QCOMPARE(page->Image().Byte(0), uint8_t(0x41));
        QCOMPARE(G().CharCellText(0, 1), QStringLiteral("A"));
        QCOMPARE(G().HexCol(), 2);
        QCOMPARE(G().NibblePosition(), 1);
        QTest::keyClicks(page->FlashMemory, QStringLiteral("a"));
        QCOMPARE(G().HexCellText(2, 1), QStringLiteral("A0"));
        QTest::keyClick(page->FlashMemory, Qt::Key_Backspace);
        QTest::keyClicks(page->FlashMemory, QStringLiteral("bc"));
        QCOMPARE(page->Image().Byte(1), uint8_t(0xBC));
        VerifyGridsEqual();
    }

    void wrapAtBothEnds()
    {
        QTest::keyClick(page->FlashMemory, Qt::Key_Left);
        QCOMPARE(G().Address(), 0);
        QCOMPARE(G().NibblePosition(), 1);
        QTest::keyClick(page->FlashMemory, Qt::Key_End);
        QTest::keyClick(page->FlashMemory, Qt::Key_End);
        QCOMPARE(G().Address(), 127);
        QCOMPARE(G().NibblePosition(), 2);
        QTest::keyClick(page->FlashMemory, Qt::Key_Right);
        QCOMPARE(G().Address(), 0);
        QCOMPARE(G().NibblePosition(), 1);
        QTest::keyClick(page->FlashMemory, Qt::Key_Home);
        QTest::keyClick(page->FlashMemory, Qt::Key_Home);
        QCOMPARE(G().Address(), 0);
        // Typing past the last byte lands on the first.
        QTest::keyClick(page->FlashMemory, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(page->FlashMemory, QStringLiteral("7"));
        QCOMPARE(G().Address(), 0);
        QCOMPARE(page->Image().Byte(127), uint8_t(0x07));
        VerifyGridsEqual();
    }

    void clickPicksCellAndDigit()
    {
        QTest::mouseClick(page->FlashMemory, Qt::LeftButton, {}, HexPoint(5, 3, 16));
        QCOMPARE(G().HexCol(), 5);
        QCOMPARE(G().HexRow(), 3);
        QCOMPARE(G().NibblePosition(), 2);
        QCOMPARE(G().HexCellText(0, 0), QStringLiteral("24"));
        QTest::keyClicks(page->FlashMemory, QStringLiteral("9"));
        QCOMPARE(page->Image().Byte(0x24), uint8_t(0x09));
        QTest::mouseClick(page->FlashMemory, Qt::LeftButton, {}, HexPoint(5, 3, 3));
        QCOMPARE(G().NibblePosition(), 1);
        QCOMPARE(G().Address(), 0x24);
    }

    void splitCellHighlightsTheTypedDigit()
    {
        const QColor highlight = page->FlashMemory->palette().color(QPalette::Highlight);
        const QColor base = page->FlashMemory->palette().color(QPalette::Base);
        QTRY_COMPARE(PixelAt(page->FlashMemory, HexPoint(1, 1, 1)), highlight);
        QCOMPARE(PixelAt(page->FlashMemory, HexPoint(1, 1, 21)), base);
        QTest::keyClick(page->FlashMemory, Qt::Key_Right);
        QTRY_COMPARE(PixelAt(page->FlashMemory, HexPoint(1, 1, 21)), highlight);
        QCOMPARE(PixelAt(page->FlashMemory, HexPoint(1, 1, 1)), base);
    }

    void charGridTypingAndShading()
    {
        QTest::keyClick(page->FlashMemory, Qt::Key_Right);
        QTest::keyClick(page->FlashMemory, Qt::Key_Tab);
        QTRY_VERIFY(page->FlashMemoryS->hasFocus());
        QCOMPARE(G().NibblePosition(), 1);
        QTest::keyClicks(page->FlashMemoryS, QStringLiteral("Hi"));
        QCOMPARE(page->Image().Byte(0), uint8_t('H'));
        QCOMPARE(G().HexCellText(2, 1), QStringLiteral("69"));
        QCOMPARE(G().CharCol(), 2);
        // The hex grid shades the byte the character grid is on.
        const QColor button = page->FlashMemory->palette().color(QPalette::Button);
        QTRY_COMPARE(PixelAt(page->FlashMemory, HexPoint(3, 1, 1)), button);
        QTest::keyClick(page->FlashMemoryS, Qt::Key_Down);
        QTRY_COMPARE(PixelAt(page->FlashMemory, HexPoint(3, 2, 1)), button);
        QCOMPARE(PixelAt(page->FlashMemory, HexPoint(3, 1, 1)), page->FlashMemory->palette().color(QPalette::Base));
        // Back in the hex grid, typing continues at that byte, first digit.
        QTest::mouseClick(page->FlashMemoryS, Qt::LeftButton, {},
                          page->FlashMemoryS->FromClient(CharCellRect(15, 8).center()));
        QTest::keyClicks(page->FlashMemoryS, QString(QChar(char16_t(0xFF))));
        QCOMPARE(G().HexCellText(16, 8), QStringLiteral("FF"));
        QCOMPARE(G().Address(), 0);  // wrapped
        QTest::keyClick(page->FlashMemoryS, Qt::Key_Left);
        QCOMPARE(G().Address(), 0);  // nothing left of the first byte
        QTest::keyClick(page->FlashMemoryS, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(page->FlashMemoryS, Qt::Key_Tab, Qt::ShiftModifier);
        QTRY_VERIFY(page->FlashMemory->hasFocus());
        QCOMPARE(G().HexCellText(0, 0), QStringLiteral("7F"));
        QCOMPARE(G().NibblePosition(), 1);
        QTest::keyClicks(page->FlashMemory, QStringLiteral("3"));
        QCOMPARE(page->Image().Byte(127), uint8_t(0x3F));
        VerifyGridsEqual();
    }

    void charGridTakesControlCharacters()
    {
        QTest::mouseClick(page->FlashMemoryS, Qt::LeftButton, {},
                          page->FlashMemoryS->FromClient(CharCellRect(0, 1).center()));
        QTest::keyClick(page->FlashMemoryS, Qt::Key_Return);
        QCOMPARE(page->Image().Byte(0), uint8_t(0x0D));
        QTest::keyClick(page->FlashMemoryS, Qt::Key_Backspace);
        QCOMPARE(G().Address(), 0);
        QCOMPARE(page->Image().Byte(0), uint8_t(0x0D));
        VerifyGridsEqual();
    }

    void disabledPageTakesNoInput()
    {
        page->setEnabled(false);
        QTest::keyClicks(page->FlashMemory, QStringLiteral("12"));
        QCOMPARE(page->Image().Byte(0), uint8_t(0));
        page->setEnabled(true);
    }
};

QTEST_MAIN(TestFlashPage)
#include "test_flash_page.moc"
