#include "platform/secret/KeychainStore.h"

#include <QElapsedTimer>
#include <QTest>

using namespace quillpost;

// Run with a session bus address where nothing listens: the store must give up at once, so
// the program starts at sign-in instead of freezing.
class KeychainWithoutServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void failsFast()
    {
        QElapsedTimer timer;
        timer.start();
        KeychainStore store;
        store.save(QStringLiteral("t"));
        QCOMPARE(store.read(), std::nullopt);
        store.remove();
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(KeychainWithoutServiceTest)
#include "tst_keychain_nobus.moc"
