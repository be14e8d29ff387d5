#pragma once
// The error box for a port error that reached the top: the component's
// message, and beneath it in plain words what the system error means and
// what to do about it.
#include <QString>

#include "module/port_error_advice.h"

class QWidget;
class EComPort;

void ReportPortError(QWidget* parent, const EComPort& e);
