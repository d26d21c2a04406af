// The memory budget that the pictures of a run share.

#include "input/ZTMemoryBudget.h"

#include <QtTest>

#include <atomic>
#include <thread>

class tst_ZTMemoryBudget : public QObject
{
    Q_OBJECT

private slots:
    void reservationsWaitInOrder();
};

// A reservation fits up to the whole budget, and one larger is refused at once. One that does not
// fit beside the others waits until enough is released, and reservations asked for later wait
// behind it even when they would fit: small pictures never starve a large one.
void tst_ZTMemoryBudget::reservationsWaitInOrder()
{
    ZTMemoryBudget budget(100);
    QVERIFY(!budget.reserve(101));
    QVERIFY(budget.reserve(100));
    budget.release(40);
    QVERIFY(!budget.tryReserve(41));
    QVERIFY(budget.tryReserve(40));
    budget.release(40);
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
