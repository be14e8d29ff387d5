#pragma once
// "ports": the machine's serial devices as the panel's port list finds
// them, one line (or one JSON object) each.
#include <QByteArray>

struct TPortsListing {
    QByteArray out;
    QByteArray err;
    int exitCode = 0;
};

TPortsListing ListPorts(bool json);
