#pragma once
// The rig of the operation tests: scripted dialogs in place, a virtual module
// on its pty, the port that reaches it at 57600 baud and a session on that
// port. A test class derives from it next to QObject. Header only: only the
// tests that link the module layer include it.
#include <string>

#include "common/ui/dialogs.h"
#include "module/session.h"
#include "serial/com_port.h"
#include "support/scripted_dialogs.h"
#include "tools/vmodule/virtual_module.h"

class TModuleLine {
protected:
    TScriptedDialogs* dialogs = nullptr;
    TVirtualModule* vm = nullptr;
    TComPort* port = nullptr;
    TModuleSession* session = nullptr;

    // Starts the module; opens the port when open is true. False with
    // *error set when the module or the port failed.
    bool StartLine(bool open, std::string* error)
    {
        dialogs = new TScriptedDialogs;
        SetDialogs(dialogs);
        vm = new TVirtualModule;
        if (!vm->Start(error)) return false;
        port = new TComPort;
        port->SetPort(QString::fromStdString(vm->PortPath()));
        port->SetBaudRate(br57600);
        if (open) {
            port->OpenPort();
            if (!port->Connected()) {
                *error = "the port did not open";
                return false;
            }
        }
        session = new TModuleSession(*port);
        return true;
    }

    // After the page that used the session is gone.
    void StopLine()
    {
        delete session;
        delete port;
        delete vm;
        session = nullptr;
        port = nullptr;
        vm = nullptr;
        SetDialogs(nullptr);
        delete dialogs;
        dialogs = nullptr;
    }
};
