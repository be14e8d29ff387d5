#pragma once
// The remembered settings taken from and put onto the main window: the
// port and the Com Port page's choices, the page shown, the remembered check
// boxes, the file choosers' folders, the Config Memory page, the command
// rows and the window position. Program start and end call these; windows
// made by tests remember nothing.
#include <QList>
#include <QPair>
#include <QString>

#include "app/remembered_settings.h"

class QCheckBox;
class TTarnwickForm;

// The check boxes whose state is remembered, by the name they are stored
// under. A page that adds such a box adds one line here.
QList<QPair<QString, QCheckBox*>> RememberedCheckBoxes(TTarnwickForm& form);

TRememberedSettings CaptureSettings(TTarnwickForm& form);
// A remembered port that is gone is skipped quietly.
void ApplySettings(TTarnwickForm& form, const TRememberedSettings& settings);

// File-level steps for main: read and apply (after forgetting the file when
// reset), capture and write.
void RestoreWindowSettings(TTarnwickForm& form, const QString& path, bool reset);
bool SaveWindowSettings(TTarnwickForm& form, const QString& path);
