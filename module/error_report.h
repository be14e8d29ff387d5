#pragma once
// The error box for a port error that reached the top: the component's
// message, and beneath it in plain words what the system error means and
// what to do about it.
#include <QString>

class QWidget;
class EComPort;

QString PortErrorAdvice(int portError, int systemError);
void ReportPortError(QWidget* parent, const EComPort& e);
