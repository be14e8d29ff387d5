#pragma once
// The shared "Communication Error" box (OK button, exclamation icon); none
// while the program quits.
#include <QString>

class QWidget;

void ShowCommunicationError(QWidget* parent,
                            const QString& text = QStringLiteral("Could not communicate with Tarnwick Module"));
