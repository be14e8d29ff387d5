// tarnwick-panel: program entry.
#include <QStringList>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/app_icon.h"
#include "app/command_line.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/panel_record.h"
#include "app/startup_probe.h"
#include "app/window_settings.h"
#include "common/signal_notifier.h"
#include "common/ui/dialogs.h"
#include "module/ui/config_files.h"
#include "tools/vmodule/virtual_module.h"

namespace {

// --write-icon PATH SIZE: the build writes the installed icons with this,
// before any application object exists, so it needs no display.
int WriteIcon(int argc, char** argv, int at)
{
    if (at + 2 >= argc) {
        std::fprintf(stderr, "--write-icon needs PATH and SIZE\n");
        return 2;
    }
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[at + 2]).toInt(&ok);
    if (!ok || AppIconImage(size).isNull()) {
        std::fprintf(stderr, "--write-icon: SIZE must be a number from 1 to 1024\n");
        return 2;
    }
    if (!WriteAppIconPng(QString::fromLocal8Bit(argv[at + 1]), size)) {
        std::fprintf(stderr, "--write-icon: cannot write %s\n", argv[at + 1]);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--write-icon") == 0) return WriteIcon(argc, argv, i);

    // Read the options before the application object connects to a display.
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const PanelCommandLine options = ParsePanelCommandLine(args);
    if (options.action == PanelCommandLine::Action::Exit) {
        std::fputs(options.out.toLocal8Bit().constData(), stdout);
        std::fputs(options.err.toLocal8Bit().constData(), stderr);
        return options.exitCode;
    }

    TApplication app(argc, argv);

    std::unique_ptr<TSignalNotifier> endSignals;  // outlives the window's end
    TTarnwickForm form;
    const QString settingsFile = SettingsFilePath();
    RestoreWindowSettings(form, settingsFile, options.resetSettings);

    std::unique_ptr<TVirtualModule> vmodule;
    if (options.simulate) {
        vmodule = std::make_unique<TVirtualModule>();
        std::string error;
        if (vmodule->Start(&error)) {
            form.AddPort(QString::fromStdString(vmodule->PortPath()));
        } else {
            Dialogs().MessageBox(nullptr,
                                 QStringLiteral("The virtual module could not start: %1")
                                     .arg(QString::fromStdString(error)),
                                 QStringLiteral("Tarnwick Control Panel"), mb::Ok | mb::IconExclamation);
            vmodule.reset();
        }
    }
    if (!options.port.isEmpty()) form.AddPort(options.port);

    InstallStartupProbe(&form);
    form.show();
    // After the window shows, so that a bad profile's message has its parent.
    if (!options.profile.isEmpty())
        QTimer::singleShot(0, &form, [&] { LoadProfileFile(*form.FlashConfigSheet, options.profile); });
    // From here a signal ends the program as closing the window does (before
    // it, nothing runs that could be left half done).
    endSignals = std::make_unique<TSignalNotifier>(std::initializer_list<int>{SIGTERM, SIGHUP, SIGINT});
    QObject::connect(endSignals.get(), &TSignalNotifier::Received, &form, &TTarnwickForm::EndBySignal);
    const int rc = app.exec();
    SaveWindowSettings(form, settingsFile);
    if (form.RunLeftBehind()) {
        // Its worker cannot be waited for: what was recorded is stored, and
        // the program ends without the window's orderly end.
        FlushPanelRecord(2000);
        std::fflush(nullptr);
        std::_Exit(form.ExitStatus(rc));
    }
    if (vmodule) vmodule->Stop();
    return form.ExitStatus(rc);
}
