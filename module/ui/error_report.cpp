#include "module/ui/error_report.h"

#include "common/ui/dialogs.h"
#include "module/operation_state.h"
#include "serial/com_types.h"

void ReportPortError(QWidget* parent, const EComPort& e)
{
    // Nothing may wait for an answer while the program quits.
    if (TOperationState::Quitting()) return;
    TOperationState::NoteFailureShown();
    Dialogs().ErrorBox(parent, e.Message(), PortErrorAdvice(e.PortError(), e.SystemError()));
}
