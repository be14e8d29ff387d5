#include "app/application.h"

#include <exception>

#include "common/ui/dialogs.h"
#include "module/ui/error_report.h"
#include "serial/com_types.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tarnwick Control Panel"));
    // No display name: Qt would append it to every title the window manager
    // shows, and the titles must read exactly as set.
    setApplicationVersion(QStringLiteral("1.17"));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const EComPort& e) {
        ReportPortError(activeWindow(), e);
    } catch (const std::exception& e) {
        Dialogs().ErrorBox(activeWindow(), QString::fromLocal8Bit(e.what()), {});
    }
    return false;
}
