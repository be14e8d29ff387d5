#pragma once
// Runs one job per port, every port on a thread of its own and all at once;
// one result per port, in the order the ports were given. A job that fails
// (or throws) never stops the others.
#include <QStringList>
#include <functional>
#include <vector>

#include "tools/cli/port_result.h"

using TPortJob = std::function<TPortResult(int slot, const QString& port)>;

std::vector<TPortResult> RunOnPorts(const QStringList& ports, const TPortJob& job);

// The worst exit status of the results (0 for none).
int WorstExitCode(const std::vector<TPortResult>& results);
