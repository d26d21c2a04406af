#include "analysis/ZTOptionTable.h"

#include <QtTest>

using Keywords = QList<QPair<QString, QStringList>>;
Q_DECLARE_METATYPE(Keywords)

// Options given by name, as the Python module gives its keyword arguments: no command line.
class tst_ZTOptionTable : public QObject
{
    Q_OBJECT

private slots:
    void settingsFromKeywords_data();
    void settingsFromKeywords();
    void valuesReachTheSettings();
};

void tst_ZTOptionTable::settingsFromKeywords_data()
{
    QTest::addColumn<Keywords>("keywords");
    QTest::addColumn<QString>("error"); ///< empty: accepted
    QTest::addColumn<bool>("unknown");
    QTest::addColumn<int>("crops");

    const auto one = [](const char* name, const char* value) {
        return QPair<QString, QStringList>(name, {value});
    };
    QTest::newRow("nothing: the default crops") << Keywords() << "" << false << 3;
    QTest::newRow("every value of a repeatable option")
        << Keywords {{"crop", {"1:1", "16:9"}}} << "" << false << 2;
    QTest::newRow("no crops") << Keywords {one("no-crops", "")} << "" << false << 0;
    QTest::newRow("an unknown name") << Keywords {one("colour", "")} << "colour" << true << 0;
    QTest::newRow("unknown after a malformed value")
        << Keywords {one("grid", "0x1"), one("colour", "")} << "colour" << true << 0;
    QTest::newRow("a value for a flag")
        << Keywords {one("no-map", "yes")} << "--no-map takes no value, not 'yes'" << false << 0;
    QTest::newRow("an option that would do nothing")
        << Keywords {one("quality", "90")}
        << "--quality applies to written crops: add --write-crops" << false << 0;
}

void tst_ZTOptionTable::settingsFromKeywords()
{
    QFETCH(Keywords, keywords);
    QFETCH(QString, error);
    QFETCH(bool, unknown);
    QFETCH(int, crops);
    ZTAnalysisSettings settings;
    QString actualError;
    bool actualUnknown = true;
    const bool accepted
        = ZTOptionTable::settingsFromKeywords(keywords, &settings, &actualError, &actualUnknown);
    QCOMPARE(accepted, error.isEmpty());
    QCOMPARE(actualUnknown, unknown);
    if (accepted) {
        QCOMPARE(settings.crops.size(), crops);
    } else {
        QVERIFY2(actualError.startsWith(error), qPrintable(actualError));
    }
}

void tst_ZTOptionTable::valuesReachTheSettings()
{
    ZTAnalysisSettings settings;
    QString error;
    bool unknown = false;
    QVERIFY(ZTOptionTable::settingsFromKeywords(
        {{"size", {"64x48"}}, {"grid", {"3x2"}}, {"area", {"0,1,2,3"}}, {"memory", {"2"}},
            {"out", {"there"}}, {"no-map", {""}}},
        &settings, &error, &unknown));
    QCOMPARE(settings.analysisSize, QSize(64, 48));
    QCOMPARE(settings.grid, QSize(3, 2));
    QCOMPARE(settings.areas, QList<QRect> {QRect(0, 1, 2, 3)});
    QCOMPARE(settings.memoryBudget, qint64(2) << 20);
    QCOMPARE(settings.outputDir, QStringLiteral("there"));
    QVERIFY(!settings.writeSalienceMap);
}

QTEST_GUILESS_MAIN(tst_ZTOptionTable)
#include "tst_ZTOptionTable.moc"
