#pragma once
// "Read Flash" and "Program Flash" of the Flash Memory page. Each starts its
// run (module/program_runs) on the panel's runner and shows what it reports:
// the blocks in the grids as they arrive, the "Communication Error" box for
// a failed exchange, the marks of a verify that found differences. A port
// error ends in the error box once the page is given back.
class TModuleSession;
class TFlashPage;

void ReadFlashButtonClick(TModuleSession& session, TFlashPage& page);
void ProgramFlashButtonClick(TModuleSession& session, TFlashPage& page);
