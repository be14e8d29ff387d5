// Linked with every core library whole (each object, used or not), against
// QtCore alone: if any core file needed Gui or Widgets, or a file outside
// the core lists, this program would not link. The test around it then
// checks that the program needs no Qt library but QtCore.
#include <QCoreApplication>
#include <cstdio>

#include "commands/command_encoder.h"
#include "module/config_image.h"
#include "module/memory_operations.h"
#include "settings/config_values.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TConfigImage image = ConfigImage(TConfigValues{});
    TMemoryBytes other = image;
    other[5] ^= 0xFF;
    const auto diff = CompareMemory(kConfigFirstBlock, image, other);
    const TEncodedCommand e = EncodeCommand(TCommandRowValues{});
    std::printf("%s; %d frame bytes\n", qPrintable(DifferenceSummary(diff)), FrameLength(e.CommandFrame));
    return diff.size() == 1 && diff[0].address == 0x85 ? 0 : 1;
}
