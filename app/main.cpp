// tarnwick-panel: program entry.
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/app_icon.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/startup_probe.h"
#include "app/window_settings.h"
#include "common/dialogs.h"
#include "module/config_files.h"
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

    TApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Configures the Tarnwick RF module and its carrier board."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption portOpt(QStringLiteral("port"),
                               QStringLiteral("Adds a serial device (a path or a name like ttyUSB0) to the port "
                                              "list and selects it."),
                               QStringLiteral("PATH"));
    QCommandLineOption simOpt(QStringLiteral("simulate"),
                              QStringLiteral("Starts a virtual module on a pseudo-terminal and selects its port."));
    QCommandLineOption resetOpt(QStringLiteral("reset-settings"),
                                QStringLiteral("Starts with the start values and forgets the remembered settings."));
    QCommandLineOption profileOpt(QStringLiteral("profile"),
                                  QStringLiteral("Loads a configuration profile onto the Config Memory page."),
                                  QStringLiteral("FILE"));
    parser.addOption(portOpt);
    parser.addOption(simOpt);
    parser.addOption(resetOpt);
    parser.addOption(profileOpt);
    parser.process(app);

    TTarnwickForm form;
    const QString settingsFile = SettingsFilePath();
    RestoreWindowSettings(form, settingsFile, parser.isSet(resetOpt));

    std::unique_ptr<TVirtualModule> vmodule;
    if (parser.isSet(simOpt)) {
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
    if (parser.isSet(portOpt)) form.AddPort(parser.value(portOpt));

    InstallStartupProbe(&form);
    form.show();
    // After the window shows, so that a bad profile's message has its parent.
    if (parser.isSet(profileOpt))
        QTimer::singleShot(0, &form, [&] { LoadProfileFile(*form.FlashConfigSheet, parser.value(profileOpt)); });
    const int rc = app.exec();
    SaveWindowSettings(form, settingsFile);
    if (vmodule) vmodule->Stop();
    return rc;
}
