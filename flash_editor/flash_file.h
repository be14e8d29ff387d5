#pragma once
// The flash image file: raw bytes, byte k at address k, no header.
#include <QString>

class TFlashImage;

// Loads the first 128 bytes of a regular file; addresses beyond its end
// become 0xFF, and *note then says what was padded or cut. On an open or
// read error, or for a pipe, device or folder, the image is left as it was
// and false is returned with the reason in *error.
bool LoadFlashFile(const QString& path, TFlashImage& image, QString* error = nullptr, QString* note = nullptr);

// Writes exactly 128 bytes. The target is replaced only once the whole image
// is written, so a failed save leaves any earlier file intact.
bool SaveFlashFile(const QString& path, const TFlashImage& image, QString* error = nullptr);
