// Output names of a batch: unique in input order, the same as the plain search for the first free
// number always gave, at linear cost for any list.

#include "ZTBatchRunner.h"
#include "text/ZTUniqueNames.h"

#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

namespace {

// The plain search: for each base, try BASE, BASE-2, BASE-3, ... until one is free.
QStringList plainUniqueNames(const QStringList& bases)
{
    QStringList names;
    QSet<QString> used;
    for (const QString& base : bases) {
        QString name = base;
        for (int n = 2; used.contains(name); ++n) {
            name = base + '-' + QString::number(n);
        }
        used.insert(name);
        names.append(name);
    }
    return names;
}

QStringList uniqueNames(const QStringList& bases)
{
    ZTUniqueNames unique;
    QStringList names;
    for (const QString& base : bases) {
        names.append(unique.take(base));
    }
    return names;
}

} // namespace

class tst_ZTUniqueNames : public QObject
{
    Q_OBJECT

private slots:
    void sameAsThePlainSearch_data();
    void sameAsThePlainSearch();
    void sameAsThePlainSearchOnRandomLists();
    void outputNamesOfInputs_data();
    void outputNamesOfInputs();
    void manyInputsOfOneName();
};

void tst_ZTUniqueNames::sameAsThePlainSearch_data()
{
    QTest::addColumn<QStringList>("bases");
    QTest::addColumn<QStringList>("names");

    const auto row = [](const char* name, const QStringList& bases, const QStringList& names) {
        QTest::newRow(name) << bases << names;
    };
    row("distinct names stay", {"a", "b", "c"}, {"a", "b", "c"});
    row("repeats numbered from 2", {"p", "p", "p"}, {"p", "p-2", "p-3"});
    row("a name like a numbered one, given first", {"p-2", "p", "p"}, {"p-2", "p", "p-3"});
    row("a name like a numbered one, given after it was made", {"p", "p", "p-2"},
        {"p", "p-2", "p-2-2"});
    row("a gap in the taken numbers", {"p-3", "p", "p", "p", "p"},
        {"p-3", "p", "p-2", "p-4", "p-5"});
    row("numbered names of numbered names", {"p-2", "p-2", "p", "p", "p-2"},
        {"p-2", "p-2-2", "p", "p-3", "p-2-3"});
    row("percent signs", {"p%1", "p%1", "%1-%2", "%1-%2"}, {"p%1", "p%1-2", "%1-%2", "%1-%2-2"});
    row("case matters", {"P", "p", "p"}, {"P", "p", "p-2"});
}

void tst_ZTUniqueNames::sameAsThePlainSearch()
{
    QFETCH(QStringList, bases);
    QFETCH(QStringList, names);

    QCOMPARE(plainUniqueNames(bases), names);
    QCOMPARE(uniqueNames(bases), names);
}

// Lists drawn from a few bases and their numbered forms, where the two searches could part.
void tst_ZTUniqueNames::sameAsThePlainSearchOnRandomLists()
{
    QRandomGenerator random(24);
    const QStringList alphabet {"p", "p-2", "p-3", "p-2-2", "p-10", "q", "q-2", "p-1", "p-02"};
    for (int list = 0; list < 500; ++list) {
        QStringList bases;
        const int length = random.bounded(1, 40);
        for (int i = 0; i < length; ++i) {
            bases.append(alphabet.at(random.bounded(alphabet.size())));
        }
        QCOMPARE(uniqueNames(bases), plainUniqueNames(bases));
    }
}

void tst_ZTUniqueNames::outputNamesOfInputs_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("names");

    const auto row = [](const char* name, const QStringList& inputs, const QStringList& names) {
        QTest::newRow(name) << inputs << names;
    };
    row("camera names across folders", {"a/IMG_1.jpg", "b/IMG_1.jpg", "c/IMG_1.JPG"},
        {"IMG_1", "IMG_1-2", "IMG_1-3"});
    row("only the last suffix goes", {"a/p.tar.png", "p.tar"}, {"p.tar", "p"});
    row("no name left: picture", {".png", "a/.jpg", "picture.png"},
        {"picture", "picture-2", "picture-3"});
    row("percent signs", {"a/p%1.png", "b/p%1.png", "%L1 %2 %%.jpg"},
        {"p%1", "p%1-2", "%L1 %2 %%"});
}

void tst_ZTUniqueNames::outputNamesOfInputs()
{
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, names);

    QCOMPARE(ZTBatchRunner::outputNames(inputs), names);
}

// Regression: 40,000 inputs of one base name took 85 s to name, a search from 2 for each.
void tst_ZTUniqueNames::manyInputsOfOneName()
{
    constexpr int count = 40000;
    QStringList inputs;
    for (int i = 0; i < count; ++i) {
        inputs.append(QStringLiteral("folder%1/IMG_0001.JPG").arg(i));
    }
    QElapsedTimer timer;
    timer.start();
    const QStringList names = ZTBatchRunner::outputNames(inputs);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(names.first(), QStringLiteral("IMG_0001"));
    QCOMPARE(names.last(), QStringLiteral("IMG_0001-40000"));
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), count);
}

QTEST_GUILESS_MAIN(tst_ZTUniqueNames)
#include "tst_ZTUniqueNames.moc"
