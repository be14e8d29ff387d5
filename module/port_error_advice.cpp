#include "module/port_error_advice.h"

#include <cerrno>

#include "serial/com_types.h"

QString PortErrorAdvice(int portError, int systemError, TAdviceAudience audience)
{
    const bool panel = audience == TAdviceAudience::Panel;
    const QString checkPort = panel ? QStringLiteral("Check the port chosen on the Com Port page.")
                                    : QStringLiteral("Check the --port path (tarnwick-cli ports lists the serial devices).");
    // A query on a closed port reports the classic invalid-handle code 6,
    // which on Linux is also ENXIO: only an open failure means "no device".
    if (systemError == 6 && portError != CError_OpenFailed)
        return panel ? QStringLiteral("The port is not open. Open it on the Com Port page first.")
                     : QStringLiteral("The port closed during the run. Run the command again.");
    switch (systemError) {
    case EACCES:
    case EPERM:
        return QStringLiteral(
            "Permission denied: your user may not open this serial port. Add yourself to the group that "
            "owns the device (usually \"dialout\": sudo usermod -aG dialout $USER), then log in again.");
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral(
            "No such device: the serial port does not exist. Is the adapter plugged in? ") + checkPort;
    case EBUSY:
        return QStringLiteral("The serial port is in use by another program. Close that program and try again.");
    case EIO:
        return panel ? QStringLiteral(
                           "The device stopped answering (unplugged or hung up). Plug it in again, then press "
                           "\"Close Port\" and \"Open Port\".")
                     : QStringLiteral(
                           "The device stopped answering (unplugged or hung up). Plug it in again and run the "
                           "command again.");
    case EINVAL:
        return QStringLiteral("The device refused these line settings. Try another baud rate or format.");
    default:
        break;
    }
    if (portError == CError_OpenFailed)
        return QStringLiteral("The serial port could not be opened. ") + checkPort;
    return {};
}
