// Generated keys: their form, that they come from the random source, and
// the Config Memory page's Generate Key button and example-key notice.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "common/ui/port_controls.h"
#include "settings/ui/config_page.h"
#include "settings/key_generator.h"
#include "support/scripted_dialogs.h"

class TestKeyGenerator : public QObject {
    Q_OBJECT

private slots:
    void keysAreThirtyTwoUpperCaseHexDigitsAndDiffer()
    {
        const QRegularExpression form(QStringLiteral("^[0-9A-F]{32}$"));
        QSet<QString> seen;
        for (int i = 0; i < 50; ++i) {
            const QString key = GenerateKey();
            QVERIFY2(form.match(key).hasMatch(), qPrintable(key));
            seen.insert(key);
        }
        QCOMPARE(seen.size(), 50);
        QVERIFY(!IsExampleKey(GenerateKey()));
        QVERIFY(IsExampleKey(QStringLiteral("1f2e3d4c5b6a79880f1e2d3c4b5a6978")));
    }

    void theRandomSourceIsTheOneUsed()
    {
        int calls = 0;
        const TRandomSource old = SetRandomSource([&calls](uint8_t* b, size_t n) {
            ++calls;
            for (size_t i = 0; i < n; ++i) b[i] = uint8_t(0xA0 + i);
            return true;
        });
        QCOMPARE(GenerateKey(), QStringLiteral("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF"));
        QCOMPARE(calls, 1);
        // A failing source gives no key rather than a weak one.
        SetRandomSource([](uint8_t*, size_t) { return false; });
        QVERIFY(GenerateKey().isEmpty());
        SetRandomSource(old);
        QCOMPARE(GenerateKey().size(), 32);

        uint8_t a[64] = {}, b[64] = {};
        QVERIFY(OsRandomBytes(a, sizeof a));
        QVERIFY(OsRandomBytes(b, sizeof b));
        QVERIFY(memcmp(a, b, sizeof a) != 0);
    }

    void pageButtonAndExampleNotice()
    {
        TScriptedDialogs dialogs;
        SetDialogs(&dialogs);
        TPortControls controls;
        TConfigPage page(controls);
        page.show();
        QVERIFY(!page.ExampleKeyNotice->isHidden());
        QVERIFY(page.ExampleKeyNotice->text().contains(QStringLiteral("Example key")));

        int calls = 0;
        const TRandomSource old = SetRandomSource([&calls](uint8_t* b, size_t n) {
            ++calls;
            return OsRandomBytes(b, n);
        });
        QTest::mouseClick(page.GenerateKeyButton, Qt::LeftButton);
        SetRandomSource(old);
        QCOMPARE(calls, 1);
        const QString key = page.KeyEdit->text();
        QCOMPARE(key.size(), 32);
        QVERIFY(!IsExampleKey(key));
        QCOMPARE(page.Values().key, key);
        QVERIFY(page.ExampleKeyNotice->isHidden());

        // Back to the example key (typed or loaded): the notice returns.
        TConfigValues v = page.Values();
        v.key = ExampleKey();
        page.SetValues(v);
        QVERIFY(!page.ExampleKeyNotice->isHidden());
        page.KeyEdit->setText(QStringLiteral("00112233445566778899AABBCCDDEEFF"));
        QVERIFY(page.ExampleKeyNotice->isHidden());
        SetDialogs(nullptr);
    }
};

QTEST_MAIN(TestKeyGenerator)
#include "test_key_generator.moc"
