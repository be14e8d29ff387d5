#pragma once
#include <QIcon>

// The program's icon, drawn: a module with its antenna and radio waves.
QIcon AppIcon();
