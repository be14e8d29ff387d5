#pragma once
// Reading and programming the module's memory block by block.
#include <array>
#include <cstdint>

class TModuleSession;
class TFlashPage;

// Block programming shared by "Program Flash" (erase 0x40, blocks 0-3) and
// "Program Config" (erase 0x48, blocks 4-7). Returns the failed flag.
// bytes holds the four blocks of 32 bytes in order.
bool ProgramMemory(TModuleSession& session, uint8_t eraseByte, int firstBlock,
                   const std::array<uint8_t, 128>& bytes);

// "Read Flash" and "Program Flash" of the Flash Memory page, with XON/XOFF
// off for their run. Failed exchanges end in the "Communication Error" box;
// a port error (EComPort) propagates to the caller after the flow control,
// the page, the cursor and the progress window have been restored.
void ReadFlashButtonClick(TModuleSession& session, TFlashPage& page);
void ProgramFlashButtonClick(TModuleSession& session, TFlashPage& page);
