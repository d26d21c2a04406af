// The review page's HTML: escaping, relative links, what each entry shows, no outside
// references. tst_ztroi renders a real batch's page in a browser, and one that cannot be written.

#include "ZTOptionParser.h"
#include "crops/ZTOverlayPainter.h"
#include "report/ZTReviewPage.h"
#include "text/ZTFileName.h"

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
    void stoppedRun_data();
    void stoppedRun();

private:
    QTemporaryDir m_dir;
    QString m_page;
};

// A batch of two pictures, the second failed, with names and an error that need escaping. The
// page lies in "review", the pictures in "photos" and the outputs in "out".
void tst_ZTReviewPage::initTestCase()
{
    ZTPictureReport good;
    good.input = m_dir.filePath("photos/tea & <cake>.jpg");
    good.inputSize = QSize(400, 300);
    good.analysisSize = QSize(48, 36);
    good.focus = QPoint(100, 150);
    ZTCrop square {{}, QRect(40, 0, 300, 300), 0.5, false};
    ZTCrop wide {{}, QRect(0, 37, 400, 225), 0.5, true};
    ZTOptionParser::parseCrop("1:1", &square.request);
    ZTOptionParser::parseCrop("16:9", &wide.request);
    good.crops = {square, wide};
    good.grid = QSize(2, 1);
    good.gridScores = {17, 239};
    good.files = {{"salience", m_dir.filePath("out/tea.salience.png")},
        {"crop-1x1", m_dir.filePath("out/tea.crop-1x1.jpg")},
        {"crop-16x9", m_dir.filePath("out/tea.crop-16x9.jpg")}};
    QImage picture(400, 300, QImage::Format_ARGB32);
    picture.fill(Qt::gray);
    good.thumbnail = ZTReviewPage::thumbnail(picture, good.inputSize);
    QVERIFY(!good.thumbnail.isEmpty());

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
    has("the thumbnail with its size", "<img src=\"data:image/jpeg;base64,/9j/");
    // A name in the alt text that is not escaped could end the attribute and add markup.
    has("its alt text, the name escaped",
        "alt=\"" + m_dir.filePath("photos/") + "tea &amp; &lt;cake&gt;.jpg, ");
    has("its alt text's crops and focal point",
        "with the crops 1:1 (cyan), 16:9 (green) and the focal point at 25.0% 50.0%\">");
    has("crops over it in the picture's coordinates", "<svg viewBox=\"0 0 400 300\"");
    has("the first crop in its colour",
        "x=\"41.9\" y=\"1.9\" width=\"296.3\" height=\"296.3\" stroke=\""
            + ZTOverlayPainter::cropColour(0).name() + "\"");
    has("the focal ring", "<circle class=\"line\" cx=\"100\" cy=\"150\" r=\"10.0\"");
    has("a crop's row, linked to its file",
        "<td><a href=\"../out/tea.crop-16x9.jpg\">16:9</a></td><td>400x225 at (0, 37), "
        "centred</td><td>50.0%</td>");
    has("the grid", "<tr><td>17</td><td>239</td></tr>");
    has("the other files", "<p>Files: <a href=\"../out/tea.salience.png\">salience</a></p>");
    has("the escaped error", "not a picture &lt;script&gt;alert(1)&lt;/script&gt;");
    has("the summary", "<p>1 picture analysed, 4 failures.</p>");
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
    has("no script", "<script", false);
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
    QCOMPARE(references, 12);
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
    QVERIFY(html.endsWith("</footer>\n</body>\n</html>\n"));
    QVERIFY(html.contains("<p>0 pictures analysed, 2 failures.</p>"));
}

QTEST_GUILESS_MAIN(tst_ZTReviewPage)
#include "tst_ZTReviewPage.moc"
