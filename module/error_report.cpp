#include "module/error_report.h"

#include "common/dialogs.h"
#include "serial/com_types.h"

void ReportPortError(QWidget* parent, const EComPort& e)
{
    Dialogs().ErrorBox(parent, e.Message(), PortErrorAdvice(e.PortError(), e.SystemError()));
}
