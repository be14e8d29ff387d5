#pragma once
// The whole window on a virtual module with the port open, for tests that
// act in the middle of an operation: During() runs an action once on the
// window thread while the operation runs on its worker, and Written()
// counts every byte the port wrote, as the window hears of it.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "commands/command_catalogue.h"
#include "commands/ui/command_page.h"
#include "flash_editor/ui/flash_page.h"
#include "module/ui/com_port_page.h"
#include "module/operation_state.h"
#include "record/production_record.h"
#include "record/record_writer.h"
#include "scripted_dialogs.h"
#include "serial/com_port.h"
#include "settings/ui/config_page.h"
#include "tools/vmodule/virtual_module.h"

class TWindowRig {
public:
    TScriptedDialogs dialogs;
    TDialogsScope scope{&dialogs};
    TVirtualModule vm;
    std::unique_ptr<TTarnwickForm> form;

    ~TWindowRig()
    {
        poll_.stop();
        if (form) form->ComPort1->UnregisterLink(&link_);
        form.reset();
        TOperationState::Reset();
    }

    bool Setup(const std::array<uint8_t, 256>& memory)
    {
        std::string err;
        if (!vm.Start(&err)) {
            qWarning("virtual module: %s", err.c_str());
            return false;
        }
        vm.SetMemory(memory);
        form = std::make_unique<TTarnwickForm>();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) return false;
        form->AddPort(QString::fromStdString(vm.PortPath()));
        link_.OnTxData = [this](TCustomComPort*, const char*, int n) { written_ += n; };
        link_.OnOpenChange = [this](TCustomComPort*, bool open) { opens_ += open ? 1 : 0; };
        form->ComPort1->RegisterLink(&link_);
        Show(form->ComPortSheet);
        form->ComPortSheet->OpenComPort->click();
        return form->ComPort1->Connected();
    }

    void Show(QWidget* page) { form->PageControl1->setCurrentWidget(page); }

    int Written() const { return written_; }
    int Opens() const { return opens_; }
    int Messages() const { return int(dialogs.messages.size()) + int(dialogs.errors.size()); }
    bool Acted() const { return acted_; }

    // Runs action once, the first time the operation waits or pauses while
    // when() holds.
    void During(std::function<bool()> when, std::function<void()> action)
    {
        acted_ = false;
        poll_.disconnect();
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this, when, action] {
            if (acted_ || !TOperationState::Running() || !when()) return;
            acted_ = true;
            poll_.stop();
            action();
        });
        poll_.start();
    }

    // The rows the record holds for the virtual module's port since a time,
    // "operation:outcome", sorted, once what was posted is stored; *error
    // says why there are none when the record could not be read.
    QStringList RecordedOperations(const QDateTime& since, QString* error)
    {
        QStringList operations;
        TRecordEntries rows;
        TProductionRecord record;
        if (!TRecordWriter::Flush(10000)) *error = QStringLiteral("the record's writer did not finish");
        else if (record.Select(TRecordQuery{}, &rows, error))
            for (const TRecordEntry& e : rows)
                if (e.port == QString::fromStdString(vm.PortPath()) && e.timeUtc >= since)
                    operations << e.operation + QLatin1Char(':') + e.outcome;
        operations.sort();
        return operations;
    }

    // "Close Port" as the user presses it: on its page, with the mouse.
    void PressClosePort()
    {
        Show(form->ComPortSheet);
        QTest::mouseClick(form->ComPortSheet->CloseComPort, Qt::LeftButton);
    }

private:
    TComLink link_;
    int written_ = 0;
    int opens_ = 0;
    bool acted_ = false;
    QTimer poll_;
};

// A long operation of the window: its button and page, and when() holds in
// one of its pauses, after the bytes named below went out.
struct TRigOperation {
    QPushButton* button = nullptr;
    QWidget* page = nullptr;
    std::function<bool()> when;
};

// "readFlash", "programFlash", "programConfig", "sendCommand", "sendAll".
inline TRigOperation RigOperation(TWindowRig& r, const QString& name)
{
    TTarnwickForm& f = *r.form;
    auto after = [&r](int n) { return [&r, n] { return r.Written() >= n; }; };
    // NOP, then the pause of the presence check.
    if (name == QLatin1String("readFlash")) return {f.FlashMemorySheet->ReadFlashButton, f.FlashMemorySheet, after(1)};
    // Check (2), handshake (4), register (3), erase (1): the pause after the erase.
    if (name == QLatin1String("programFlash"))
        return {f.FlashMemorySheet->ProgramFlashButton, f.FlashMemorySheet, after(10)};
    // The check (2): the pause before the programming.
    if (name == QLatin1String("programConfig"))
        return {f.FlashConfigSheet->ProgramConfigButton, f.FlashConfigSheet, after(2)};
    // A row whose reply is longer than a byte pauses after its first byte:
    // check (2), first byte (1).
    f.CommandSheet->CommandCombo(1)->setCurrentIndex(cmd::ReadAD);
    f.CommandSheet->CommandCombo(2)->setCurrentIndex(cmd::ReadVersion);
    if (name == QLatin1String("sendCommand")) return {f.CommandSheet->SendButton(1), f.CommandSheet, after(3)};
    return {f.CommandSheet->SendAllButton, f.CommandSheet, after(3)};
}

inline void AddOperationRows()
{
    QTest::addColumn<QString>("op");
    for (const char* op : {"readFlash", "programFlash", "programConfig", "sendCommand", "sendAll"})
        QTest::newRow(op) << QString::fromLatin1(op);
}
