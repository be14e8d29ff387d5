// The traffic window from the View menu, against the virtual module: a
// "Read Flash" shows with its pause between NOP and Read Version, the
// direction filter, and the CSV export read back.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QFontDatabase>
#include <QStringListModel>
#include <QtTest>

#include "module/operation_runner.h"
#include "app/main_window.h"
#include "flash_editor/ui/flash_page.h"
#include "module/ui/com_port_page.h"
#include "scripted_dialogs.h"
#include "serial/com_port.h"
#include "serial/ui/traffic_format.h"
#include "serial/ui/traffic_line_delegate.h"
#include "serial/ui/traffic_model.h"
#include "serial/ui/traffic_window.h"
#include "tools/vmodule/virtual_module.h"

class TestTrafficWindow : public QObject {
    Q_OBJECT
private slots:
    void readFlashShowsInTheTraffic()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        TVirtualModule vm;
        std::string error;
        QVERIFY2(vm.Start(&error), error.c_str());
        QTemporaryDir dir;

        TTarnwickForm form;
        QVERIFY(form.menuBar()->actions().contains(form.ViewMenu->menuAction()));
        QCOMPARE(form.Traffic1->text(), QStringLiteral("&Traffic"));
        form.show();
        form.AddPort(QString::fromStdString(vm.PortPath()));
        form.ComPortSheet->OpenComPort->click();
        QVERIFY(form.ComPort1->Connected());
        form.Traffic1->trigger();
        TTrafficWindow* w = form.TrafficWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Traffic"));

        form.FlashMemorySheet->ReadFlashButton->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QVERIFY(dialogs.messages.empty());

        // In the log: NOP, then Read Version no sooner than 300 ms later.
        const auto chunks = form.ComPort1->Traffic().ChunksFrom(0);
        QVERIFY(chunks.size() >= 2);
        QCOMPARE(chunks[0].Dir, TTrafficDirection::Tx);
        QCOMPARE(chunks[0].Bytes, std::string("\xFF"));
        QCOMPARE(chunks[1].Bytes, std::string("\x0F"));
        QVERIFY(chunks[1].TimeNs - chunks[0].TimeNs >= 300'000'000);
        std::size_t rx = 0;
        for (const auto& c : chunks)
            if (c.Dir == TTrafficDirection::Rx) rx += c.Bytes.size();
        QCOMPARE(rx, std::size_t(5 + 1 + 1 + 1 + 4 * 33));  // version, k, k, status, four blocks

        // In the window, once its timer ran: the pause shows on the 0F line,
        // and the list follows the tail.
        QTRY_VERIFY(w->Model().rowCount() > 10);
        const QString second = w->Model().data(w->Model().index(1), Qt::DisplayRole).toString();
        QVERIFY2(second.contains(QStringLiteral("TX  0F")), qPrintable(second));
        const double gapMs = second.section(QLatin1Char('+'), 1).section(QStringLiteral("ms"), 0, 0).trimmed().toDouble();
        QVERIFY2(gapMs >= 300.0, qPrintable(second));
        QScrollBar* bar = w->TrafficList->verticalScrollBar();
        QTRY_COMPARE(bar->value(), bar->maximum());
        // TW_SHOT=PATH keeps a picture of the window for the README.
        if (!qEnvironmentVariableIsEmpty("TW_SHOT")) {
            w->TrafficList->scrollToTop();
            QVERIFY(w->grab().save(qEnvironmentVariable("TW_SHOT")));
            w->TrafficList->scrollToBottom();
        }

        // Received only.
        w->TrafficFilter->setCurrentIndex(2);
        QVERIFY(w->Model().rowCount() > 0);
        for (int i = 0; i < w->Model().rowCount(); ++i)
            QVERIFY(w->Model().data(w->Model().index(i), Qt::DisplayRole).toString().contains(QStringLiteral("RX  ")));
        w->TrafficFilter->setCurrentIndex(0);

        // CSV back: every byte in order with its time and direction.
        const QString csvPath = dir.filePath(QStringLiteral("traffic.csv"));
        dialogs.saveNames.push_back(csvPath);
        w->TrafficSave->click();
        QFile f(csvPath);
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(f.readLine(), QByteArray("time_s,direction,byte\n"));
        std::string expected, got;
        for (const auto& c : chunks)
            for (char b : c.Bytes) expected += std::string(TrafficDirectionText(c.Dir)) + b;
        int64_t ffTime = -1, zeroFTime = -1, last = 0;
        while (!f.atEnd()) {
            const std::string row = f.readLine().trimmed().toStdString();
            int64_t t;
            TTrafficDirection d;
            uint8_t b;
            QVERIFY2(ParseTrafficCsvRow(row, &t, &d, &b), row.c_str());
            QVERIFY(t >= last);
            last = t;
            got += std::string(TrafficDirectionText(d)) + char(b);
            if (got.size() == 3) ffTime = t;
            if (got.size() == 6) zeroFTime = t;
        }
        QVERIFY(got == expected);
        QVERIFY(zeroFTime - ffTime >= 300'000'000);

        // Text: the window's lines.
        const QString txtPath = dir.filePath(QStringLiteral("traffic.txt"));
        dialogs.saveNames.push_back(txtPath);
        w->TrafficSave->click();
        QFile t(txtPath);
        QVERIFY(t.open(QIODevice::ReadOnly));
        QCOMPARE(t.readAll().count('\n'), w->Model().rowCount());

        // Clear empties the window; the port goes on recording.
        w->TrafficClear->click();
        QCOMPARE(w->Model().rowCount(), 0);
        QVERIFY(w->TrafficStatus->text().contains(QStringLiteral("0 bytes kept")));
        QVERIFY(dialogs.messages.empty());
    }

    // What went over the line may hold the key: the window says so, and
    // the exports and the log file are the owner's only (also over a
    // world-readable file).
    void filesAreTheOwnersOnly()
    {
        TScriptedDialogs dialogs;
        TDialogsScope scope(&dialogs);
        QTemporaryDir dir;
        TTrafficLog log;
        TTrafficWindow w(log);
        QVERIFY(w.TrafficNotice->text().contains(QLatin1String("what went over the line, an encryption key included")));
        log.Record(TTrafficDirection::Tx, "key", 3);
        const QStringList paths = {dir.filePath(QStringLiteral("t.txt")), dir.filePath(QStringLiteral("t.csv")),
                                   dir.filePath(QStringLiteral("log.txt"))};
        QFile old(paths[0]);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        QVERIFY(old.setPermissions(old.permissions() | QFileDevice::ReadOther | QFileDevice::ReadGroup));
        QVERIFY(QFile::copy(paths[0], paths[2]));
        QVERIFY(QFile::setPermissions(paths[2], old.permissions()));
        dialogs.saveNames = {paths[0], paths[1], paths[2]};
        w.TrafficSave->click();
        w.TrafficSave->click();
        w.TrafficLogToFile->click();
        QVERIFY(w.TrafficLogToFile->isChecked());
        log.Record(TTrafficDirection::Rx, "key", 3);
        w.FileLog().Stop();
        for (const QString& path : paths) {
            QVERIFY2(QFileInfo(path).size() > 0, qPrintable(path));
            QCOMPARE(QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        QVERIFY(dialogs.messages.empty());
    }

    // The lines are drawn as glyph runs at the font's pitch: ink in every
    // character's cell and none in a space's; a selected line shows in the
    // highlight colour.
    void linesAreDrawnCellByCell()
    {
        const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        QStringListModel model({QStringLiteral("AB CD"), QStringLiteral("xx")});
        QListView view;
        view.setFont(mono);
        view.setUniformItemSizes(true);
        view.setModel(&model);
        auto* delegate = new TTrafficLineDelegate(mono, &view);
        view.setItemDelegate(delegate);
        view.resize(300, 120);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.selectionModel()->select(model.index(1), QItemSelectionModel::Select);
        const QImage img = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect row0 = view.visualRect(model.index(0));
        const QRect row1 = view.visualRect(model.index(1));
        const qreal advance = QFontMetricsF(mono).horizontalAdvance(QLatin1Char('0'));
        QCOMPARE(delegate->sizeHint({}, model.index(0)).width(),
                 qCeil(5 * advance) + 2 * TTrafficLineDelegate::Margin);
        const QRgb base = view.palette().color(QPalette::Base).rgb();
        auto inkIn = [&](const QRect& row, int cell) {
            const int x0 = row.left() + TTrafficLineDelegate::Margin + qRound(cell * advance);
            int ink = 0;
            for (int x = x0 + 1; x < x0 + qFloor(advance) - 1; ++x)
                for (int y = row.top() + 1; y < row.bottom(); ++y) ink += img.pixel(x, y) != base;  // inside a focus frame
            return ink;
        };
        for (int cell : {0, 1, 3, 4}) QVERIFY2(inkIn(row0, cell) > 0, qPrintable(QString::number(cell)));
        QCOMPARE(inkIn(row0, 2), 0);
        QCOMPARE(inkIn(row0, 7), 0);
        const QRgb highlight = view.palette().color(QPalette::Highlight).rgb();
        QCOMPARE(img.pixel(row1.right() - 2, row1.center().y()), highlight);
    }
};

QTEST_MAIN(TestTrafficWindow)
#include "test_traffic_window.moc"
