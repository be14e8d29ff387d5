// The Program Pair dialog against two virtual modules: a fresh key
// proposed, one summary after the run, a silent module named as the one to
// redo, and the profile saved only after the warning about the key.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "commands/program_pair_dialog.h"
#include "common/dialogs.h"
#include "settings/config_profile.h"
#include "settings/key_generator.h"
#include "support/scripted_dialogs.h"
#include "tools/vmodule/virtual_module.h"

class TestProgramPairDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<TVirtualModule> a_, b_;
    TScriptedDialogs* dialogs_ = nullptr;

private slots:
    void init()
    {
        dialogs_ = new TScriptedDialogs;
        SetDialogs(dialogs_);
        a_ = std::make_unique<TVirtualModule>();
        b_ = std::make_unique<TVirtualModule>();
        std::string error;
        QVERIFY2(a_->Start(&error), error.c_str());
        QVERIFY2(b_->Start(&error), error.c_str());
    }
    void cleanup()
    {
        a_.reset();
        b_.reset();
        SetDialogs(nullptr);
        delete dialogs_;
    }

    void runShowsOneSummaryAndSavesWithWarning()
    {
        TConfigValues v;
        v.channel = 9;
        TProgramPairDialog d(v);
        d.show();
        const QString key = d.PairKeyEdit->text();
        QCOMPARE(key.size(), 32);
        QVERIFY(!IsExampleKey(key));

        TVirtualModuleFaults f;
        f.silent = true;
        b_->SetFaults(f);
        d.PortA->setEditText(QString::fromStdString(a_->PortPath()));
        d.PortB->setEditText(QString::fromStdString(b_->PortPath()));
        QTest::mouseClick(d.RunPairButton, Qt::LeftButton);
        QVERIFY(d.Running());
        QTRY_VERIFY_WITH_TIMEOUT(!d.PairSummaryText->toPlainText().isEmpty(), 60000);
        const QString summary = d.PairSummaryText->toPlainText();
        QVERIFY2(summary.contains(QStringLiteral("Point A on %1: ok").arg(QString::fromStdString(a_->PortPath()))), qPrintable(summary));
        QVERIFY(summary.contains(QStringLiteral("C2.10")));
        QVERIFY(summary.contains(QStringLiteral("Point B on %1: FAILED").arg(QString::fromStdString(b_->PortPath()))));
        QVERIFY(summary.contains(QStringLiteral("Redo this module")));
        QVERIFY(summary.contains(KeyHint(key)));
        QVERIFY(!summary.contains(key));
        QVERIFY(PairImages([&] { TConfigValues w = v; w.key = key; return w; }())[0] ==
                [&] { TMemoryBytes m; const auto mem = a_->Memory(); std::copy(mem.begin() + 128, mem.end(), m.begin()); return m; }());

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pair.json"));
        // Cancelled at the warning: no file.
        dialogs_->saveNames.push_back(path);
        dialogs_->answers.push_back(mb::IdCancel);
        QTest::mouseClick(d.SavePairProfileButton, Qt::LeftButton);
        QVERIFY(!QFile::exists(path));
        QVERIFY(dialogs_->messages.back().text.contains(QStringLiteral("holds the pair's encryption key")));
        dialogs_->saveNames.push_back(path);
        dialogs_->answers.push_back(mb::IdOk);
        QTest::mouseClick(d.SavePairProfileButton, Qt::LeftButton);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const TConfigProfileRead read = ReadConfigProfile(file.readAll());
        QVERIFY(read.check.ok);
        QCOMPARE(read.values.key, key);
        QCOMPARE(read.values.channel, 9);
    }

    void samePortTwiceIsRefused()
    {
        TProgramPairDialog d{TConfigValues{}};
        d.PortA->setEditText(QString::fromStdString(a_->PortPath()));
        d.PortB->setEditText(QString::fromStdString(a_->PortPath()));
        QTest::mouseClick(d.RunPairButton, Qt::LeftButton);
        QVERIFY(!d.Running());
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(a_->ReceivedCount(), 0L);
    }
};

QTEST_MAIN(TestProgramPairDialog)
#include "test_program_pair_dialog.moc"
