// The station against virtual modules plugged into a watched folder: the
// test makes a module's link in the folder to plug it and removes it to
// unplug it, as /dev/serial/by-id shows adapters on a bench.
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "module/config_image.h"
#include "record/production_record.h"
#include "serial/port_list.h"
#include "settings/config_values.h"
#include "station/station.h"
#include "station/station_record.h"
#include "station/station_tile.h"
#include "tools/vmodule/virtual_module.h"

namespace {

// Every event, kept for the test to wait on.
class TEvents : public TStationObserver {
public:
    void StationEvent(const TStationEvent& e) override
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            events_.push_back(e);
            if (onEvent) onEvent(e);
        }
        cv_.notify_all();
    }
    // The results of finished modules, waiting until there are count of them.
    std::vector<TStationModuleResult> Results(size_t count, int timeoutMs = 60000)
    {
        std::unique_lock<std::mutex> lock(m_);
        std::vector<TStationModuleResult> out;
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            out.clear();
            for (const TStationEvent& e : events_)
                if (e.kind == TStationEvent::Finished) out.push_back(e.result);
            return out.size() >= count;
        });
        return out;
    }
    bool WaitFor(TStationEvent::Kind kind, size_t count, int timeoutMs = 30000)
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return size_t(std::count_if(events_.begin(), events_.end(),
                                        [&](const TStationEvent& e) { return e.kind == kind; })) >= count;
        });
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_);
        events_.clear();
        onEvent = nullptr;
    }
    std::function<void(const TStationEvent&)> onEvent;  // under the lock, on the socket's thread

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<TStationEvent> events_;
};

// A record whose Store ends as the socket's name says: "stored", "spooled"
// (the record could not take it) or "lost" (not even the spool could).
class TScriptedRecord : public TStationRecord {
public:
    bool Reserve(const QString&, const QString&, const QString&, TReservation* out, QString*) override
    {
        std::lock_guard<std::mutex> lock(m_);
        out->address = QStringLiteral("%1").arg(next_++, 4, 16, QLatin1Char('0')).toUpper();
        return true;
    }
    bool Given(const QString&) override { return false; }
    TStored Store(const TRecordEntry& row) override
    {
        TStored out;
        if (row.portById.contains(QLatin1String("spooled"))) out = {TStored::Spooled, QStringLiteral("kept in the spool")};
        if (row.portById.contains(QLatin1String("lost"))) out = {TStored::Lost, QStringLiteral("not kept anywhere")};
        return out;
    }

private:
    std::mutex m_;
    int next_ = 0x0300;
};

bool HasWrite(const std::vector<uint8_t>& bytes)
{
    // Write Registers 0x40 0xAA opens every programming.
    const uint8_t seq[] = {0x20, 0x40, 0xAA};
    return std::search(bytes.begin(), bytes.end(), std::begin(seq), std::end(seq)) != bytes.end();
}

}  // namespace

class TestStation : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<TProductionStationRecord> record_;
    std::unique_ptr<TStation> station_;
    TEvents events_;
    std::vector<std::unique_ptr<TVirtualModule>> modules_;
    TMemoryBytes image_{};
    QString watched_, db_;

    void StartStation(const QString& from, const QStringList& ports = {}, TStationRecord* record = nullptr,
                      std::function<TStationLabelOutcome(const TStationLabelRequest&)> label = {})
    {
        TUnitAddressPlan plan;
        QString error;
        QVERIFY(ParseUnitAddressPlan(from, &plan, &error));
        record_ = std::make_unique<TProductionStationRecord>(db_, plan);
        QVERIFY2(record_->Prepare(&error), qPrintable(error));
        TStationSetup setup;
        setup.label = std::move(label);
        setup.profileName = QStringLiteral("line.json");
        setup.image = image_;
        setup.watchDirs = ports.isEmpty() ? QStringList{watched_} : QStringList{};
        setup.ports = ports;
        setup.pollMs = 200;
        station_ = std::make_unique<TStation>(setup, record ? *record : *record_, events_);
        QVERIFY2(station_->Start(&error), qPrintable(error));
    }
    // Plugs a module into the socket named name (a new module, or the same
    // one again when it exists).
    TVirtualModule& Plug(size_t i, const QString& name)
    {
        while (modules_.size() <= i) modules_.push_back(std::make_unique<TVirtualModule>());
        TVirtualModule& m = *modules_[i];
        m.SetLinkPath((watched_ + QLatin1Char('/') + name).toStdString());
        std::string error;
        if (!m.Start(&error)) qFatal("virtual module: %s", error.c_str());
        return m;
    }
    TRecordEntries Rows()
    {
        TProductionRecord record(db_);
        TRecordEntries rows;
        QString error;
        if (!record.Select({}, &rows, &error)) qWarning("%s", qPrintable(error));
        return rows;
    }
    TMemoryBytes ConfigOf(TVirtualModule& m)
    {
        const auto memory = m.Memory();
        TMemoryBytes out{};
        std::copy(memory.begin() + 128, memory.end(), out.begin());
        return out;
    }

private slots:
    void init()
    {
        watched_ = dir_.filePath(QStringLiteral("by-id-%1-%2").arg(QTest::currentTestFunction(), QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(watched_));
        db_ = dir_.filePath(QStringLiteral("%1-%2.sqlite").arg(QTest::currentTestFunction(), QTest::currentDataTag()));
        image_ = ConfigImage(TConfigValues{});
    }
    void cleanup()
    {
        station_.reset();
        SetDefaultPortRoots(TPortRoots{});
        modules_.clear();
        record_.reset();
        events_.Clear();
    }

    // Plugged one after the other, each gets the next address and is verified.
    void threeModulesGetAddressesInTurn()
    {
        StartStation(QStringLiteral("0100"));
        const QStringList expected{QStringLiteral("0100"), QStringLiteral("0101"), QStringLiteral("0102")};
        for (int i = 0; i < 3; ++i) {
            TVirtualModule& m = Plug(size_t(i), QStringLiteral("usb-Tarnwick_%1-if00").arg(i));
            const auto results = events_.Results(size_t(i + 1));
            QCOMPARE(int(results.size()), i + 1);
            const TStationModuleResult& r = results.back();
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(r.unitAddress, expected[i]);
            QVERIFY(!r.alreadyProgrammed);
            TMemoryBytes want = image_;
            SetImageUnitAddress(want, expected[i].toInt(nullptr, 16));
            QVERIFY(ConfigOf(m) == want);
        }
        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), 3);
        for (const TRecordEntry& row : rows) {
            QCOMPARE(row.outcome, QStringLiteral("ok"));
            QCOMPARE(row.verified, QStringLiteral("yes"));
            QVERIFY(expected.contains(row.unitAddress));
        }
        QCOMPARE(station_->Sums().passed, 3);
        QCOMPARE(int(station_->Sockets().size()), 3);
    }

    // A module that hangs up during Program Config fails with the step
    // named; the one plugged next in its place passes and points to it.
    void hangUpFailsThenRedoPasses()
    {
        const QString socket = QStringLiteral("usb-Tarnwick_A-if00");
        StartStation(QStringLiteral("0100"));
        TVirtualModule* victim = nullptr;
        bool armed = true;
        events_.onEvent = [&](const TStationEvent& e) {
            if (armed && victim && e.kind == TStationEvent::Step && e.step == TStationStep::ProgramConfig) {
                armed = false;
                TVirtualModuleFaults f;
                f.hangUpAfterBytes = 12;  // mid-way through the programming
                victim->SetFaults(f);
            }
        };
        victim = &Plug(0, socket);
        auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        const TStationModuleResult failed = results[0];
        QVERIFY(!failed.ok);
        QVERIFY2(failed.failedStep == TStationStep::ProgramConfig, qPrintable(failed.error));
        QVERIFY2(failed.error.contains(QLatin1String("during Program Config")), qPrintable(failed.error));
        QVERIFY2(failed.error.contains(QLatin1String("plug it again")), qPrintable(failed.error));

        // Out, and a good module in its place.
        victim->Stop();
        QVERIFY(events_.WaitFor(TStationEvent::Unplugged, 1));
        victim->SetFaults({});
        Plug(0, socket);
        results = events_.Results(2);
        QCOMPARE(int(results.size()), 2);
        const TStationModuleResult& redo = results[1];
        QVERIFY2(redo.ok, qPrintable(redo.error));
        QCOMPARE(redo.redoOf, failed.rowId);
        QCOMPARE(redo.unitAddress, failed.unitAddress);  // a redo: the same socket and address

        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), 2);
        QCOMPARE(rows[0].rowId, failed.rowId);
        QCOMPARE(rows[0].outcome, QStringLiteral("failed"));
        QVERIFY(rows[0].error.contains(QLatin1String("during Program Config")));
        QCOMPARE(rows[1].outcome, QStringLiteral("ok"));
        QCOMPARE(rows[1].redoOf, failed.rowId);
        QCOMPARE(station_->Sums().failed, 1);
        QCOMPARE(station_->Sums().passed, 1);
    }

    // Plugged again after it passed: recognised, not written to again.
    void passedModuleIsNotWrittenAgain()
    {
        const QString socket = QStringLiteral("usb-Tarnwick_B-if00");
        StartStation(QStringLiteral("0100"));
        TVirtualModule& m = Plug(0, socket);
        auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        QVERIFY2(results[0].ok, qPrintable(results[0].error));
        const TMemoryBytes programmed = ConfigOf(m);

        m.Stop();
        QVERIFY(events_.WaitFor(TStationEvent::Unplugged, 1));
        m.ClearReceived();
        Plug(0, socket);
        results = events_.Results(2);
        QCOMPARE(int(results.size()), 2);
        const TStationModuleResult& again = results[1];
        QVERIFY2(again.ok, qPrintable(again.error));
        QVERIFY(again.alreadyProgrammed);
        QCOMPARE(again.unitAddress, QStringLiteral("0100"));
        QVERIFY(!HasWrite(m.Received()));
        QVERIFY(ConfigOf(m) == programmed);
    }

    // A fixed adapter: the module is there while it answers the check. A
    // module that stops answering is taken out; the next one is programmed.
    void fixedPortTakesModulesInTurn()
    {
        TVirtualModule m;
        QVERIFY(m.Start());
        StartStation(QStringLiteral("0200"), {QString::fromStdString(m.PortPath())});
        auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        QVERIFY2(results[0].ok, qPrintable(results[0].error));
        QCOMPARE(results[0].unitAddress, QStringLiteral("0200"));
        QVERIFY(results[0].byId.isEmpty());

        TVirtualModuleFaults gone;
        gone.silent = true;
        m.SetFaults(gone);
        QVERIFY(events_.WaitFor(TStationEvent::Unplugged, 1));
        // Another module on the adapter: a fresh memory.
        std::array<uint8_t, 256> erased;
        erased.fill(0xFF);
        m.SetMemory(erased);
        m.SetFaults({});
        results = events_.Results(2);
        QCOMPARE(int(results.size()), 2);
        QVERIFY2(results[1].ok, qPrintable(results[1].error));
        QCOMPARE(results[1].unitAddress, QStringLiteral("0201"));
        QCOMPARE(int(station_->Sockets().size()), 1);
    }
    // A passed module's verdict follows what became of its row: kept in the
    // spool it passes and is counted as waiting; kept nowhere it fails at
    // the Record step, with no row id and no label.
    void rowKeptNowhereFailsTheModule()
    {
        TScriptedRecord record;
        std::mutex m;
        QStringList labelled;
        StartStation(QStringLiteral("0100"), {}, &record, [&](const TStationLabelRequest& q) {
            std::lock_guard<std::mutex> lock(m);
            labelled << q.byId;
            return TStationLabelOutcome{true, QString(), QString()};
        });
        struct Case {
            const char* name;
            bool ok, waits, row;
        };
        const Case cases[] = {{"usb-stored-if00", true, false, true},
                              {"usb-spooled-if00", true, true, true},
                              {"usb-lost-if00", false, false, false}};
        for (size_t i = 0; i < std::size(cases); ++i) Plug(i, QLatin1String(cases[i].name));
        const auto results = events_.Results(std::size(cases));
        QCOMPARE(results.size(), std::size(cases));
        for (const Case& c : cases) {
            const auto r = std::find_if(results.begin(), results.end(), [&](const TStationModuleResult& x) {
                return x.byId.endsWith(QLatin1String(c.name));
            });
            QVERIFY(r != results.end());
            QVERIFY2(r->ok == c.ok, qPrintable(QStringLiteral("%1: %2").arg(c.name, r->error)));
            QCOMPARE(r->rowWaits, c.waits);
            QCOMPARE(!r->rowId.isEmpty(), c.row);
            QCOMPARE(labelled.contains(r->byId), c.ok);
            if (!c.ok) {
                QVERIFY(r->failedStep == TStationStep::Record);
                QVERIFY2(r->error.contains(QLatin1String("not recorded")), qPrintable(r->error));
            }
        }
        QCOMPARE(station_->Sums().passed, 2);
        QCOMPARE(station_->Sums().failed, 1);
        QCOMPARE(station_->Sums().notRecorded, 1);
    }

    // A module ended before its end: stopped by the station (the second
    // Ctrl-C) it is not judged, its row says "stopped" and the sums count it
    // apart; its entry replaced within one look (pulled, and another device
    // under the same name) it failed as pulled.
    void endedMidwayIsToldAsWhatEndedIt_data()
    {
        QTest::addColumn<bool>("pull");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("error");
        QTest::newRow("stopped") << false << QStringLiteral("stopped") << QStringLiteral("stopped during Program Config");
        QTest::newRow("pulled") << true << QStringLiteral("failed") << QStringLiteral("pulled during Program Config");
    }
    void endedMidwayIsToldAsWhatEndedIt()
    {
        QFETCH(bool, pull);
        QFETCH(QString, outcome);
        QFETCH(QString, error);
        const QString socket = QStringLiteral("usb-Tarnwick_C-if00");
        const QString link = watched_ + QLatin1Char('/') + socket;
        StartStation(QStringLiteral("0100"));
        // Another module, not in the folder yet.
        while (modules_.size() < 2) modules_.push_back(std::make_unique<TVirtualModule>());
        TVirtualModule& other = *modules_[1];
        QVERIFY(other.Start());
        const QString otherDevice = QString::fromStdString(other.SlavePath());
        auto armed = std::make_shared<std::atomic<bool>>(true);
        TStation* station = station_.get();
        events_.onEvent = [=](const TStationEvent& e) {
            if (e.kind != TStationEvent::Step || e.step != TStationStep::ProgramConfig || !armed->exchange(false)) return;
            if (!pull) {
                station->StopNow();
                return;
            }
            // Out and another device in at once: one look sees both.
            QFile::remove(link);
            QFile::link(otherDevice, link);
        };
        Plug(0, socket);
        const auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        const TStationModuleResult& r = results[0];
        QVERIFY(!r.ok);
        QVERIFY2(r.error.startsWith(error), qPrintable(r.error));
        QCOMPARE(r.stopped, !pull);
        const TRecordEntries rows = Rows();
        QVERIFY(!rows.empty());
        QCOMPARE(rows[0].rowId, r.rowId);
        QCOMPARE(rows[0].outcome, outcome);
        QCOMPARE(station_->Sums().stopped, pull ? 0 : 1);
        QCOMPARE(station_->Sums().failed, pull ? 1 : 0);
    }

    // The record's answer as the station takes it: a row the file cannot
    // take waits in the spool; one the spool cannot keep either is lost,
    // and its address does not count as given.
    void productionRecordTellsWhereTheRowWent()
    {
        struct Case {
            const char* name;
            bool damaged, spoolBlocked;
            TStationRecord::TStored::Kind kind;
        };
        const Case cases[] = {{"stored", false, false, TStationRecord::TStored::Stored},
                              {"spooled", true, false, TStationRecord::TStored::Spooled},
                              {"lost", true, true, TStationRecord::TStored::Lost}};
        for (const Case& c : cases) {
            const QString path = dir_.filePath(QStringLiteral("where-%1.sqlite").arg(QLatin1String(c.name)));
            if (c.damaged) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(QByteArray(4096, 'x'));
            }
            if (c.spoolBlocked) QVERIFY(QDir().mkpath(path + QStringLiteral(".spool")));
            TProductionStationRecord record(path, {});
            TRecordEntry row = NewRecordEntry(QStringLiteral("test"), QStringLiteral("program-config"));
            row.outcome = QStringLiteral("ok");
            row.unitAddress = QStringLiteral("0A07");
            const TStationRecord::TStored stored = record.Store(row);
            QVERIFY2(stored.kind == c.kind, c.name);
            QCOMPARE(stored.notice.isEmpty(), c.kind == TStationRecord::TStored::Stored);
            QCOMPARE(record.Given(row.unitAddress), c.kind != TStationRecord::TStored::Lost);
        }
    }
    // A module plugged into the socket of a failed try is its redo only when
    // it is that module: another adapter serial number under the same name
    // (a folder of by-path links, a socket per USB port) gets an address of
    // its own, and the failed one's stays with it.
    void anotherModuleInAFailedSocketIsNoRedo()
    {
        QTemporaryDir sys;
        SetDefaultPortRoots({sys.path(), QStringLiteral("/dev")});
        const QString link = watched_ + QStringLiteral("/pci-0000:00:14.0-usb-0:1:1.0-port0");
        StartStation(QStringLiteral("0100"));
        const char* serials[] = {"A50285BI", "B71199QX"};
        for (size_t i = 0; i < 2; ++i) {
            modules_.push_back(std::make_unique<TVirtualModule>());
            QVERIFY(modules_[i]->Start());
            // The adapter in sysfs, as a USB serial adapter shows it.
            const QString device = sys.filePath(QStringLiteral("class/tty/%1/device")
                                                    .arg(QFileInfo(QString::fromStdString(modules_[i]->SlavePath())).fileName()));
            QVERIFY(QDir().mkpath(device));
            for (const auto& [file, text] : {std::pair{"idVendor", "0403"}, std::pair{"serial", serials[i]}}) {
                QFile f(device + QLatin1Char('/') + QLatin1String(file));
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(text);
            }
        }
        TVirtualModuleFaults bad;
        bad.corruptWriteAddress = 0x90;
        modules_[0]->SetFaults(bad);
        QVERIFY(QFile::link(QString::fromStdString(modules_[0]->SlavePath()), link));
        auto results = events_.Results(1);
        QCOMPARE(int(results.size()), 1);
        QVERIFY(!results[0].ok);
        QCOMPARE(results[0].unitAddress, QStringLiteral("0100"));

        QVERIFY(QFile::remove(link));
        QVERIFY(events_.WaitFor(TStationEvent::Unplugged, 1));
        QVERIFY(QFile::link(QString::fromStdString(modules_[1]->SlavePath()), link));
        results = events_.Results(2);
        QCOMPARE(int(results.size()), 2);
        QVERIFY2(results[1].ok, qPrintable(results[1].error));
        QCOMPARE(results[1].unitAddress, QStringLiteral("0101"));
        QVERIFY(results[1].redoOf.isEmpty());
        const TRecordEntries rows = Rows();
        QCOMPARE(int(rows.size()), 2);
        QCOMPARE(rows[0].usbSerial, QLatin1String(serials[0]));
        QCOMPARE(rows[1].usbSerial, QLatin1String(serials[1]));
    }
    // The window's texts tell a row that waits in the spool or was not
    // recorded, as the tool's lines do, and a module stopped as not judged.
    void windowTextsTellTheRecord()
    {
        TSocketView view;
        view.name = QStringLiteral("usb-A");
        view.state = TSocketState::Passed;
        view.last.ok = true;
        view.last.unitAddress = QStringLiteral("0101");
        view.last.rowWaits = true;
        view.last.recordNotice = QStringLiteral("the record r.sqlite could not be written (disk full)");
        QVERIFY2(SocketTileText(view).detail.contains(QLatin1String("spool")), qPrintable(SocketTileText(view).detail));
        const QString line = StationResultLine(view.name, view.last, QDateTime::currentDateTime());
        QVERIFY2(line.contains(view.last.recordNotice), qPrintable(line));
        view.state = TSocketState::Failed;
        view.last.ok = false;
        view.last.stopped = true;
        view.last.error = QStringLiteral("stopped during Verify: plug it again");
        QCOMPARE(SocketTileText(view).headline, QStringLiteral("STOPPED"));
        QVERIFY(StationResultLine(view.name, view.last, QDateTime::currentDateTime()).contains(QLatin1String("STOPPED: ")));
    }
};

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
