// tarnwick-panel: program entry.
#include <QCommandLineParser>
#include <cstdio>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/main_window.h"
#include "common/dialogs.h"
#include "tools/vmodule/virtual_module.h"

int main(int argc, char** argv)
{
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
    parser.addOption(portOpt);
    parser.addOption(simOpt);
    parser.process(app);

    TTarnwickForm form;

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

    form.show();
    const int rc = app.exec();
    if (vmodule) vmodule->Stop();
    return rc;
}
