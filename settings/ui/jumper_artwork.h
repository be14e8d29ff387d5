#pragma once
// The Dunmere 232A board picture and the DB9 overlay of the Jumper Settings
// page, drawn in code so the pins sit exactly under the shunt marks and the
// signal labels fit the boxes beside the connector.
#include <QColor>
#include <QImage>
#include <QString>
#include <array>

// The board with the DB9 leads of flow pins 7 and 8 (250 x 323).
QImage JumperBoardPicture();
// The DB9 connector with the flow leads coming from pins 6 and 4 instead
// (101 x 46), matching the board picture around it at its page position.
QImage FCOverlayPicture();

// Colour the signal labels are drawn on: the board at picture pixel (54, 6).
QColor LabelBackground(const QImage& board);
// Fills the four label boxes with the background colour and writes each
// non-empty text (indexed by TLabelBox) at its box's top-left corner.
void DrawSignalLabels(QImage& board, const std::array<QString, 4>& labels);
