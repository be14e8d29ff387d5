#include "flash_page.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "common/ui/dialogs.h"
#include "common/ui/port_controls.h"
#include "flash_editor/flash_file.h"
#include "flash_editor/flash_grid_geometry.h"
#include "flash_editor/ui/flash_grid_view.h"

using namespace flash_grid;

namespace {

const QString kFileFilter = QStringLiteral("Binary (*.bin)");
const QString kDefaultExt = QStringLiteral("bin");

// A cell that differs from the module: a light red that both light and dark
// palettes keep readable with the window text.
const QColor kMarkColor(255, 170, 170);

QColor Background(const QPalette& pal, TCellColor c)
{
    switch (c) {
    case TCellColor::Highlight: return pal.color(QPalette::Highlight);
    case TCellColor::ButtonFace: return pal.color(QPalette::Button);
    case TCellColor::Window: break;
    }
    return pal.color(QPalette::Base);
}

QColor Foreground(const QPalette& pal, TCellColor c)
{
    return c == TCellColor::Highlight ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
}

// Fills the rectangle, then draws the text at x, centred vertically in the cell.
void DrawTextAt(QPainter& p, const QRect& fill, const QRect& cell, int x, const QString& text, TCellColor color,
                const QPalette& pal)
{
    p.fillRect(fill, Background(pal, color));
    if (text.isEmpty()) return;
    const QFontMetrics fm(p.font());
    p.setClipRect(fill);
    p.setPen(Foreground(pal, color));
    const int y = cell.top() + (cell.height() - fm.height()) / 2;
    p.drawText(x, y + fm.ascent(), text);
    p.setClipping(false);
}

// Centred as the fixed-pitch font allows: n characters of the first one's width.
void DrawCentred(QPainter& p, const QRect& cell, const QString& text, TCellColor color, const QPalette& pal)
{
    const QFontMetrics fm(p.font());
    const int w = text.isEmpty() ? 0 : fm.horizontalAdvance(text.at(0));
    const int x = cell.left() + cell.width() / 2 - int(text.size()) * w / 2;
    DrawTextAt(p, cell, cell, x, text, color, pal);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    return b;
}

}  // namespace

TFlashPage::TFlashPage(TPortControls& controls, QWidget* parent) : QWidget(parent), grid_(image_)
{
    setObjectName(QStringLiteral("FlashMemorySheet"));

    FlashMemory = new TFlashGridView(HexColCount, 1, &HexCellRect, this);
    FlashMemory->setObjectName(QStringLiteral("FlashMemory"));
    FlashMemory->setAccessibleName(QStringLiteral("Flash memory, hexadecimal"));
    FlashMemory->move(6, 16);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);
    FlashMemory->setFont(font);

    FlashMemoryS = new TFlashGridView(CharColCount, 0, &CharCellRect, this);
    FlashMemoryS->setObjectName(QStringLiteral("FlashMemoryS"));
    FlashMemoryS->setAccessibleName(QStringLiteral("Flash memory, characters"));
    FlashMemoryS->move(FlashMemory->geometry().right() + 8, 16);
    FlashMemoryS->setFont(font);

    const int buttonsTop = FlashMemory->geometry().bottom() + 20;
    ReadFlashButton = MakeButton(this, "ReadFlashButton", QStringLiteral("Read Flash"), QRect(6, buttonsTop, 110, 27));
    ProgramFlashButton =
        MakeButton(this, "ProgramFlashButton", QStringLiteral("Program Flash"), QRect(124, buttonsTop, 110, 27));
    FlashMemoryLoad =
        MakeButton(this, "FlashMemoryLoad", QStringLiteral("Load Binary File"), QRect(300, buttonsTop, 124, 27));
    FlashMemorySave =
        MakeButton(this, "FlashMemorySave", QStringLiteral("Save Binary File"), QRect(432, buttonsTop, 124, 27));
    ReadFlashButton->setEnabled(false);
    ProgramFlashButton->setEnabled(false);
    controls.AddOperation(ReadFlashButton, TPortControlOrder::ReadFlash);
    controls.AddOperation(ProgramFlashButton, TPortControlOrder::ProgramFlash);

    NoteLabel = new QLabel(
        QStringLiteral("NOTE: Tarnwick Module must be in Command Mode to read or program Flash memory."), this);
    NoteLabel->setObjectName(QStringLiteral("NoteLabel"));
    NoteLabel->setGeometry(6, buttonsTop + 44, 620, 20);

    CompareSummaryLabel = new QLabel(this);
    CompareSummaryLabel->setObjectName(QStringLiteral("CompareSummaryLabel"));
    CompareSummaryLabel->setGeometry(6, FlashMemory->geometry().bottom() + 3, 620, 16);
    CompareFlashButton = MakeButton(this, "CompareFlashButton", QStringLiteral("Compare with Module"),
                                    QRect(6, buttonsTop + 72, 150, 27));
    CompareFlashButton->setEnabled(false);
    controls.AddOperation(CompareFlashButton, TPortControlOrder::ProgramFlash);
    VerifyFlashCheckBox = new QCheckBox(QStringLiteral("Verify after programming"), this);
    VerifyFlashCheckBox->setObjectName(QStringLiteral("VerifyFlashCheckBox"));
    VerifyFlashCheckBox->setGeometry(172, buttonsTop + 76, 220, 20);
    VerifyFlashCheckBox->setChecked(true);

    FlashMemory->OnDrawCell = [this](QPainter& p, int c, int r, const QRect& rect) {
        FlashMemoryDrawCell(p, c, r, rect);
    };
    FlashMemory->OnKeyDown = [this](int key, Qt::KeyboardModifiers m) { return FlashMemoryKeyDown(key, m); };
    FlashMemory->OnKeyPress = [this](QChar key) { FlashMemoryKeyPress(key); };
    FlashMemory->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
        FlashMemoryMouseDown(b, m, x, y);
    };
    FlashMemoryS->OnDrawCell = [this](QPainter& p, int c, int r, const QRect& rect) {
        FlashMemorySDrawCell(p, c, r, rect);
    };
    FlashMemoryS->OnKeyDown = [this](int key, Qt::KeyboardModifiers m) { return FlashMemorySKeyDown(key, m); };
    FlashMemoryS->OnKeyPress = [this](QChar key) { FlashMemorySKeyPress(key); };
    // A click in the character grid is the grid's own cell selection.
    FlashMemoryS->OnMouseDown = [this](Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
        grid_.CharMouseDown(x, y);
    };

    // Whichever grid holds the focus leads; losing it to anything else keeps the cursor.
    FlashMemory->OnFocusChange = [this](bool in) {
        if (in)
            grid_.SetFocus(TFlashGrid::Hex);
        else if (grid_.Focus() == TFlashGrid::Hex)
            grid_.SetFocus(TFlashGrid::None);
    };
    FlashMemoryS->OnFocusChange = [this](bool in) {
        if (in)
            grid_.SetFocus(TFlashGrid::Char);
        else if (grid_.Focus() == TFlashGrid::Char)
            grid_.SetFocus(TFlashGrid::None);
    };

    const auto repaint = [this] {
        FlashMemory->update();
        FlashMemoryS->update();
    };
    connect(&image_, &TFlashImage::Changed, this, repaint);
    // An edit, a read or a load: the marks no longer say anything.
    connect(&image_, &TFlashImage::Changed, this, [this] { ClearMarks(); });
    connect(&grid_, &TFlashGridController::CursorChanged, this, repaint);

    connect(FlashMemoryLoad, &QPushButton::clicked, this, [this] { FlashMemoryLoadClick(); });
    connect(FlashMemorySave, &QPushButton::clicked, this, [this] { FlashMemorySaveClick(); });

    setTabOrder(FlashMemory, FlashMemoryS);
}

void TFlashPage::SetupGrids()
{
    FlashMemoryS->setFont(FlashMemory->font());
    image_.Fill(0x00);
    grid_.SetHexCell(1, 1);
    grid_.ResetNibble();
}

void TFlashPage::FlashMemoryDrawCell(QPainter& p, int col, int row, const QRect& rect)
{
    const QPalette& pal = FlashMemory->palette();
    const TCellLook look = grid_.HexCellLook(col, row);
    const QString text = grid_.HexCellText(col, row);
    if (!look.split) {
        if (col > 0 && row > 0 && look.background == TCellColor::Window && IsMarked((row - 1) * 16 + col - 1)) {
            QPalette marked = pal;
            marked.setColor(QPalette::Base, kMarkColor);
            DrawCentred(p, rect, text, look.background, marked);
            return;
        }
        DrawCentred(p, rect, text, look.background, pal);
        return;
    }
    // The edited byte: each digit in its own half, the one being typed highlighted.
    const QFontMetrics fm(p.font());
    const int m = rect.left() + rect.width() / 2;
    const int w = fm.horizontalAdvance(text.at(0));
    const QRect left(QPoint(rect.left(), rect.top()), QPoint(m, rect.bottom()));
    const QRect right(QPoint(m, rect.top()), rect.bottomRight());
    DrawTextAt(p, left, rect, m - w, text.left(1),
               look.highlightedNibble == 1 ? TCellColor::Highlight : TCellColor::Window, pal);
    DrawTextAt(p, right, rect, m, text.mid(1, 1),
               look.highlightedNibble == 2 ? TCellColor::Highlight : TCellColor::Window, pal);
}

bool TFlashPage::FlashMemoryKeyDown(int key, Qt::KeyboardModifiers shift) { return grid_.HexKeyDown(key, shift); }

void TFlashPage::FlashMemoryKeyPress(QChar key) { grid_.HexKeyPress(key); }

void TFlashPage::FlashMemoryMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)
{
    grid_.HexMouseDown(x, y);
}

void TFlashPage::FlashMemorySDrawCell(QPainter& p, int col, int row, const QRect& rect)
{
    const TCellLook look = grid_.CharCellLook(col, row);
    QPalette pal = FlashMemoryS->palette();
    if (row > 0 && look.background == TCellColor::Window && IsMarked((row - 1) * 16 + col))
        pal.setColor(QPalette::Base, kMarkColor);
    DrawCentred(p, rect, grid_.CharCellText(col, row), look.background, pal);
}

bool TFlashPage::FlashMemorySKeyDown(int key, Qt::KeyboardModifiers shift) { return grid_.CharKeyDown(key, shift); }

void TFlashPage::FlashMemorySKeyPress(QChar key) { grid_.CharKeyPress(key); }

void TFlashPage::FlashMemoryLoadClick()
{
    const QString name =
        Dialogs().OpenFileName(this, QStringLiteral("Load Binary File"), kFileFilter, kDefaultExt);
    if (name.isEmpty()) return;
    QString error, note;
    if (!LoadFlashFile(name, image_, &error, &note))
        Dialogs().ErrorBox(this, QStringLiteral("Could not load \"%1\": %2").arg(name, error),
                           QStringLiteral("The flash image was left as it was."));
    else if (!note.isEmpty())
        Dialogs().MessageBox(this, QStringLiteral("\"%1\" is not a 128-byte flash image. %2").arg(name, note),
                             QStringLiteral("Load Binary File"), mb::Ok | mb::IconInformation);
}

void TFlashPage::FlashMemorySaveClick()
{
    const QString name =
        Dialogs().SaveFileName(this, QStringLiteral("Save Binary File"), kFileFilter, kDefaultExt);
    if (name.isEmpty()) return;
    if (!QFileInfo::exists(name)) {
        const int answer = Dialogs().MessageBox(
            this, QStringLiteral("%1\nThis file does not exist.\nDo you want to create it?").arg(name),
            QStringLiteral("Save Binary File"), mb::YesNo | mb::IconQuestion);
        if (answer != mb::IdYes) return;
    }
    QString error;
    if (!SaveFlashFile(name, image_, &error))
        Dialogs().ErrorBox(this, QStringLiteral("Could not save \"%1\": %2").arg(name, error),
                           QStringLiteral("Any earlier file of that name was left intact."));
}

void TFlashPage::MarkDifferences(const std::vector<int>& addresses, const QString& summary)
{
    marks_.reset();
    for (int a : addresses)
        if (a >= 0 && a < TFlashImage::Size) marks_.set(size_t(a));
    CompareSummaryLabel->setText(summary);
    FlashMemory->update();
    FlashMemoryS->update();
}

void TFlashPage::ClearMarks()
{
    if (marks_.none() && CompareSummaryLabel->text().isEmpty()) return;
    marks_.reset();
    CompareSummaryLabel->clear();
    FlashMemory->update();
    FlashMemoryS->update();
}

bool TFlashPage::IsMarked(int address) const
{
    return address >= 0 && address < TFlashImage::Size && marks_.test(size_t(address));
}

std::vector<int> TFlashPage::MarkedAddresses() const
{
    std::vector<int> out;
    for (int a = 0; a < TFlashImage::Size; ++a)
        if (marks_.test(size_t(a))) out.push_back(a);
    return out;
}

bool TFlashPage::VerifyAfterProgramming() const { return VerifyFlashCheckBox->isChecked(); }

TFlashPage::~TFlashPage()
{
    for (TFlashGridView* g : {FlashMemory, FlashMemoryS}) {
        g->OnFocusChange = nullptr;
        g->OnDrawCell = nullptr;
        g->OnKeyDown = nullptr;
        g->OnKeyPress = nullptr;
        g->OnMouseDown = nullptr;
    }
}
