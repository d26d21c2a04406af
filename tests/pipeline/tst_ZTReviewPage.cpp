// The review page: every user text escaped, links to the names' own bytes, failures listed, a
// stopped run said, no outside references, a policy that runs only the page's own script, and a
// size that stays bounded. Then the same page in headless Chromium, driven through the DevTools
// protocol by review_page_keys.py: the document after its script ran, a screenshot, the keys,
// filters and orders (skipped without Chromium or Python).

#include "ZTImageTestSupport.h"
#include "ZTOptionParser.h"
#include "report/ZTReviewPage.h"
#include "text/ZTFileName.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QtTest>

#include <csignal>

class tst_ZTReviewPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void content_data();
    void content();
    void nothingFromElsewhere();
    void pictureEmbeddedOnce();
    void previewsOfOddSizes();
    void walkInBrowser();

private:
    QTemporaryDir m_dir;
    QString m_page;
};

namespace {

// A crop that the salience placed.
ZTCrop crop(const char* request, const QRect& rect, double kept, double scale,
    const QStringList& warnings = QStringList())
{
    ZTCrop result {{}, rect, kept, false, -1, scale, {}, warnings};
    result.request.text = QString::fromLatin1(request);
    return result;
}

// A 400x300 picture with its previews: blocks of random colours, so that every crop shows
// something, and a black heat map. With an @p error, a picture that failed.
ZTPictureReport picture(
    const QString& name, const QList<ZTCrop>& crops, const QString& error = QString())
{
    ZTPictureReport report;
    report.input = name;
    report.error = error;
    report.inputSize = QSize(400, 300);
    report.analysisSize = QSize(48, 36);
    report.focus = QPoint(100, 150);
    report.crops = crops;
    std::mt19937 random(7);
    ZTReviewPage::makePreviews(ZTImageTest::randomBlocks(report.inputSize, 20, random),
        ZTImageTest::uniform(QSize(48, 36), qRgb(0, 0, 0), QImage::Format_Grayscale8), &report);
    return report;
}

} // namespace

// A batch stopped by SIGTERM after six of seven pictures, two failed, with names, warnings and
// errors that need escaping: 1 without warnings, 2 with an enlarged crop and warnings, 3 and 4
// failed, 5 weak, 6 the bundled photograph, enlarged. The page lies in "review", the pictures in
// "photos" and the outputs in "out".
void tst_ZTReviewPage::initTestCase()
{
    const QRect square(40, 0, 300, 300);
    const QRect wide(0, 37, 400, 225);
    const QString photos = m_dir.filePath("photos/");
    ZTPictureReport tea = picture(photos + "tea & <cake>.jpg",
        {crop("1:1", square, 0.7, 2.5, {"enlarged", "cuts-area"}),
            crop("16:9", wide, 0.5, 0.5, {"keeps <little>"})});
    tea.faces = {QRect(170, 20, 60, 70)};
    tea.files = {{"crop-1x1", m_dir.filePath("out/tea.crop-1x1.jpg")},
        {"crop-16x9", m_dir.filePath("out/tea.crop-16x9.jpg")}};
    // Regression: a name that is not UTF-8 was shown as "bad??.jpg" and linked to that name.
    const ZTPictureReport latin1
        = picture(photos + ZTFileName::fromBytes("caf\xe9 \xff%1.jpg"), {}, "not a picture either");
    // A name that starts with ':' is a file like any other; only the bundled photograph is not.
    ZTPictureReport bundled
        = picture(ZTOptionParser::bundledPicturePath(), {crop("1:1", square, 0.6, 1.5)});
    bundled.bundled = true;

    ZTReviewPage page(m_dir.filePath("review/page.html"), 7);
    QString error;
    QVERIFY(page.open(&error));
    for (const ZTPictureReport& report :
        {picture(photos + "calm.jpg", {crop("1:1", square, 0.8, 1)}), tea,
            picture("relative/\"quoted\".png", {}, "not a picture <script>alert(1)</script>"),
            latin1, picture(":colon.jpg", {crop("16:9", wide, 0.2, 0.5, {"weak"})}), bundled}) {
        page.add(report);
    }
    page.setStoppedBy(SIGTERM);
    QVERIFY(page.commit(&error));
    QFile file(m_dir.filePath("review/page.html"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_page = QString::fromUtf8(file.readAll());
}

void tst_ZTReviewPage::content_data()
{
    QTest::addColumn<QString>("text");

    const auto has = [](const char* name, const QString& text) { QTest::newRow(name) << text; };
    const QString photos = m_dir.filePath("photos/");
    has("a linked, escaped name",
        "<a href=\"../photos/tea%20%26%20%3Ccake%3E.jpg\">" + photos
            + "tea &amp; &lt;cake&gt;.jpg</a>");
    // A name in a label that is not escaped could end the attribute and add markup.
    has("its label, the name escaped",
        "aria-label=\"" + photos
            + "tea &amp; &lt;cake&gt;.jpg, 400x300 pixels, focal point at 25.0% 50.0%\">");
    has("a crop's caption, linked to its file",
        "<a href=\"../out/tea.crop-16x9.jpg\">16:9</a>: 400x225 at (0, 37), 50.0% of "
        "the salience kept, reduced 0.50&times;");
    has("an enlarged crop marked", "<span class=\"mark enlarged\">enlarged 2.50&times;</span>");
    has("its warnings, enlarged only as the mark",
        "<ul class=\"warnings\"><li>cuts-area</li></ul>");
    has("the warnings to filter by, one word each",
        "data-warnings=\"enlarged cuts-area keeps-&lt;little&gt;\" data-kept=\"0.5\"");
    has("the escaped error", "not a picture &lt;script&gt;alert(1)&lt;/script&gt;");
    // Regression: the page of an interrupted run looked like the page of a complete one.
    has("the stop said first",
        "</header>\n<p class=\"error\"><strong>Stopped by signal 15 (Terminated)</strong>: 6 of 7 "
        "pictures analysed.</p>");
    has("the summary", "<p>4 pictures analysed, 2 failures.</p>");
    has("the failure linked",
        "<li><a href=\"#picture-3\">relative/&quot;quoted&quot;.png</a>: not a picture");
    has("a name starting with ':' linked as a file", "/%3Acolon.jpg\">:colon.jpg</a></h2>");
    has("the bundled photograph not linked",
        "<h2>" + ZTOptionParser::bundledPicturePath().toHtmlEscaped() + "</h2>");
    has("a name that is not UTF-8 linked to its own bytes",
        "<a href=\"../photos/caf%E9%20%FF%251.jpg\">" + photos + "caf\\xe9 \\xff%1.jpg</a></h2>");
}

void tst_ZTReviewPage::content()
{
    QFETCH(QString, text);

    QVERIFY2(m_page.contains(text), qPrintable(text));
}

// Nothing is fetched from elsewhere: every reference is embedded, an anchor or relative. The
// policy lets the page's one script run by its hash, and nothing else: a script that a name
// smuggled in would not run, and an edit of the script that leaves the hash behind shows.
void tst_ZTReviewPage::nothingFromElsewhere()
{
    static const QRegularExpression reference(
        QStringLiteral("(?:src|href)=\"([^\"]*)\"|url\\(|@import"));
    QRegularExpressionMatchIterator it = reference.globalMatch(m_page);
    int references = 0;
    while (it.hasNext()) {
        const QString target = it.next().captured(1);
        QVERIFY2(target.startsWith("data:image/jpeg;base64,") || target.startsWith('#')
                || (!target.isEmpty() && !target.startsWith('/') && !target.contains(':')),
            qPrintable(target.left(80)));
        ++references;
    }
    QCOMPARE(references, 22);

    QCOMPARE(m_page.count("<script"), 1);
    const int start = m_page.indexOf("<script>") + int(strlen("<script>"));
    const QByteArray script = m_page.mid(start, m_page.indexOf("</script>") - start).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(script, QCryptographicHash::Sha256).toBase64();
    QVERIFY(m_page.contains("content=\"default-src 'none'; img-src data:; style-src "
                            "'unsafe-inline'; script-src 'sha256-"
        + hash + "'; base-uri 'none'; form-action 'none'\">"));
}

// Regression guard for the page's size: each crop shows the picture embedded once, and the
// markup around it stays small, so a batch's page grows by about a thumbnail per picture. Here
// with twelve crops and the most faces shown.
void tst_ZTReviewPage::pictureEmbeddedOnce()
{
    ZTPictureReport report = picture("photo.jpg", {});
    for (int i = 0; i < 12; ++i) {
        report.crops.append(crop("4:3", QRect(i, i, 200, 150), 0.5, 1.5, {"cuts-face"}));
    }
    for (int i = 0; i < 32; ++i) {
        report.faces.append(QRect(i * 10, 100, 9, 12));
    }
    const QString thumbnail = QString::fromLatin1(report.thumbnail.toBase64());
    const QString heatMap = QString::fromLatin1(report.heatMap.toBase64());
    const QString html = ZTReviewPage::entry(report, 1, QDir());
    QCOMPARE(html.count(thumbnail), 1);
    QCOMPARE(html.count(heatMap), 1);
    const int markup = html.toUtf8().size() - thumbnail.size() - heatMap.size();
    QVERIFY2(markup < 1000 + 450 * 12 + 150 * 32, qPrintable(QString::number(markup)));
}

// The thinnest pictures still get both previews; the heat map, made at half the size, never
// shrinks to nothing.
void tst_ZTReviewPage::previewsOfOddSizes()
{
    for (const auto& [size, thumbnail] : {std::pair {QSize(1, 1), QSize(1, 1)},
             {QSize(5000, 1), QSize(320, 1)}, {QSize(3, 3000), QSize(1, 320)}}) {
        ZTPictureReport report;
        report.inputSize = size;
        ZTReviewPage::makePreviews(ZTImageTest::uniform(size, qRgb(255, 0, 0)),
            ZTImageTest::uniform(
                size.boundedTo({48, 48}), qRgb(200, 200, 200), QImage::Format_Grayscale8),
            &report);
        QCOMPARE(ZTReviewPage::thumbnailSize(size), thumbnail);
        QCOMPARE(QImage::fromData(report.thumbnail).size(), thumbnail);
        QVERIFY(!QImage::fromData(report.heatMap).isNull());
    }
}

// One walk through the page: each checkpoint's steps (keys pressed, menus chosen) and what the
// page then shows: the picture selected, its heat map open, the pictures shown in their order.
// The first saves the document and a screenshot before any key.
const std::pair<const char*, const char*> walk[] = {
    {"dom:dom.html shot:shot.png key:x", "none, 6 of 6 shown: 1,2,3,4,5,6"},
    {"key:k key:j",
        "picture-6, 6 of 6 shown: 1,2,3,4,5,6"}, // k first selects the last, j stops there
    {"key:k key:h", "picture-5 heat, 6 of 6 shown: 1,2,3,4,5,6"},
    {"key:h", "picture-5, 6 of 6 shown: 1,2,3,4,5,6"},
    {"select:filter=warned key:k", "picture-2, 3 of 6 shown: 2,5,6"}, // past the hidden
    {"select:filter=warning:enlarged key:j", "picture-6, 2 of 6 shown: 2,6"},
    {"select:filter=failed", "none, 2 of 6 shown: 3,4"}, // the hidden selection dropped
    {"select:filter=warning:weak key:j", "picture-5, 1 of 6 shown: 5"},
    {"select:filter= select:order=warnings key:k", "picture-2, 6 of 6 shown: 3,4,2,5,6,1"},
    {"select:order=kept key:j", "picture-6, 6 of 6 shown: 3,4,5,2,6,1"},
    {"select:order=name key:j", "picture-5, 6 of 6 shown: 4,1,2,6,5,3"},
};

void tst_ZTReviewPage::walkInBrowser()
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    const QString python = QStandardPaths::findExecutable("python3");
    if (chromium.isEmpty() || python.isEmpty()) {
        QSKIP("chromium or python3 is not installed (scripts/install-deps --tests installs them)");
    }
    QStringList arguments {REVIEW_PAGE_KEYS, chromium, m_dir.filePath("profile"),
        QUrl::fromLocalFile(m_dir.filePath("review/page.html")).toString()};
    for (const auto& [steps, shown] : walk) {
        arguments.append(QString::fromLatin1(steps));
    }
    QProcess driver;
    driver.setWorkingDirectory(m_dir.path());
    driver.start(python, arguments);
    QVERIFY(driver.waitForFinished(120000));
    QVERIFY2(driver.exitCode() == 0, driver.readAllStandardError().constData());
    const QStringList lines = QString::fromUtf8(driver.readAllStandardOutput()).split('\n');
    for (int i = 0; i < int(std::size(walk)); ++i) {
        QVERIFY2(
            lines.value(i) == walk[i].second, qPrintable(walk[i].first + (": " + lines.value(i))));
    }
    // A line more is a script error, or a script that the policy blocked.
    QCOMPARE(lines.mid(int(std::size(walk))).join('\n').trimmed(), QString());

    // What the walk saved first. The script ran under the page's policy: it showed the tools and
    // offered each warning found, its text escaped.
    QFile file(m_dir.filePath("dom.html"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray dom = file.readAll();
    for (const char* text : {"<div id=\"tools\">",
             "<option value=\"warning:keeps-&lt;little&gt;\">with the warning keeps-&lt;little&gt;",
             "tea &amp; &lt;cake&gt;.jpg</a></h2>"}) {
        QVERIFY2(dom.contains(text), text);
    }
    QCOMPARE(dom.count("<use href=\"#photo-"), 5);

    // Pictures and marks are drawn: many colours, and the marks' own colours among them.
    const QImage screen(m_dir.filePath("shot.png"));
    QSet<QRgb> colours;
    for (int y = 0; y < screen.height(); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            colours.insert(screen.pixel(x, y) & 0xffffff);
        }
    }
    QVERIFY2(colours.size() > 2000, qPrintable(QString::number(colours.size())));
    QVERIFY2(colours.contains(0xff9100), "no face outline");
    QVERIFY2(colours.contains(0xff5252), "no warning");
}

QTEST_GUILESS_MAIN(tst_ZTReviewPage)
#include "tst_ZTReviewPage.moc"
