#pragma once
// The Jumper Settings page: radio groups for the Dunmere 232A carrier
// board's options and a picture of the board showing where each shunt goes.
#include <QImage>
#include <QWidget>
#include <array>

#include "settings/jumper_table.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class TRadioGroup;

class TJumperPage : public QWidget {
    Q_OBJECT
public:
    explicit TJumperPage(QWidget* parent = nullptr);

    QGroupBox* DunmereGroupBox;
    TRadioGroup* DunmereModeGroup;
    TRadioGroup* DunmereRFDataRateGroup;
    TRadioGroup* DunmereBaudRateGroup;
    TRadioGroup* DunmereRFChannelGroup;
    TRadioGroup* DunmereMasterSlaveGroup;
    TRadioGroup* DunmereRS232SerialGroup;
    TRadioGroup* DunmereFlowControlGroup;
    QCheckBox* LoadFromFlash;
    QLabel* SerialDefaultLabel;
    QLabel* MasterSlaveNote;
    QLabel* MasterSlaveNote2;
    QLabel* BoardImage;      // the board picture; the signal labels are drawn on it
    QLabel* FCOverlayImage;  // DB9 drawn with the flow leads on pins 6 and 4
    std::array<QWidget*, kShuntMarkCount> ShuntMarks{};  // indexed by TShuntMark

    void DunmereModeGroupClick();
    void JumperGroupClick();
    void LoadFromFlashClick();
    // Redraws marks, overlay and labels from the current selections.
    void SetJumpers();

    TJumperSelections Selections() const;
    // The board picture as last drawn, labels included.
    const QImage& BoardCanvas() const { return canvas_; }

private:
    void ApplyControls(const TJumperControls& c);

    QImage board_;   // artwork without labels
    QImage canvas_;  // artwork with the current labels
};
