#pragma once
// What the Jumper Settings page draws and which of its controls are live,
// decided from the radio selections alone. No widgets here: the page only
// applies the result.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>

// Item orders of the page's radio groups.
enum TDunmereMode { dmDemo, dmCableLink, dmCommand, dmPeripheral, dmRC, dmATCommand };
enum TDunmereRFDataRate { dr76800, dr19200, dr4800 };
enum TDunmereBaudRate { bd115200, bd57600, bd38400, bd19200, bd9600, bd2400, bd1200, bdCustom };
enum TDunmerePoint { ptPointA, ptPointB };
enum TDb9Serial { dsTx2Rx3, dsTx3Rx2 };
enum TDb9Flow { dfFi7Fo8, dfFi8Fo7, dfFi4Fo6, dfFi6Fo4 };

// RF channel items: 0..7 are channels 0..7, the ninth item is channel 15.
constexpr int kChannel15Item = 8;

struct TJumperSelections {
    TDunmereMode Mode = dmCableLink;
    TDunmereRFDataRate RFDataRate = dr76800;
    TDunmereBaudRate BaudRate = bd57600;
    int RFChannel = 0;
    TDunmerePoint MasterSlave = ptPointA;
    TDb9Serial RS232Serial = dsTx2Rx3;
    TDb9Flow FlowControl = dfFi7Fo8;
    bool LoadFromFlash = false;
};

// One column of J6: shunt on the top two pins, on the bottom two, or none.
enum THeaderState { hsRemoved, hsUpper, hsLower };

// The 19 shunt marks; the DB9 marks come first, then J6 positions 1 to 7.
enum TShuntMark {
    jmSerialStraight1, jmSerialStraight2,
    jmSerialCrossed1, jmSerialCrossed2,
    jmFlowVertical1, jmFlowVertical2, jmFlowVertical3, jmFlowVertical4,
    jmFlowPairA1, jmFlowPairA2,
    jmFlowPairB1, jmFlowPairB2,
    jmHeader1, jmHeader2, jmHeader3, jmHeader4, jmHeader5, jmHeader6, jmHeader7,
};
constexpr int kShuntMarkCount = 19;
constexpr int kDb9MarkCount = jmHeader1;
constexpr int kHeaderPositions = 7;

// Signal label boxes beside the DB9 connector.
enum TLabelBox { lbP, lbQ, lbR, lbS };

// The overlay keeps its last visibility when no DB9 part is drawn.
enum TOverlayChange { ovKeep, ovHide, ovShow };

struct TJumperDrawing {
    std::array<THeaderState, kHeaderPositions> Header{};  // all removed
    std::array<bool, kDb9MarkCount> Db9Marks{};          // indexed by TShuntMark
    TOverlayChange Overlay = ovKeep;
    std::array<QString, 4> Labels;                       // indexed by TLabelBox; empty = blank box

    bool operator==(const TJumperDrawing&) const = default;
};

TJumperDrawing DecideJumpers(const TJumperSelections& s);

// Which radio groups are enabled and which notes are shown.
struct TJumperControls {
    bool RFDataRate = false;
    bool BaudRate = false;
    bool RFChannel = false;
    bool MasterSlave = false;
    bool RS232Serial = false;
    bool FlowControl = false;
    bool PointNotes = false;
    bool SerialDefaultLabel = false;
    bool LoadFromFlash = false;

    bool operator==(const TJumperControls&) const = default;
};

// After a mode change (LoadFromFlash unchecked).
TJumperControls ModeControls(TDunmereMode mode);
// After LoadFromFlash is clicked into the given state.
TJumperControls LoadFromFlashControls(TDunmereMode mode, bool checked);

// Page geometry of the pictures and marks.
constexpr QPoint kBoardImagePos{16, 8};
constexpr QSize kBoardImageSize{250, 323};
constexpr QPoint kOverlayImagePos{113, 13};
constexpr QSize kOverlayImageSize{101, 46};
// Header marks sit at this top when upper (and when hidden), 279 when lower.
constexpr int kHeaderUpperTop = 262;
constexpr int kHeaderLowerTop = 279;

// Page rectangle of a mark; header marks take their top from the state.
QRect ShuntMarkRect(TShuntMark mark, THeaderState state = hsUpper);
// Label box in board picture coordinates (the right and bottom edges of the
// box's corner pair are not filled).
QRect LabelBoxRect(TLabelBox box);
