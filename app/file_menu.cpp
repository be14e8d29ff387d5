#include "app/file_menu.h"

#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>

#include "app/main_window.h"
#include "commands/ui/command_page.h"
#include "commands/ui/command_script_files.h"
#include "common/ui/dialogs.h"
#include "module/operation_runner.h"
#include "module/ui/config_files.h"
#include "settings/ui/config_page.h"

namespace {

// The page an entry works on is brought to the front first, so what a file
// changes is in view.
// An entry that changes the page waits for the running operation: the
// operation took its values when it started.
template <class Page, class Handler>
void Add(QMenu* menu, TTarnwickForm& form, const char* name, const QString& text, Page* page, Handler handler,
         bool changesPage = false)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QLatin1String(name));
    QObject::connect(a, &QAction::triggered, &form, [&form, page, handler, changesPage, text] {
        if (changesPage) {
            const QString refusal = TOperationRunner::Panel().Refusal();
            if (!refusal.isEmpty()) {
                Dialogs().MessageBox(&form, refusal, QString(text).remove(QChar(0x2026)),
                                     mb::Ok | mb::IconExclamation);
                return;
            }
        }
        form.PageControl1->setCurrentWidget(page);
        handler(*page);
    });
}

}  // namespace

QMenu* BuildFileMenu(TTarnwickForm& form)
{
    auto* menu = new QMenu(QStringLiteral("&File"), &form);
    menu->setObjectName(QStringLiteral("File1"));
    TConfigPage* config = form.FlashConfigSheet;
    TCommandPage* commands = form.CommandSheet;
    Add(menu, form, "SaveProfile1", QStringLiteral("Save Profile\u2026"), config, SaveProfileClick);
    Add(menu, form, "LoadProfile1", QStringLiteral("Load Profile\u2026"), config, LoadProfileClick, true);
    menu->addSeparator();
    Add(menu, form, "ExportImage1", QStringLiteral("Export Image\u2026"), config, ExportImageClick);
    Add(menu, form, "ImportImage1", QStringLiteral("Import Image\u2026"), config, ImportImageClick, true);
    menu->addSeparator();
    Add(menu, form, "SaveCommandScript1", QStringLiteral("Save Command Script\u2026"), commands, SaveScriptClick);
    Add(menu, form, "LoadCommandScript1", QStringLiteral("Load Command Script\u2026"), commands, LoadScriptClick, true);
    form.menuBar()->insertMenu(form.HelpMenu->menuAction(), menu);
    return menu;
}
