// The review page's HTML: escaping, relative links, what each entry shows, no outside
// references, a policy that runs only the page's own script, and a size that stays bounded.
// tst_ZTReviewPageBrowser renders a page in a browser and drives its keys.

#include "ZTOptionParser.h"
#include "crops/ZTOverlayPainter.h"
#include "report/ZTReviewPage.h"
#include "text/ZTFileName.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

class tst_ZTReviewPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void content_data();
    void content();
    void referencesStayInside();
    void onlyItsOwnScriptRuns();
    void pictureEmbeddedOnce_data();
    void pictureEmbeddedOnce();
    void previewsOfOddSizes_data();
    void previewsOfOddSizes();
    void stoppedRun_data();
    void stoppedRun();

private:
    QTemporaryDir m_dir;
    QString m_page;
};

// A crop keeping half the salience, written at @p scale.
ZTCrop cropOf(const char* request, const QRect& rect, double scale, const QStringList& warnings)
{
    ZTCrop crop;
    ZTOptionParser::parseCrop(request, &crop.request);
    crop.rect = rect;
    crop.salienceKept = 0.5;
    crop.scale = scale;
    crop.warnings = warnings;
    return crop;
}

// A batch of two pictures, the second failed, with names and an error that need escaping. The
// page lies in "review", the pictures in "photos" and the outputs in "out".
void tst_ZTReviewPage::initTestCase()
{
    ZTPictureReport good;
    good.input = m_dir.filePath("photos/tea & <cake>.jpg");
    good.inputSize = QSize(400, 300);
    good.analysisSize = QSize(48, 36);
    good.focus = QPoint(100, 150);
    ZTCrop square = cropOf("1:1", QRect(40, 0, 300, 300), 2.5, {"enlarged", "cuts-area"});
    square.centred = false;
    const ZTCrop wide = cropOf("16:9", QRect(0, 37, 400, 225), 0.5, {"keeps <little>"});
    good.crops = {square, wide};
    good.faces = {QRect(100, 50, 40, 50)};
    good.facesFound = 40;
    good.faceDetector = "blazeface";
    good.grid = QSize(2, 1);
    good.gridScores = {17, 239};
    good.files = {{"salience", m_dir.filePath("out/tea.salience.png")},
        {"crop-1x1", m_dir.filePath("out/tea.crop-1x1.jpg")},
        {"crop-16x9", m_dir.filePath("out/tea.crop-16x9.jpg")}};
    QImage picture(400, 300, QImage::Format_ARGB32);
    picture.fill(Qt::gray);
    QImage map(48, 36, QImage::Format_Grayscale8);
    map.fill(7);
    ZTReviewPage::makePreviews(picture, map, &good);
    QVERIFY(!good.thumbnail.isEmpty() && !good.heatMap.isEmpty());

    ZTPictureReport failed;
    failed.input = "relative/\"quoted\".png";
    failed.error = "not a picture <script>alert(1)</script>";

    // A name that starts with ':' is a file like any other; only the bundled photograph is not.
    ZTPictureReport colon = failed;
    colon.input = ":colon.jpg";
    // Regression: a name that is not UTF-8 was shown as "bad??.jpg" and linked to that name.
    ZTPictureReport latin1 = failed;
    latin1.input = m_dir.filePath("photos/") + ZTFileName::fromBytes("caf\xe9 \xff%1.jpg");
    latin1.error = ZTFileName::fromBytes("cannot read caf\xe9 \xff%1.jpg");
    ZTPictureReport bundled = failed;
    bundled.input = ZTOptionParser::bundledPicturePath();
    bundled.bundled = true;

    ZTReviewPage page(m_dir.filePath("review/page.html"), 5);
    page.setDeclaredAreas({QRect(-10, 0, 1000, 20)});
    QString error;
    QVERIFY(page.open(&error));
    for (const ZTPictureReport& report : {good, failed, colon, latin1, bundled}) {
        page.add(report);
    }
    QVERIFY(page.commit(&error));
    QFile file(m_dir.filePath("review/page.html"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_page = QString::fromUtf8(file.readAll());
}

void tst_ZTReviewPage::content_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("present");

    const auto has = [](const char* name, const QString& text, bool present = true) {
        QTest::newRow(name) << text << present;
    };
    has("a linked, escaped name",
        "<a href=\"../photos/tea%20%26%20%3Ccake%3E.jpg\">" + m_dir.filePath("photos/")
            + "tea &amp; &lt;cake&gt;.jpg</a>");
    has("the picture embedded once, for all its views",
        "<image id=\"photo-1\" href=\"data:image/jpeg;base64,/9j/");
    // A name in a label that is not escaped could end the attribute and add markup.
    has("its label, the name escaped",
        "aria-label=\"" + m_dir.filePath("photos/")
            + "tea &amp; &lt;cake&gt;.jpg, 400x300 pixels, focal point at 25.0% 50.0%\">");
    has("marks in the picture's coordinates",
        "<svg viewBox=\"0 0 400 300\" width=\"320\" height=\"240\"");
    has("a face", "<rect class=\"face\" x=\"101.9\" y=\"51.9\" width=\"36.3\" height=\"46.3\"/>");
    has("the faces counted, those left out said", "40 faces (blazeface), the 1 largest drawn.");
    has("a declared area, clipped to the picture",
        "<rect class=\"area\" x=\"1.9\" y=\"1.9\" width=\"396.3\" height=\"16.3\"/>");
    has("the focal ring", "<circle class=\"ring\" cx=\"100\" cy=\"150\" r=\"10.0\"/>");
    has("a crop framed on its own, in its colour",
        "<svg viewBox=\"40 0 300 300\" width=\"150\" height=\"150\" style=\"border-color: "
            + ZTOverlayPainter::cropColour(0).name() + "\"");
    has("the crop shows the one picture", "<use href=\"#photo-1\"/>");
    has("a crop's caption, linked to its file",
        "<a href=\"../out/tea.crop-16x9.jpg\">16:9</a>: 400x225 at (0, 37), centred, 50.0% of "
        "the salience kept, reduced 0.50&times;");
    has("an enlarged crop marked", "<span class=\"mark enlarged\">enlarged 2.50&times;</span>");
    has("a crop with warnings stands out", "<figure class=\"crop warned\">");
    has("its warnings, enlarged only as the mark",
        "<ul class=\"warnings\"><li>cuts-area</li></ul>");
    has("a warning escaped", "<li>keeps &lt;little&gt;</li>");
    has("the warnings to filter by, one word each",
        "data-warnings=\"enlarged cuts-area keeps-&lt;little&gt;\" data-kept=\"0.5\"");
    has("the heat map on demand",
        "<details class=\"heat\"><summary>Heat map</summary><img "
        "src=\"data:image/jpeg;base64,/9j/");
    has("the grid", "<tr><td>17</td><td>239</td></tr>");
    has("the other files", "<p>Files: <a href=\"../out/tea.salience.png\">salience</a></p>");
    has("the escaped error", "not a picture &lt;script&gt;alert(1)&lt;/script&gt;");
    has("the summary", "<p>1 picture analysed, 4 failures.</p>");
    has("the failures in their section",
        "<section id=\"failures\">\n<h2 class=\"error\">4 "
        "pictures failed</h2>");
    has("the failure linked",
        "<li><a href=\"#picture-2\">relative/&quot;quoted&quot;.png</a>: not a picture");
    has("a name starting with ':' linked as a file", "/%3Acolon.jpg\">:colon.jpg</a></h2>");
    has("the bundled photograph not linked",
        "<h2>" + ZTOptionParser::bundledPicturePath().toHtmlEscaped() + "</h2>");
    has("a name that is not UTF-8 linked to its own bytes",
        "<a href=\"../photos/caf%E9%20%FF%251.jpg\">" + m_dir.filePath("photos/")
            + "caf\\xe9 \\xff%1.jpg</a></h2>");
    has("its error with the bytes shown", "cannot read caf\\xe9 \\xff%1.jpg");
    has("no byte lost to a question mark", "caf?", false);
    has("a complete run says nothing of a stop", "Stopped by", false);
}

void tst_ZTReviewPage::content()
{
    QFETCH(QString, text);
    QFETCH(bool, present);

    QCOMPARE(m_page.contains(text), present);
}

// Nothing is fetched from elsewhere: every reference is embedded, an anchor or relative.
void tst_ZTReviewPage::referencesStayInside()
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
    QCOMPARE(references, 15);
}

// The policy lets the page's one script run by its hash, and nothing else: a script that a
// name smuggled in would not run, and an edit of the script that leaves the hash behind shows.
void tst_ZTReviewPage::onlyItsOwnScriptRuns()
{
    QCOMPARE(m_page.count("<script"), 1);
    const int start = m_page.indexOf("<script>") + int(strlen("<script>"));
    const QByteArray script = m_page.mid(start, m_page.indexOf("</script>") - start).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(script, QCryptographicHash::Sha256).toBase64();
    QVERIFY(m_page.contains("content=\"default-src 'none'; img-src data:; style-src "
                            "'unsafe-inline'; script-src 'sha256-"
        + hash + "'; base-uri 'none'; form-action 'none'\">"));
}

void tst_ZTReviewPage::pictureEmbeddedOnce_data()
{
    QTest::addColumn<int>("crops");
    QTest::addColumn<int>("faces");

    QTest::newRow("one crop") << 1 << 0;
    QTest::newRow("twelve crops and the most faces") << 12 << 32;
}

// Regression guard for the page's size: each crop shows the picture embedded once, and the
// markup around it stays small, so a batch's page grows by about a thumbnail per picture.
void tst_ZTReviewPage::pictureEmbeddedOnce()
{
    QFETCH(int, crops);
    QFETCH(int, faces);

    ZTPictureReport report;
    report.input = "photo.jpg";
    report.inputSize = QSize(4000, 3000);
    report.analysisSize = QSize(480, 360);
    for (int i = 0; i < crops; ++i) {
        report.crops.append(cropOf("4:3", QRect(i, i, 2000, 1500), 1.5, {"cuts-face"}));
    }
    for (int i = 0; i < faces; ++i) {
        report.faces.append(QRect(i * 100, 100, 90, 120));
    }
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QImage map(48, 36, QImage::Format_Grayscale8);
    map.fill(0);
    ZTReviewPage::makePreviews(picture, map, &report);
    const QString thumbnail = QString::fromLatin1(report.thumbnail.toBase64());
    const QString heatMap = QString::fromLatin1(report.heatMap.toBase64());

    const QString html = ZTReviewPage::entry(report, 1, QDir());
    QCOMPARE(html.count(thumbnail), 1);
    QCOMPARE(html.count(heatMap), 1);
    const int markup = html.toUtf8().size() - thumbnail.size() - heatMap.size();
    QVERIFY2(markup < 1000 + 450 * crops + 150 * faces, qPrintable(QString::number(markup)));
}

void tst_ZTReviewPage::stoppedRun_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("note");

    QTest::newRow("SIGTERM") << int(SIGTERM)
                             << "<strong>Stopped by signal 15 (Terminated)</strong>: 2 of 7 "
                                "pictures analysed.";
    QTest::newRow("SIGINT") << int(SIGINT)
                            << "<strong>Stopped by signal 2 (Interrupt)</strong>: 2 of 7 "
                               "pictures analysed.";
}

// Regression: the page of an interrupted run looked like the page of a complete one. The note
// comes before the first entry, and the page stays whole around it.
void tst_ZTReviewPage::stoppedRun()
{
    QFETCH(int, signal);
    QFETCH(QString, note);

    const QString path = m_dir.filePath("stopped.html");
    ZTReviewPage page(path, 7);
    QString error;
    QVERIFY(page.open(&error));
    ZTPictureReport failed;
    failed.input = "a.jpg";
    failed.error = "not a picture";
    page.add(failed);
    page.add(failed);
    page.setStoppedBy(signal);
    QVERIFY(page.commit(&error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    const int noteAt = html.indexOf(note);
    QVERIFY2(noteAt > html.indexOf("</header>"), qPrintable(html.left(3000)));
    QVERIFY(noteAt < html.indexOf("<main>"));
    QVERIFY(html.endsWith("</script>\n</body>\n</html>\n"));
    QVERIFY(html.contains("<p>0 pictures analysed, 2 failures.</p>"));
}

void tst_ZTReviewPage::previewsOfOddSizes_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("thumbnail");

    QTest::newRow("one pixel") << QSize(1, 1) << QSize(1, 1);
    QTest::newRow("a long strip") << QSize(5000, 1) << QSize(320, 1);
    QTest::newRow("a tall strip") << QSize(3, 3000) << QSize(1, 320);
}

// The thinnest pictures still get both previews; the heat map, made at half the size, never
// shrinks to nothing.
void tst_ZTReviewPage::previewsOfOddSizes()
{
    QFETCH(QSize, size);
    QFETCH(QSize, thumbnail);

    ZTPictureReport report;
    report.inputSize = size;
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QImage map(size.boundedTo(QSize(48, 48)), QImage::Format_Grayscale8);
    map.fill(200);
    ZTReviewPage::makePreviews(picture, map, &report);
    QCOMPARE(ZTReviewPage::thumbnailSize(size), thumbnail);
    QCOMPARE(QImage::fromData(report.thumbnail).size(), thumbnail);
    QVERIFY(!QImage::fromData(report.heatMap).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTReviewPage)
#include "tst_ZTReviewPage.moc"
