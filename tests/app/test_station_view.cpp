// View > Station in the panel: the station is the one operation while it
// runs. The pages' operations are held and refused with the reason, then
// come back after Stop; closing the panel during a run ends it.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "module/operation_runner.h"
#include "module/ui/find_module_run.h"
#include "settings/config_profile.h"
#include "station/ui/station_window.h"
#include "window_rig.h"

namespace {

TStationWindow* OpenStation(TWindowRig& r, const QTemporaryDir& dir)
{
    QAction* action = r.form->findChild<QAction*>(QStringLiteral("Station1"));
    if (!action) return nullptr;
    action->trigger();
    auto* w = r.form->findChild<TStationWindow*>();
    if (!w || !w->isVisible()) return nullptr;
    QFile f(dir.filePath(QStringLiteral("p.json")));
    if (!f.open(QIODevice::WriteOnly) || f.write(WriteConfigProfile(TConfigValues{})) <= 0) return nullptr;
    f.close();
    QDir().mkpath(dir.filePath(QStringLiteral("sockets")));
    w->ProfileEdit->setText(f.fileName());
    w->UnitAddressEdit->setText(QStringLiteral("0100"));
    w->WatchEdit->setText(dir.filePath(QStringLiteral("sockets")));
    return w;
}

}  // namespace

class TestStationView : public QObject {
    Q_OBJECT

private slots:
    void pagesRefusedWhileTheStationRuns()
    {
        TWindowRig r;
        QVERIFY(r.Setup({}));
        QTemporaryDir dir;
        TStationWindow* w = OpenStation(r, dir);
        QVERIFY(w);
        QVERIFY2(w->StartClick(), qPrintable(w->Status->text()));
        for (QWidget* op : r.form->PortControls().Operations()) QVERIFY2(!op->isEnabled(), qPrintable(op->objectName()));
        const int written = r.Written();
        RunFindModule(*r.form->ComPortSheet, *r.form->ComPort1);
        QVERIFY(!r.dialogs.messages.empty());
        QVERIFY2(r.dialogs.messages.back().text.contains(QStringLiteral("\"Station\" is still running")),
                 qPrintable(r.dialogs.messages.back().text));
        QCOMPARE(r.Written(), written);

        w->StopClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(!w->Running());
        for (QWidget* op : r.form->PortControls().Operations()) QVERIFY2(op->isEnabled(), qPrintable(op->objectName()));
    }

    void closingThePanelEndsTheStation()
    {
        TWindowRig r;
        QVERIFY(r.Setup({}));
        QTemporaryDir dir;
        TStationWindow* w = OpenStation(r, dir);
        QVERIFY(w);
        QVERIFY(w->StartClick());
        r.form.reset();  // with the Station window, its child
        QVERIFY(!TOperationRunner::Panel().Running());
    }
};

QTEST_MAIN(TestStationView)
#include "test_station_view.moc"
