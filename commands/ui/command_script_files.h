#pragma once
// "Save Command Script..." and "Load Command Script...": the nine command
// rows as a JSON file, written atomically, loaded all rows or none.
#include <QString>

class TCommandPage;

void SaveScriptClick(TCommandPage& page);
void LoadScriptClick(TCommandPage& page);
bool SaveScriptFile(TCommandPage& page, const QString& path);
bool LoadScriptFile(TCommandPage& page, const QString& path);
