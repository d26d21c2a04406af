// The review page in a real browser, headless Chromium: the document after the page's script
// ran, a screenshot that shows the pictures and the marks, and the keys, sorting and filtering,
// driven through the DevTools protocol by review_page_keys.py. Skipped without Chromium or
// Python.

#include "report/ZTReviewPage.h"

#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QtTest>

#include <iterator>

class tst_ZTReviewPageBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void document();
    void screenshot();
    void keys_data();
    void keys();

private:
    QByteArray runChromium(const QStringList& arguments);
    bool driveAllRows(const QString& python);

    QTemporaryDir m_dir;
    QString m_chromium;
    QString m_url;
    QStringList m_keysShown; ///< what the page showed after each row's steps
    QString m_keysError;
    bool m_keysDriven = false;
};

namespace {

// A picture with smooth colour all over, so that every crop's preview shows something.
QImage gradient(const QSize& size)
{
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            line[x] = qRgb(x * 255 / size.width(), y * 255 / size.height(), 160);
        }
    }
    return picture;
}

ZTCrop crop(const char* text, const QRect& rect, double kept, double scale = 1.0,
    const QStringList& warnings = QStringList())
{
    ZTCrop result;
    result.request.text = QString::fromLatin1(text);
    result.rect = rect;
    result.salienceKept = kept;
    result.centred = false;
    result.scale = scale;
    result.warnings = warnings;
    return result;
}

ZTPictureReport picture(const QString& name, const QList<ZTCrop>& crops)
{
    ZTPictureReport report;
    report.input = name;
    report.inputSize = QSize(400, 300);
    report.analysisSize = QSize(48, 36);
    report.focus = QPoint(200, 120);
    report.crops = crops;
    QImage map(48, 36, QImage::Format_Grayscale8);
    map.fill(0);
    map.setPixel(24, 14, qRgb(255, 255, 255));
    ZTReviewPage::makePreviews(gradient(report.inputSize), map, &report);
    return report;
}

} // namespace

// Five pictures: 1 without warnings, 2 with a face cut and an enlarged crop, 3 failed, 4 with a
// crop that keeps little, 5 with an enlarged crop only.
void tst_ZTReviewPageBrowser::initTestCase()
{
    m_chromium = QStandardPaths::findExecutable("chromium");
    if (m_chromium.isEmpty()) {
        QSKIP("chromium is not installed (scripts/install-deps --tests installs it)");
    }
    const QRect square(50, 0, 300, 300);
    const QRect wide(0, 37, 400, 225);
    ZTPictureReport faces = picture("tea & <cake> %1.jpg",
        {crop("1:1", square, 0.7, 2.5), crop("16:9", wide, 0.4, 1.0, {"cuts-face"})});
    faces.faces = {QRect(170, 20, 60, 70)};
    faces.facesFound = 1;
    faces.faceDetector = "blazeface";
    ZTPictureReport failed;
    failed.input = "broken\".png";
    failed.error = "not a picture <b>";
    const QList<ZTPictureReport> reports {picture("calm.jpg", {crop("1:1", square, 0.8)}), faces,
        failed, picture("zebra.jpg", {crop("16:9", wide, 0.2, 0.5, {"keeps-little"})}),
        picture("apple.jpg", {crop("1:1", square, 0.6, 1.5)})};

    ZTReviewPage page(m_dir.filePath("page.html"), reports.size());
    page.setDeclaredAreas({QRect(20, 200, 100, 80)});
    QString error;
    QVERIFY(page.open(&error));
    for (const ZTPictureReport& report : reports) {
        page.add(report);
    }
    QVERIFY(page.commit(&error));
    m_url = QUrl::fromLocalFile(m_dir.filePath("page.html")).toString();
}

QByteArray tst_ZTReviewPageBrowser::runChromium(const QStringList& arguments)
{
    const QStringList options {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--force-color-profile=srgb", "--hide-scrollbars", "--window-size=1200,900",
        "--user-data-dir=" + m_dir.filePath("profile")};
    QProcess browser;
    browser.start(m_chromium, options + arguments + QStringList {m_url});
    if (!browser.waitForFinished(120000) || browser.exitCode() != 0) {
        return QByteArray();
    }
    return browser.readAllStandardOutput();
}

// The script ran under the page's policy: it showed the tools and offered each warning found.
void tst_ZTReviewPageBrowser::document()
{
    const QByteArray dom = runChromium({"--dump-dom"});
    QVERIFY(!dom.isEmpty());
    for (const char* text : {"<div id=\"tools\">", "<span id=\"shown\">5 of 5 shown</span>",
             "<option value=\"warning:cuts-face\">with the warning cuts-face</option>",
             "<option value=\"warning:enlarged\">with the warning enlarged</option>",
             "<option value=\"warning:keeps-little\">with the warning keeps-little</option>",
             "tea &amp; &lt;cake&gt; %1.jpg</a></h2>", "not a picture &lt;b&gt;"}) {
        QVERIFY2(dom.contains(text), text);
    }
    QCOMPARE(dom.count("<use href=\"#photo-"), 5);
}

// Pictures and marks are drawn: many colours, and the marks' own colours among them.
void tst_ZTReviewPageBrowser::screenshot()
{
    const QString shot = m_dir.filePath("shot.png");
    runChromium({"--screenshot=" + shot});
    const QImage screen(shot);
    QCOMPARE(screen.size(), QSize(1200, 900));
    QSet<QRgb> colours;
    for (int y = 0; y < screen.height(); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            colours.insert(screen.pixel(x, y) & 0xffffff);
        }
    }
    QVERIFY2(colours.size() > 2000, qPrintable(QString::number(colours.size())));
    QVERIFY2(colours.contains(0xff9100), "no enlarged mark or face outline");
    QVERIFY2(colours.contains(0xff5252), "no warning");
}

// Each row loads the page afresh, applies its steps (keys pressed, menus chosen) and reads what
// the page then shows: the picture selected, its heat map, the pictures shown in their order,
// and whether the selection is in view and focused.
struct KeysRow
{
    const char* name;
    const char* steps;
    const char* shown;
};

const KeysRow keysRows[] = {
    {"j selects the first picture", "key:j", "picture-1 heat:closed shown:5 of 5 shown"},
    {"k first selects the last", "key:k", "picture-5 heat:closed shown:5 of 5 shown"},
    {"k goes back", "key:j key:j key:j key:k", "picture-2 heat:closed shown:5 of 5 shown"},
    {"j stops at the last", "key:k key:j key:j", "picture-5 heat:closed shown:5 of 5 shown"},
    {"h opens the heat map", "key:j key:h", "picture-1 heat:open shown:5 of 5 shown"},
    {"h again closes it", "key:j key:h key:h", "picture-1 heat:closed shown:5 of 5 shown"},
    {"other keys do nothing", "key:x key:h", "none heat:closed shown:5 of 5 shown"},
    {"j skips what the filter hides", "select:filter=warned key:j key:j",
        "picture-4 heat:closed shown:3 of 5 shown order:2,4,5"},
    {"one warning", "select:filter=warning:cuts-face key:j",
        "picture-2 heat:closed shown:1 of 5 shown order:2"},
    {"enlarged, a mark and a filter", "select:filter=warning:enlarged",
        "none heat:closed shown:2 of 5 shown order:2,5"},
    {"a hidden selection is dropped", "key:j select:filter=failed",
        "none heat:closed shown:1 of 5 shown order:3"},
    {"failed, then most warnings first", "select:order=warnings key:j key:j",
        "picture-2 heat:closed shown:5 of 5 shown order:3,2,4,5,1"},
    {"least salience kept first", "select:order=kept",
        "none heat:closed shown:5 of 5 shown order:3,4,2,5,1"},
    {"by name", "select:order=name", "none heat:closed shown:5 of 5 shown order:5,3,1,2,4"},
};

void tst_ZTReviewPageBrowser::keys_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("shown");

    for (int row = 0; row < int(std::size(keysRows)); ++row) {
        QString shown = QString::fromLatin1(keysRows[row].shown);
        if (!shown.contains(" order:")) {
            shown += " order:1,2,3,4,5";
        }
        QTest::newRow(keysRows[row].name) << row << shown + " view:in";
    }
}

void tst_ZTReviewPageBrowser::keys()
{
    QFETCH(int, row);
    QFETCH(QString, shown);

    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty()) {
        QSKIP("python3 is not installed");
    }
    if (!m_keysDriven) {
        m_keysDriven = true;
        QVERIFY2(driveAllRows(python), qPrintable(m_keysError));
    }
    QCOMPARE(m_keysShown.value(row), shown);
}

// One browser for all rows, a tab each: a browser's start is the slow part.
bool tst_ZTReviewPageBrowser::driveAllRows(const QString& python)
{
    QStringList scenarios;
    for (const KeysRow& row : keysRows) {
        scenarios.append(QString::fromLatin1(row.steps));
    }
    QTemporaryDir profile;
    QProcess driver;
    driver.start(
        python, QStringList {REVIEW_PAGE_KEYS, m_chromium, profile.path(), m_url} + scenarios);
    if (!driver.waitForFinished(300000) || driver.exitCode() != 0) {
        m_keysError = QString::fromUtf8(driver.readAllStandardError());
        return false;
    }
    const QStringList lines = QString::fromUtf8(driver.readAllStandardOutput()).split('\n');
    m_keysShown = lines.mid(0, scenarios.size());
    // Nothing else: a line more is a script error or a script that the policy blocked.
    m_keysError = lines.mid(scenarios.size()).join('\n').trimmed();
    return m_keysShown.size() == scenarios.size() && m_keysError.isEmpty();
}

QTEST_GUILESS_MAIN(tst_ZTReviewPageBrowser)
#include "tst_ZTReviewPageBrowser.moc"
