#pragma once
// What a port error means in plain words and what to do about it: the text
// under the error box's message, and the advice of the command-line tool.
#include <QString>

// portError: the component's error code (EComPort::PortError()), systemError
// its errno. Empty when there is nothing to add.
// The audience decides where the advice points: the Com Port page, or the
// tool's --port option.
enum class TAdviceAudience { Panel, CommandLine };
QString PortErrorAdvice(int portError, int systemError, TAdviceAudience audience = TAdviceAudience::Panel);
