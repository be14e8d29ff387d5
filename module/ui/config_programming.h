#pragma once
// "Program Config": builds the configuration image from the Config Memory
// page and programs it into the module's blocks 4 to 7.

class TModuleSession;
class TConfigPage;

// Runs on the panel's runner (module/program_runs). flowItem is the Com
// Port page's "Flow Control" item (0 "RTS/CTS", 1 "DTR/DSR", 2 "Xon/Xoff",
// 3 "None"), restored after the run. Failed exchanges end in the
// "Communication Error" box; a port error gets the error box after the flow
// control, the page, the cursor and the progress window have been restored.
void ProgramConfigButtonClick(TModuleSession& session, TConfigPage& page, int flowItem);
