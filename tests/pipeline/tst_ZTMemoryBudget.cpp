// The memory budget that the pictures of a run share.

#include "input/ZTMemoryBudget.h"

#include <QtTest>

#include <atomic>
#include <thread>

class tst_ZTMemoryBudget : public QObject
{
    Q_OBJECT

private slots:
    void reserve_data();
    void reserve();
    void reservationsWaitInOrder();
};

void tst_ZTMemoryBudget::reserve_data()
{
    QTest::addColumn<qint64>("held"); // reserved before
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("fits");     // at once, by tryReserve()
    QTest::addColumn<bool>("possible"); // by reserve(), once the rest is given back

    QTest::newRow("the whole budget fits") << qint64(0) << qint64(100) << true << true;
    QTest::newRow("one byte more never fits") << qint64(0) << qint64(101) << false << false;
    QTest::newRow("the rest fits exactly") << qint64(60) << qint64(40) << true << true;
    QTest::newRow("one byte more than the rest waits") << qint64(60) << qint64(41) << false << true;
}

void tst_ZTMemoryBudget::reserve()
{
    QFETCH(qint64, held);
    QFETCH(qint64, bytes);
    QFETCH(bool, fits);
    QFETCH(bool, possible);

    ZTMemoryBudget budget(100);
    QVERIFY(budget.tryReserve(held));
    QCOMPARE(budget.tryReserve(bytes), fits);
    budget.release(held + (fits ? bytes : 0));
    QCOMPARE(budget.reserve(bytes), possible);
}

// A reservation that does not fit waits until enough is released, and reservations asked for
// later wait behind it even when they would fit: small pictures never starve a large one.
void tst_ZTMemoryBudget::reservationsWaitInOrder()
{
    ZTMemoryBudget budget(100);
    QVERIFY(budget.reserve(60));
    std::atomic<int> granted {0};
    std::thread large([&] {
        budget.reserve(50);
        granted += 1;
    });
    QTest::qWait(50); // the large one is waiting before the small one asks
    std::thread small([&] {
        budget.reserve(10);
        granted += 10;
    });
    QTest::qWait(50);
    QCOMPARE(granted.load(), 0);
    QVERIFY(!budget.tryReserve(10));
    budget.release(60);
    large.join();
    small.join();
    QCOMPARE(granted.load(), 11);
}

QTEST_GUILESS_MAIN(tst_ZTMemoryBudget)
#include "tst_ZTMemoryBudget.moc"
