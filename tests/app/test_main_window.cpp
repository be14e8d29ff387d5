// The main window: caption, pages, menu, about box and help.
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QStatusBar>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include "app/about_box.h"
#include "app/application.h"
#include "app/main_window.h"
#include "module/operation_report.h"
#include "module/ui/status_form.h"
#include "record/record_writer.h"
#include "scripted_dialogs.h"
#include "serial/com_port.h"

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void captionPagesAndMenu()
    {
        TTarnwickForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tarnwick Control Panel - Version 1.17"));
        QCOMPARE(QApplication::applicationName(), QStringLiteral("Tarnwick Control Panel"));
        const QStringList tabs = {"Jumper Settings", "Config Memory"};
        QCOMPARE(form.PageControl1->count(), 6);
        const char* captions[] = {"Jumper Settings", "Com Port", "Config Memory", "Flash Memory", "Command", "Terminal"};
        const char* names[] = {"JumperSheet", "ComPortSheet", "FlashConfigSheet", "FlashMemorySheet", "CommandSheet",
                               "TerminalSheet"};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(form.PageControl1->tabText(i), QLatin1String(captions[i]));
            QCOMPARE(form.PageControl1->widget(i)->objectName(), QLatin1String(names[i]));
        }
        QCOMPARE(form.PageControl1->currentIndex(), 0);
        QCOMPARE(form.HelpMenu->title(), QStringLiteral("&Help"));
        const auto actions = form.HelpMenu->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), QStringLiteral("&Tarnwick Help"));
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), QStringLiteral("&About ..."));
        QVERIFY(StatusForm());  // created by the window's creation
        QVERIFY(!form.ComPort1->Connected());
        // The operation controls start disabled.
        for (QWidget* w : form.PortControls().Operations()) QVERIFY(!w->isEnabled());
        QVERIFY(form.PortControls().Operations().size() >= 4 + 9 + 1);
    }

    void rowThatWaitsInTheSpoolIsToldInTheStatusLine()
    {
        TTarnwickForm form;
        const QString path = QDir::temp().filePath(QStringLiteral("tw-damaged-%1.sqlite").arg(QCoreApplication::applicationPid()));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("no record\n").repeated(500));
        }
        TRecordWriter::SetLocation(path);
        TOperationReport r;
        r.operation = QStringLiteral("program-config");
        r.port = QStringLiteral("/dev/ttyNONE");
        ReportOperation(r);
        QVERIFY(TRecordWriter::Flush(20000));
        QTRY_VERIFY_WITH_TIMEOUT(form.statusBar()->currentMessage().contains(QStringLiteral("damaged")), 10000);
        QVERIFY(form.statusBar()->currentMessage().contains(QStringLiteral(".spool")));
        TRecordWriter::SetLocation(QString());
        for (const QString& f : {path, path + QStringLiteral(".spool"), path + QStringLiteral(".spool.lock")}) QFile::remove(f);
    }

    void titlesGetNoApplicationSuffix()
    {
        // Once a display name is set, Qt appends it to every title the window
        // manager shows (main window, about box, message boxes). Without one
        // it only follows the application name.
        const QString name = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("probe"));
        const QString display = QGuiApplication::applicationDisplayName();
        QCoreApplication::setApplicationName(name);
        QCOMPARE(display, QStringLiteral("probe"));
    }

    void aboutBoxShowsTheSameTextsTwice()
    {
        TTarnwickForm form;
        for (int i = 0; i < 2; ++i) {
            QTimer::singleShot(0, [&] {
                QCOMPARE(form.AboutBox()->ProductName->text(), QStringLiteral("Tarnwick Control Panel"));
                QCOMPARE(form.AboutBox()->Version->text(), QStringLiteral("Version 1.17"));
                QVERIFY(!form.AboutBox()->Copyright->text().isEmpty());
                QCOMPARE(form.AboutBox()->windowTitle(), QStringLiteral("About"));
                form.AboutBox()->accept();
            });
            form.About1->trigger();
        }
    }

    void missingHelpFileIsReported()
    {
        TScriptedDialogs d;
        TDialogsScope scope(&d);
        TTarnwickForm form;
        for (const QString& f : TTarnwickForm::HelpFileCandidates()) QVERIFY(!QFileInfo::exists(f));
        form.TarnwickHelp1->trigger();
        QCOMPARE(d.messages.size(), size_t(1));
        QVERIFY(d.messages[0].text.contains(QStringLiteral("tarnwick.hlp")));
        QVERIFY(d.messages[0].text.contains(QStringLiteral("not found")));
    }
};

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestMainWindow t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_main_window.moc"
