#pragma once
// The tool under test (TW_CLI) run from a test: to its end with no input, or
// started with its own record folder; the profiles it is given.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "process_run.h"
#include "settings/config_profile.h"

// This process's environment with the tool's records under dataHome.
inline QProcessEnvironment CliEnvironment(const QString& dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    return env;
}

// Runs the tool to its end, its input closed.
inline TProcessRun RunCli(const QStringList& args,
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("TW_CLI"), args);
    if (!p.waitForStarted(20000)) return {};
    p.closeWriteChannel();
    return FinishProcess(p);
}

// Writes values as a profile file; false when it cannot.
inline bool WriteProfileFile(const QString& path, const TConfigValues& values)
{
    QFile f(path);
    const QByteArray bytes = WriteConfigProfile(values);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A profile with a key, line.json in dir, written on first use.
inline QString KeyedProfile(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("line.json"));
    TConfigValues v;
    v.key = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
    if (!QFile::exists(path) && !WriteProfileFile(path, v)) qFatal("cannot write %s", qPrintable(path));
    return path;
}
