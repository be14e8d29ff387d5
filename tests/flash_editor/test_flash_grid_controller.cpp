// Cursor, digit and key rules of the flash grids, without widgets.
#include <QSignalSpy>
#include <QtTest>

#include "common/hex_text.h"
#include "flash_editor/flash_grid_controller.h"
#include "flash_editor/flash_grid_geometry.h"
#include "flash_editor/flash_image.h"

using namespace flash_grid;

class TestFlashGridController : public QObject {
    Q_OBJECT

    TFlashImage* image = nullptr;
    TFlashGridController* grid = nullptr;

    void Type(const QString& s, bool hex = true)
    {
        for (QChar ch : s) hex ? grid->HexKeyPress(ch) : grid->CharKeyPress(ch);
    }

private slots:
    void init()
    {
        image = new TFlashImage;
        grid = new TFlashGridController(*image);
        grid->SetFocus(TFlashGrid::Hex);
    }
    void cleanup()
    {
        delete grid;
        delete image;
    }

    void typingTwoDigitsStoresByteAndAdvances()
    {
        Type(QStringLiteral("4"));
        QCOMPARE(grid->NibblePosition(), 2);
        QCOMPARE(grid->HexCellText(1, 1), QStringLiteral("40"));
        Type(QStringLiteral("1"));
        QCOMPARE(image->Byte(0), uint8_t(0x41));
        QCOMPARE(grid->CharCellText(0, 1), QStringLiteral("A"));
        QCOMPARE(grid->HexCol(), 2);
        QCOMPARE(grid->NibblePosition(), 1);
        QCOMPARE(grid->HexCellText(0, 0), QStringLiteral("01"));
    }

    void nonHexKeysAreSwallowedAndLowerCaseAccepted()
    {
        Type(QStringLiteral("g z!"));
        QCOMPARE(image->Byte(0), uint8_t(0));
        QCOMPARE(grid->NibblePosition(), 1);
        Type(QStringLiteral("a"));
        QCOMPARE(grid->HexCellText(1, 1), QStringLiteral("A0"));
        QCOMPARE(TFlashGridController::HexDigitKey(QChar('f')), QChar('F'));
        QCOMPARE(TFlashGridController::HexDigitKey(QChar('G')).unicode(), char16_t(0));
    }

    void secondDigitKeepsFirst()
    {
        image->SetByte(0, 0xC3);
        grid->HexKeyDown(Qt::Key_Right);
        Type(QStringLiteral("7"));
        QCOMPARE(image->Byte(0), uint8_t(0xC7));
        QCOMPARE(grid->Address(), 1);
    }

    void typingWrapsFromLastByteToFirst()
    {
        grid->SetHexCell(16, 8);
        Type(QStringLiteral("EE"));
        QCOMPARE(image->Byte(127), uint8_t(0xEE));
        QCOMPARE(grid->HexCol(), 1);
        QCOMPARE(grid->HexRow(), 1);
    }

    void leftRightWalkDigitsAndWrap()
    {
        // Right on the second digit of the last byte goes to the first digit of the first.
        grid->SetHexCell(16, 8);
        grid->HexKeyDown(Qt::Key_Right);
        QCOMPARE(grid->NibblePosition(), 2);
        grid->HexKeyDown(Qt::Key_Right);
        QCOMPARE(grid->Address(), 0);
        QCOMPARE(grid->NibblePosition(), 1);
        // Left on the first digit of the first byte stays.
        QVERIFY(grid->HexKeyDown(Qt::Key_Left));
        QCOMPARE(grid->Address(), 0);
        QCOMPARE(grid->NibblePosition(), 1);
        // Left from column 1 of a row goes to the last digit of column 16 above.
        grid->SetHexCell(1, 3);
        grid->HexKeyDown(Qt::Key_Left);
        QCOMPARE(grid->HexCol(), 16);
        QCOMPARE(grid->HexRow(), 2);
        QCOMPARE(grid->NibblePosition(), 2);
        grid->HexKeyDown(Qt::Key_Backspace);
        QCOMPARE(grid->NibblePosition(), 1);
        QCOMPARE(grid->Address(), 31);
        // Right at the end of a row continues on the next.
        grid->HexKeyDown(Qt::Key_Right);
        grid->HexKeyDown(Qt::Key_Right);
        QCOMPARE(grid->HexCol(), 1);
        QCOMPARE(grid->HexRow(), 3);
    }

    void backspaceChangesNoByte()
    {
        Type(QStringLiteral("12"));
        grid->HexKeyDown(Qt::Key_Backspace);
        grid->HexKeyDown(Qt::Key_Backspace);
        QCOMPARE(image->Byte(0), uint8_t(0x12));
        QCOMPARE(grid->Address(), 0);
        QCOMPARE(grid->NibblePosition(), 1);
    }

    void homeAndEndTwiceReachTheEnds()
    {
        grid->SetHexCell(5, 4);
        grid->HexKeyDown(Qt::Key_End);
        QCOMPARE(grid->HexCol(), 16);
        QCOMPARE(grid->HexRow(), 4);
        QCOMPARE(grid->NibblePosition(), 2);
        grid->HexKeyDown(Qt::Key_End);
        QCOMPARE(grid->Address(), 127);
        grid->HexKeyDown(Qt::Key_Home);
        QCOMPARE(grid->HexCol(), 1);
        QCOMPARE(grid->HexRow(), 8);
        QCOMPARE(grid->NibblePosition(), 1);
        grid->HexKeyDown(Qt::Key_Home);
        QCOMPARE(grid->Address(), 0);
        grid->HexKeyDown(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(grid->Address(), 127);
    }

    void verticalKeysStayInsideTheData()
    {
        grid->SetHexCell(3, 1);
        grid->HexKeyDown(Qt::Key_Right);
        grid->HexKeyDown(Qt::Key_Up);
        QCOMPARE(grid->HexRow(), 1);
        QCOMPARE(grid->NibblePosition(), 2);  // Up leaves the digit alone
        grid->HexKeyDown(Qt::Key_Down);
        QCOMPARE(grid->HexRow(), 2);
        grid->HexKeyDown(Qt::Key_PageDown);
        QCOMPARE(grid->HexRow(), 8);
        QCOMPARE(grid->HexCol(), 3);
        QCOMPARE(grid->NibblePosition(), 1);
        grid->HexKeyDown(Qt::Key_Down);
        QCOMPARE(grid->HexRow(), 8);
        grid->HexKeyDown(Qt::Key_PageUp);
        QCOMPARE(grid->HexRow(), 1);
        QVERIFY(!grid->HexKeyDown(Qt::Key_A));
    }

    void mouseHalvesPickTheDigit_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("nibble");
        const int left3 = HexColLeft(3);
        QTest::newRow("left half") << left3 + 2 << RowTop(2) + 5 << 3 << 2 << 1;
        QTest::newRow("middle is left") << left3 + 11 << RowTop(2) + 5 << 3 << 2 << 1;
        QTest::newRow("right half") << left3 + 12 << RowTop(2) + 5 << 3 << 2 << 2;
        QTest::newRow("last cell right") << HexColLeft(16) + 20 << RowTop(8) + 19 << 16 << 8 << 2;
        QTest::newRow("header row keeps cell") << left3 + 2 << 5 << 1 << 1 << 1;
        QTest::newRow("below the grid keeps cell") << left3 + 2 << GridHeight() + 30 << 1 << 1 << 1;
    }
    void mouseHalvesPickTheDigit()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, col);
        QFETCH(int, row);
        QFETCH(int, nibble);
        grid->HexMouseDown(x, y);
        QCOMPARE(grid->HexCol(), col);
        QCOMPARE(grid->HexRow(), row);
        QCOMPARE(grid->NibblePosition(), nibble);
    }

    void charGridTypesAnyCodeAndWraps()
    {
        grid->SetFocus(TFlashGrid::Char);
        grid->SetCharCell(15, 8);
        grid->CharKeyPress(QChar(char16_t(0xFF)));
        QCOMPARE(grid->HexCellText(16, 8), QStringLiteral("FF"));
        QCOMPARE(grid->CharCol(), 0);
        QCOMPARE(grid->CharRow(), 1);
        grid->CharKeyPress(QChar(char16_t(0x0D)));
        QCOMPARE(image->Byte(0), uint8_t(0x0D));
        // A character no byte stands for is dropped, the cursor stays.
        grid->CharKeyPress(QChar(char16_t(0x20AC)));
        QCOMPARE(grid->Address(), 1);
        QCOMPARE(image->Byte(1), uint8_t(0));
    }

    void charGridNavigation()
    {
        grid->SetFocus(TFlashGrid::Char);
        grid->CharKeyDown(Qt::Key_Left);
        QCOMPARE(grid->Address(), 0);
        grid->SetCharCell(0, 2);
        grid->CharKeyDown(Qt::Key_Backspace);
        QCOMPARE(grid->CharCol(), 15);
        QCOMPARE(grid->CharRow(), 1);
        grid->CharKeyDown(Qt::Key_Right);
        QCOMPARE(grid->CharCol(), 0);
        QCOMPARE(grid->CharRow(), 2);
        grid->SetCharCell(15, 8);
        grid->CharKeyDown(Qt::Key_Right);
        QCOMPARE(grid->Address(), 0);
        grid->SetCharCell(6, 3);
        grid->CharKeyDown(Qt::Key_End);
        grid->CharKeyDown(Qt::Key_End);
        QCOMPARE(grid->Address(), 127);
        grid->CharKeyDown(Qt::Key_Home);
        grid->CharKeyDown(Qt::Key_Home);
        QCOMPARE(grid->Address(), 0);
        grid->CharMouseDown(CharColLeft(4) + 3, RowTop(5) + 3);
        QCOMPARE(grid->CharCol(), 4);
        QCOMPARE(grid->CharRow(), 5);
        grid->CharMouseDown(CharColLeft(9) + 3, 4);  // heading: no selection
        QCOMPARE(grid->CharCol(), 4);
    }

    void charGridLeadsHexToFirstDigit()
    {
        grid->SetHexCell(3, 3);
        grid->HexKeyDown(Qt::Key_Right);
        grid->SetFocus(TFlashGrid::Char);
        QCOMPARE(grid->NibblePosition(), 1);
        grid->CharKeyDown(Qt::Key_Right);
        grid->SetFocus(TFlashGrid::Hex);
        QCOMPARE(grid->HexCol(), 4);
        QCOMPARE(grid->HexRow(), 3);
        QCOMPARE(grid->HexCellText(0, 0), QStringLiteral("23"));
        QCOMPARE(grid->NibblePosition(), 1);
    }

    void headersAndTexts()
    {
        QCOMPARE(grid->HexCellText(1, 0), QStringLiteral("0"));
        QCOMPARE(grid->HexCellText(16, 0), QStringLiteral("F"));
        QCOMPARE(grid->HexCellText(0, 1), QStringLiteral("00"));
        QCOMPARE(grid->HexCellText(0, 8), QStringLiteral("07"));
        QCOMPARE(grid->HexCellText(0, 0), QStringLiteral("00"));
        QCOMPARE(grid->CharCellText(10, 0), QStringLiteral("A"));
        QCOMPARE(grid->CharCellText(0, 1), QString());  // code 0 shows nothing
        for (int a = 0; a < 128; ++a) image->SetByte(a, uint8_t(a * 2 + 1));
        for (int a = 0; a < 128; ++a) {
            const int b = HexSubstringValue(grid->HexCellText(a % 16 + 1, a / 16 + 1), 1, 2);
            QCOMPARE(b, a * 2 + 1);
            // Every byte but the unprintable 0x80-0x9F reads back from its picture.
            if (b < 0x80 || b >= 0xA0) QCOMPARE(FlashByteForChar(grid->CharCellText(a % 16, a / 16 + 1).at(0)), b);
        }
    }

    void cellLooks()
    {
        grid->SetHexCell(2, 1);
        grid->HexKeyDown(Qt::Key_Right);
        TCellLook look = grid->HexCellLook(2, 1);
        QVERIFY(look.split);
        QCOMPARE(look.highlightedNibble, 2);
        QCOMPARE(grid->HexCellLook(3, 1).background, TCellColor::Window);
        QCOMPARE(grid->HexCellLook(3, 0).background, TCellColor::ButtonFace);
        QCOMPARE(grid->HexCellLook(0, 3).background, TCellColor::ButtonFace);
        QCOMPARE(grid->HexCellLook(0, 0).background, TCellColor::Window);
        QCOMPARE(grid->CharCellLook(1, 1).background, TCellColor::ButtonFace);
        // With the character grid focused, the hex grid shades the byte it is on.
        grid->SetFocus(TFlashGrid::Char);
        QVERIFY(!grid->HexCellLook(2, 1).split);
        QCOMPARE(grid->HexCellLook(2, 1).background, TCellColor::ButtonFace);
        QCOMPARE(grid->HexCellLook(3, 1).background, TCellColor::Window);
        QCOMPARE(grid->CharCellLook(1, 1).background, TCellColor::Highlight);
        QCOMPARE(grid->CharCellLook(2, 1).background, TCellColor::Window);
        QCOMPARE(grid->CharCellLook(2, 0).background, TCellColor::ButtonFace);
    }

    void geometryMatchesTheGrid()
    {
        QCOMPARE(HexColLeft(1), 35);
        QCOMPARE(HexColLeft(2), 59);
        QCOMPARE(HexGridWidth(), 35 + 16 * 24);
        QCOMPARE(CharGridWidth(), 16 * 13);
        QCOMPARE(GridHeight(), 9 * 21);
    }
};

QTEST_GUILESS_MAIN(TestFlashGridController)
#include "test_flash_grid_controller.moc"
