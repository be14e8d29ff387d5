#include "module/ui/communication_error.h"

#include "common/ui/dialogs.h"
#include "module/operation_state.h"

void ShowCommunicationError(QWidget* parent, const QString& text)
{
    // Nothing may wait for an answer while the program quits.
    if (TOperationState::Quitting()) return;
    TOperationState::NoteFailureShown();
    Dialogs().MessageBox(parent, text, QStringLiteral("Communication Error"), mb::Ok | mb::IconExclamation);
}
