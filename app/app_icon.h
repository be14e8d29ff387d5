#pragma once
#include <QIcon>
#include <QImage>
#include <QString>

// The program's icon, drawn: a module with its antenna and radio waves.
QIcon AppIcon();

// The same drawing as one square image; a null image for a size outside
// 1..1024. Needs no application object, so packaging can run it headless.
QImage AppIconImage(int size);

// Writes AppIconImage(size) as a PNG file; false when the size is out of
// range or the file cannot be written.
bool WriteAppIconPng(const QString& path, int size);
