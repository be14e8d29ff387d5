#pragma once
// What a port error means in plain words and what to do about it: the text
// under the error box's message, and the advice of the command-line tool.
#include <QString>

// portError: the component's error code (EComPort::PortError()), systemError
// its errno. Empty when there is nothing to add.
QString PortErrorAdvice(int portError, int systemError);
