#include "module/communication_error.h"

#include "common/dialogs.h"

void ShowCommunicationError(QWidget* parent, const QString& text)
{
    Dialogs().MessageBox(parent, text, QStringLiteral("Communication Error"), mb::Ok | mb::IconExclamation);
}
