#pragma once
// A program the test started, waited for: its exit status and output.
#include <QByteArray>
#include <QProcess>

struct TProcessRun {
    int exitCode = -1;  // -1: crashed, or still running after the time-out (then killed)
    QByteArray out;
    QByteArray err;
};

inline TProcessRun FinishProcess(QProcess& p, int timeoutMs = 120000)
{
    TProcessRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
