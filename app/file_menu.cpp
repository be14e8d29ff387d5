#include "app/file_menu.h"

#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>

#include "app/main_window.h"
#include "commands/command_page.h"
#include "commands/command_script_files.h"
#include "module/config_files.h"
#include "settings/config_page.h"

namespace {

// The page an entry works on is brought to the front first, so what a file
// changes is in view.
template <class Page, class Handler>
void Add(QMenu* menu, TTarnwickForm& form, const char* name, const QString& text, Page* page, Handler handler)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QLatin1String(name));
    QObject::connect(a, &QAction::triggered, &form, [&form, page, handler] {
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
    Add(menu, form, "LoadProfile1", QStringLiteral("Load Profile\u2026"), config, LoadProfileClick);
    menu->addSeparator();
    Add(menu, form, "ExportImage1", QStringLiteral("Export Image\u2026"), config, ExportImageClick);
    Add(menu, form, "ImportImage1", QStringLiteral("Import Image\u2026"), config, ImportImageClick);
    menu->addSeparator();
    Add(menu, form, "SaveCommandScript1", QStringLiteral("Save Command Script\u2026"), commands, SaveScriptClick);
    Add(menu, form, "LoadCommandScript1", QStringLiteral("Load Command Script\u2026"), commands, LoadScriptClick);
    form.menuBar()->insertMenu(form.HelpMenu->menuAction(), menu);
    return menu;
}
