#pragma once
// The Flash Memory page: the hex grid and the character grid over one flash
// image, "Read Flash"/"Program Flash" (wired by the main window to the module
// transfer) and "Load Binary File"/"Save Binary File".
#include <QWidget>
#include <bitset>
#include <vector>

#include "flash_editor/flash_grid_controller.h"
#include "flash_editor/flash_image.h"

class QCheckBox;
class QLabel;
class QPainter;
class QPushButton;
class TFlashGridView;
class TPortControls;

class TFlashPage : public QWidget {
    Q_OBJECT
public:
    explicit TFlashPage(TPortControls& controls, QWidget* parent = nullptr);
    // The grids outlive the page's members while QWidget deletes its
    // children; their callbacks must not reach the members by then.
    ~TFlashPage() override;

    TFlashGridView* FlashMemory;   // hex grid
    TFlashGridView* FlashMemoryS;  // character grid
    QPushButton* ReadFlashButton;
    QPushButton* ProgramFlashButton;
    QPushButton* FlashMemoryLoad;
    QPushButton* FlashMemorySave;
    QLabel* NoteLabel;
    QPushButton* CompareFlashButton;     // "Compare with Module"
    QCheckBox* VerifyFlashCheckBox;      // "Verify after programming"
    QLabel* CompareSummaryLabel;         // under the grids

    // Cells marked as differing from the module (by address, in both
    // grids) with a summary line; they stay until the next edit, read or
    // load changes the image, or ClearMarks.
    void MarkDifferences(const std::vector<int>& addresses, const QString& summary);
    void ClearMarks();
    bool IsMarked(int address) const;
    std::vector<int> MarkedAddresses() const;
    bool VerifyAfterProgramming() const;

    TFlashImage& Image() { return image_; }
    TFlashGridController& Grid() { return grid_; }

    // Start state of the grids (run by the main window's creation): all
    // bytes 00, cursor on the first digit of the first byte.
    void SetupGrids();
    // Typing in the hex grid starts at the first digit (the main window's FormShow).
    void ResetNibble() { grid_.ResetNibble(); }

    // Handlers of the grids.
    void FlashMemoryDrawCell(QPainter& p, int col, int row, const QRect& rect);
    bool FlashMemoryKeyDown(int key, Qt::KeyboardModifiers shift);
    void FlashMemoryKeyPress(QChar key);
    void FlashMemoryMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void FlashMemorySDrawCell(QPainter& p, int col, int row, const QRect& rect);
    bool FlashMemorySKeyDown(int key, Qt::KeyboardModifiers shift);
    void FlashMemorySKeyPress(QChar key);

    // Handlers of the file buttons.
    void FlashMemoryLoadClick();
    void FlashMemorySaveClick();

private:
    std::bitset<TFlashImage::Size> marks_;
    TFlashImage image_;
    TFlashGridController grid_;
};
