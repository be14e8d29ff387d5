#pragma once
// The lamp pictures: 15 x 15 glossy round lamps drawn per kind, on and off.
// No widgets.
#include <QImage>
#include <QString>

enum TLedKind { lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb, lkCustom };

constexpr int LedPictureSize = 15;

// Resource-style name of a kind's picture, e.g. "LEDREDON"; "" for lkCustom.
QString LedPictureName(TLedKind kind, bool on);

// The drawn picture of a kind (ARGB, transparent around the lamp);
// a null image for lkCustom.
QImage LedPicture(TLedKind kind, bool on);

// A copy of image in which every pixel of the bottom-left pixel's colour
// is transparent.
QImage MakeTransparent(const QImage& image);
