// The panel's operations on the runner's worker: while one runs, every other
// start (buttons, handlers, Program Pair, Find Module, a profile load) is
// refused with its reason and the running one's wire stays byte for byte as
// it is alone; a box open on the window thread holds nothing; Find Module
// never runs inside a stopped operation; Find Module's and the closing
// port's bytes reach the traffic log; every operation leaves a row in the
// production record, without the key.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QtTest>

#include "app/application.h"
#include "module/ui/config_programming.h"
#include "serial/ui/com_combo_box.h"
#include "module/ui/flash_transfer.h"
#include "module/operation_runner.h"
#include "module/ui/read_back.h"
#include "module/ui/status_form.h"
#include "window_rig.h"

namespace {

// Counts the event loops that run inside an event's handler (a nested loop:
// processEvents, a box's exec) while watching. Each pass of a loop wakes
// the dispatcher; the test's own waits run outside any handler.
class TLoopWatchApplication : public TApplication {
public:
    using TApplication::TApplication;
    bool watching = false;
    int nested = 0;

    void Watch()
    {
        const auto pass = [this] {
            if (watching && depth_ > 0) ++nested;
        };
        QObject::connect(eventDispatcher(), &QAbstractEventDispatcher::awake, this, pass, Qt::DirectConnection);
        QObject::connect(eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock, this, pass, Qt::DirectConnection);
    }
    bool notify(QObject* receiver, QEvent* event) override
    {
        // Only the window thread's handlers: other threads (the record's
        // writer) deliver events of their own.
        if (QThread::currentThread() != thread()) return TApplication::notify(receiver, event);
        ++depth_;
        const bool r = TApplication::notify(receiver, event);
        --depth_;
        return r;
    }

private:
    int depth_ = 0;
};

TLoopWatchApplication* LoopWatch() { return static_cast<TLoopWatchApplication*>(QCoreApplication::instance()); }

std::array<uint8_t, 256> Pattern(int salt)
{
    std::array<uint8_t, 256> m;
    for (int i = 0; i < 256; ++i) m[size_t(i)] = uint8_t(i * 7 + salt);
    return m;
}

TFlashImage::Bytes Image()
{
    TFlashImage::Bytes image;
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(0xC3 ^ (i * 3));
    return image;
}

bool FlashHolds(const TVirtualModule& vm, const TFlashImage::Bytes& image)
{
    const auto m = vm.Memory();
    return std::equal(image.begin(), image.end(), m.begin());
}

// Program Flash on a fresh window and module; during its pause after the
// erase, action runs. Returns what the module received.
std::vector<uint8_t> ProgramFlashWith(TWindowRig& r, std::function<void()> action)
{
    r.form->FlashMemorySheet->Image().Assign(Image());
    if (action) r.During([&r] { return r.Written() >= 10; }, action);
    r.Show(r.form->FlashMemorySheet);
    r.form->FlashMemorySheet->ProgramFlashButton->click();
    if (!TOperationRunner::Panel().WaitIdle()) return {};
    return r.vm.Received();
}

}  // namespace

class TestOperationRunner : public QObject {
    Q_OBJECT

private slots:
    void everyOtherStartIsRefusedAndTheWireStays()
    {
        std::vector<uint8_t> alone;
        {
            TWindowRig r;
            QVERIFY(r.Setup(Pattern(1)));
            alone = ProgramFlashWith(r, {});
            QVERIFY(FlashHolds(r.vm, Image()));
        }
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(1)));
        TTarnwickForm& f = *r.form;
        const std::vector<std::pair<const char*, std::function<void()>>> starts = {
            {"Read Flash", [&] { ReadFlashButtonClick(f.Session(), *f.FlashMemorySheet); }},
            {"Compare", [&] { CompareFlashButtonClick(f.Session(), *f.FlashMemorySheet); }},
            {"Read Config", [&] { ReadConfigButtonClick(f.Session(), *f.FlashConfigSheet); }},
            {"Program Config", [&] { ProgramConfigButtonClick(f.Session(), *f.FlashConfigSheet, 0); }},
            {"Send Command", [&] { f.CommandSheet->SendCommandClick(f.CommandSheet->SendButton(1)); }},
            {"Send All", [&] { f.CommandSheet->SendAllClick(); }},
            {"Program Pair", [&] { f.FlashConfigSheet->ProgramPairButton->click(); }},
            {"Find Module", [&] { f.ComPortSheet->FindModuleClick(); }},
            {"Load Profile", [&] { f.FileMenu->findChild<QAction*>(QStringLiteral("LoadProfile1"))->trigger(); }},
            {"Open Port", [&] { f.ComPortSheet->OpenComPortClick(); }},
        };
        int tried = 0;
        const std::vector<uint8_t> wire = ProgramFlashWith(r, [&] {
            for (const auto& s : starts) {
                const size_t before = r.dialogs.messages.size();
                s.second();
                ++tried;
                // Where a start can be asked for while the buttons are held,
                // the answer names the running operation.
                for (size_t i = before; i < r.dialogs.messages.size(); ++i)
                    QVERIFY2(r.dialogs.messages[i].text.contains(QStringLiteral("\"Program Flash\" is still running")),
                             s.first);
            }
            QCOMPARE(StatusForm()->windowTitle(), QStringLiteral("Flash Memory"));
        });
        QCOMPARE(tried, int(starts.size()));
        // Program Pair, Find Module and Load Profile said why.
        QCOMPARE(int(r.dialogs.messages.size()), 3);
        QVERIFY(wire == alone);
        QVERIFY(FlashHolds(r.vm, Image()));
        QCOMPARE(f.CommandSheet->LogLines(), QStringList());
    }

    void programFlashRunsNoNestedEventLoop()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(3)));
        LoopWatch()->nested = 0;
        LoopWatch()->watching = true;
        ProgramFlashWith(r, {});
        LoopWatch()->watching = false;
        QVERIFY(FlashHolds(r.vm, Image()));
        QCOMPARE(LoopWatch()->nested, 0);
    }

    void aBoxOnTheWindowHoldsNothing()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(2)));
        bool programmedMeanwhile = false;
        ProgramFlashWith(r, [&] {
            // What a modal box does: an event loop of its own until closed.
            QEventLoop box;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, &box, [&] {
                if (FlashHolds(r.vm, Image())) box.quit();
            });
            poll.start(20);
            QTimer::singleShot(30000, &box, &QEventLoop::quit);
            box.exec();
            programmedMeanwhile = FlashHolds(r.vm, Image());
        });
        QVERIFY(programmedMeanwhile);
        QCOMPARE(r.Messages(), 0);
    }

    void findModuleWaitsForAStoppedOperation()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(3)));
        ProgramFlashWith(r, [&] {
            r.PressClosePort();
            // The operation is ending: the search is not offered, and asked
            // for anyway it is refused rather than run inside it.
            QVERIFY(!r.form->ComPortSheet->FindModuleButton->isEnabled());
            r.form->ComPortSheet->FindModuleClick();
            QCOMPARE(int(r.dialogs.messages.size()), 1);
            QVERIFY(r.dialogs.messages[0].text.contains(QStringLiteral("still running")));
        });
        QVERIFY(!r.form->ComPort1->Connected());
        QVERIFY(r.form->ComPortSheet->FindModuleButton->isEnabled());
        // One box for the stop itself.
        QCOMPARE(r.dialogs.messages.back().caption, QStringLiteral("Communication Error"));

        // Now it runs, finds the module, and its bytes show in the traffic.
        r.form->ComPortSheet->ComComboBox1->SetText(QString::fromStdString(r.vm.PortPath()));
        const size_t before = r.dialogs.messages.size();
        r.form->ComPortSheet->FindModuleClick();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        QCOMPARE(r.dialogs.messages.size(), before + 1);
        QVERIFY2(r.dialogs.messages.back().text.contains(QString::fromStdString(r.vm.PortPath())),
                 qPrintable(r.dialogs.messages.back().text));
        bool tagged = false;
        for (const TTrafficChunk& c : r.form->ComPort1->Traffic().ChunksFrom(0))
            if (c.Tag != 0 && TrafficTagName(c.Tag) == r.vm.PortPath()) tagged = true;
        QVERIFY(tagged);
    }

    void unreadBytesAtCloseReachTheTraffic()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(4)));
        r.vm.Inject({'L', 'A', 'T', 'E'});
        QTRY_VERIFY(r.form->ComPort1->InQueueCount() == 4);
        r.form->ComPort1->ClosePort();
        std::string rx;
        for (const TTrafficChunk& c : r.form->ComPort1->Traffic().ChunksFrom(0))
            if (c.Dir == TTrafficDirection::Rx) rx += c.Bytes;
        QCOMPARE(rx, std::string("LATE"));
    }

    void everyOperationLeavesARowWithoutTheKey()
    {
        TWindowRig r;
        QVERIFY(r.Setup(Pattern(5)));
        const QDateTime since = QDateTime::currentDateTimeUtc();
        const QString key = QStringLiteral("00112233445566778899AABBCCDDEEFF");
        r.form->FlashConfigSheet->KeyEdit->setText(key);
        r.Show(r.form->FlashConfigSheet);
        r.form->FlashConfigSheet->ProgramConfigButton->click();
        QVERIFY(TOperationRunner::Panel().WaitIdle());
        ProgramFlashWith(r, {});
        QString error;
        const QStringList operations = r.RecordedOperations(since, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(operations, (QStringList{QStringLiteral("program-config:ok"), QStringLiteral("program-flash:ok")}));
        const QString dir = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/tarnwick");
        for (const QString& name : QDir(dir).entryList(QDir::Files)) {
            QFile f(dir + QLatin1Char('/') + name);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            QVERIFY2(!bytes.contains(key.toLatin1()) && !bytes.contains(QByteArray::fromHex(key.toLatin1())),
                     qPrintable(name));
        }
    }
};

int main(int argc, char** argv)
{
    TLoopWatchApplication app(argc, argv);
    app.Watch();
    TestOperationRunner t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_operation_runner.moc"
