#pragma once
// The Config Memory page's files: profiles ("Save Profile...", "Load
// Profile...") and the raw 128-byte configuration image ("Export Image...",
// "Import Image..."). Every file is written atomically; a file that cannot
// be used is reported and leaves the page as it was.
#include <QString>

class QWidget;
class TConfigPage;

// Before a profile is saved: the file will hold the key in clear. "Save it?"
// with OK and Cancel; true for OK. whose names the key ("the encryption key").
bool ConfirmSavingKey(QWidget* parent, const QString& whose);

void SaveProfileClick(TConfigPage& page);
void LoadProfileClick(TConfigPage& page);
void ExportImageClick(TConfigPage& page);
void ImportImageClick(TConfigPage& page);

// The work behind the buttons, for a known file (also --profile). Problems
// are shown in one message; true when the page took the file's values.
bool SaveProfileFile(TConfigPage& page, const QString& path);
bool LoadProfileFile(TConfigPage& page, const QString& path);
bool ExportImageFile(TConfigPage& page, const QString& path);
bool ImportImageFile(TConfigPage& page, const QString& path);
