#include "report/ZTReviewPage.h"

#include "crops/ZTCropWriter.h"
#include "crops/ZTOverlayPainter.h"
#include "report/ZTReportFormatter.h"
#include "text/ZTFileName.h"
#include "text/ZTNumberText.h"

#include <QBuffer>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstring>

namespace {

constexpr int thumbnailQuality = 80;
// The focal ring's radius, as a share of the picture's longer side.
constexpr double focusRadiusShare = 0.025;
// Crop outlines are drawn this many thumbnail pixels inside the crop, so that a crop along the
// picture's border stays visible.
constexpr double outlineInset = 1.5;

const char* const pageStart = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>ztroi review: %1</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 1em; background: #202020; color: #eee; }
a { color: #80d8ff; }
main { display: grid; grid-template-columns: repeat(auto-fill, minmax(360px, 1fr)); gap: 12px;
       align-items: start; }
article { background: #2e2e2e; padding: 8px; border-radius: 4px; }
article.failed { outline: 2px solid #ff5252; }
h2 { font-size: 1em; margin: 0 0 6px; overflow-wrap: anywhere; }
.frame { position: relative; width: fit-content; max-width: 100%; }
.frame img { display: block; max-width: 100%; height: auto; }
.frame svg { position: absolute; left: 0; top: 0; width: 100%; height: 100%; }
.frame svg * { fill: none; vector-effect: non-scaling-stroke; }
.frame .shade { stroke: rgba(0, 0, 0, 0.7); stroke-width: 4px; }
.frame .line { stroke-width: 2px; }
table { border-collapse: collapse; margin-top: 6px; font-size: 0.9em; }
th, td { padding: 1px 6px 1px 0; text-align: left; white-space: nowrap; }
caption { text-align: left; font-weight: bold; }
.swatch { display: inline-block; width: 0.9em; height: 0.9em; margin-right: 4px;
          vertical-align: middle; border: 1px solid #000; }
.error { color: #ff8a80; }
p { margin: 4px 0; }
</style>
</head>
<body>
<header>
<h1>ztroi review</h1>
<p>%1. Each crop is outlined in the colour its table names; the ring marks the focal point.</p>
</header>
%2<main>
)";

// Room kept after the page's header for the note that a run was stopped, which is known only at
// the end: commit() writes it there. Spaces until then, which HTML ignores.
constexpr int stopNoteRoom = 200;

// Bytes that are not UTF-8 travel as U+DC80 ... U+DCFF (see ZTFileName); a page has only UTF-8,
// so they are shown as \xNN, like control characters, instead of as the encoder's '?'.
QString shown(const QString& text)
{
    QString result = ZTFileName::printable(text);
    for (int i = result.size() - 1; i >= 0; --i) {
        const ushort unit = result.at(i).unicode();
        if (unit >= 0xDC80 && unit <= 0xDCFF) {
            result.replace(i, 1, QStringLiteral("\\x") + QString::number(unit - 0xDC00, 16));
        }
    }
    return result;
}

QString escaped(const QString& text)
{
    return shown(text).toHtmlEscaped();
}

QString countText(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

// A link to the file @p path, relative to @p folder. A name that starts with ':' is an ordinary
// file here, not one of Qt's resources.
QString link(const QString& path, const QString& text, const QDir& folder)
{
    const QFileInfo file(path.startsWith(QLatin1Char(':')) ? QStringLiteral("./") + path : path);
    const QString relative = folder.relativeFilePath(file.absoluteFilePath());
    // The name's own bytes, encoded: the browser then opens that file, whatever its encoding.
    const QByteArray url = ZTFileName::toBytes(relative).toPercentEncoding("/");
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(QString::fromLatin1(url), escaped(text));
}

// The crops and the focal point, drawn over the thumbnail in the picture's own coordinates.
QString drawing(const ZTPictureReport& report)
{
    const QSize size = report.inputSize;
    const int longSide = std::max(size.width(), size.height());
    const double inset = outlineInset * longSide / ZTReviewPage::thumbnailSide;
    QString svg = QStringLiteral("<svg viewBox=\"0 0 %1 %2\" preserveAspectRatio=\"none\" "
                                 "aria-hidden=\"true\" focusable=\"false\">")
                      .arg(size.width())
                      .arg(size.height());
    for (int i = 0; i < report.crops.size(); ++i) {
        const QRectF rect = QRectF(report.crops.at(i).rect).adjusted(inset, inset, -inset, -inset);
        const QString shape
            = QStringLiteral("x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"")
                  .arg(ZTNumberText::decimalText(rect.x()), ZTNumberText::decimalText(rect.y()),
                      ZTNumberText::decimalText(std::max(0.0, rect.width())),
                      ZTNumberText::decimalText(std::max(0.0, rect.height())));
        svg += QStringLiteral("<rect class=\"shade\" %1/><rect class=\"line\" %1 stroke=\"%2\"/>")
                   .arg(shape, ZTOverlayPainter::cropColour(i).name());
    }
    const QString ring = QStringLiteral("cx=\"%1\" cy=\"%2\" r=\"%3\"")
                             .arg(report.focus.x())
                             .arg(report.focus.y())
                             .arg(ZTNumberText::decimalText(focusRadiusShare * longSide));
    svg += QStringLiteral("<circle class=\"shade\" %1/><circle class=\"line\" %1 stroke=\"#fff\"/>")
               .arg(ring);
    return svg + QStringLiteral("</svg>");
}

QString altText(const ZTPictureReport& report)
{
    QStringList crops;
    for (int i = 0; i < report.crops.size(); ++i) {
        crops.append(QStringLiteral("%1 (%2)").arg(
            report.crops.at(i).request.text, ZTOverlayPainter::cropColourName(i)));
    }
    QString text = QStringLiteral("%1, %2 pixels")
                       .arg(report.input, ZTNumberText::sizeText(report.inputSize));
    if (!crops.isEmpty()) {
        text += QStringLiteral(", with the crops ") + crops.join(QLatin1String(", "));
    }
    return text
        + QStringLiteral(" and the focal point at %1")
              .arg(ZTReportFormatter::focusCss(report.focus, report.inputSize));
}

QString thumbnailHtml(const ZTPictureReport& report)
{
    if (report.thumbnail.isEmpty()) {
        return QStringLiteral("<p>No preview.</p>\n");
    }
    const QSize size = ZTReviewPage::thumbnailSize(report.inputSize);
    return QStringLiteral("<div class=\"frame\"><img src=\"data:image/jpeg;base64,%1\" "
                          "width=\"%2\" height=\"%3\" alt=\"%4\">%5</div>\n")
        .arg(QString::fromLatin1(report.thumbnail.toBase64()))
        .arg(size.width())
        .arg(size.height())
        .arg(escaped(altText(report)), drawing(report));
}

// The crops with their colours, windows and scores; with --write-crops each crop's name links to
// its picture (the crop files are listed in the crops' order).
QString cropTable(const ZTPictureReport& report, const QDir& folder)
{
    if (report.crops.isEmpty()) {
        return QString();
    }
    QStringList cropFiles;
    for (const ZTOutputFile& file : report.files) {
        if (file.kind.startsWith(QLatin1String("crop-"))) {
            cropFiles.append(file.path);
        }
    }
    QString html = QStringLiteral(
        "<table><caption>Crops%1</caption><thead><tr><th scope=\"col\">Colour</th>"
        "<th scope=\"col\">Crop</th><th scope=\"col\">Window</th><th scope=\"col\">Salience "
        "kept</th></tr></thead><tbody>\n")
                       .arg(cropFiles.isEmpty() ? QString()
                                                : QStringLiteral(", each linked to its picture"));
    for (int i = 0; i < report.crops.size(); ++i) {
        const ZTCrop& crop = report.crops.at(i);
        QString window = QStringLiteral("%1 at (%2, %3)")
                             .arg(ZTNumberText::sizeText(crop.rect.size()))
                             .arg(crop.rect.x())
                             .arg(crop.rect.y());
        if (crop.centred) {
            window += QStringLiteral(", centred");
        }
        const QString name = i < cropFiles.size() ? link(cropFiles.at(i), crop.request.text, folder)
                                                  : escaped(crop.request.text);
        html
            += QStringLiteral("<tr><td><span class=\"swatch\" style=\"background: %1\"></span>%2"
                              "</td><td>%3</td><td>%4</td><td>%5</td></tr>\n")
                   .arg(ZTOverlayPainter::cropColour(i).name(), ZTOverlayPainter::cropColourName(i),
                       name, window, ZTNumberText::percentText(crop.salienceKept));
    }
    return html + QStringLiteral("</tbody></table>\n");
}

QString gridTable(const ZTPictureReport& report)
{
    if (!report.grid.isValid()) {
        return QString();
    }
    QString html = QStringLiteral("<details><summary>Grid scores, %1 (128 is a fair share)"
                                  "</summary><table>\n")
                       .arg(ZTNumberText::sizeText(report.grid));
    for (int row = 0; row < report.grid.height(); ++row) {
        html += QStringLiteral("<tr>");
        for (int column = 0; column < report.grid.width(); ++column) {
            html += QStringLiteral("<td>%1</td>")
                        .arg(report.gridScores.value(row * report.grid.width() + column));
        }
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table></details>\n");
}

// Links to the files that are not crops (those are in the crop table).
QString otherFiles(const ZTPictureReport& report, const QDir& folder)
{
    QStringList links;
    for (const ZTOutputFile& file : report.files) {
        if (!file.kind.startsWith(QLatin1String("crop-"))) {
            links.append(link(file.path, file.kind, folder));
        }
    }
    return links.isEmpty()
        ? QString()
        : QStringLiteral("<p>Files: %1</p>\n").arg(links.join(QLatin1String(", ")));
}

// A thumbnail is the whole picture as a W:H crop, its longer side bounded as by --max-side.
ZTCropWriter thumbnailWriter()
{
    return ZTCropWriter(QString(), ZTCropWriter::defaultQuality, ZTReviewPage::thumbnailSide);
}

} // namespace

QSize ZTReviewPage::thumbnailSize(const QSize& picture)
{
    return thumbnailWriter().outputSize(ZTCropRequest(), picture);
}

QByteArray ZTReviewPage::thumbnail(const QImage& picture, const QSize& inputSize)
{
    ZTCrop whole;
    whole.rect = QRect(QPoint(0, 0), inputSize);
    const QImage small = thumbnailWriter().render(picture, inputSize, whole, QStringLiteral("jpg"));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (small.isNull() || !buffer.open(QIODevice::WriteOnly)
        || !small.save(&buffer, "jpeg", thumbnailQuality)) {
        return QByteArray();
    }
    return jpeg;
}

ZTReviewPage::ZTReviewPage(const QString& path, int count)
    : m_file(path)
    , m_folder(QFileInfo(path).absoluteDir())
    , m_count(count)
{}

bool ZTReviewPage::open(QString* error)
{
    if (!QDir().mkpath(m_folder.path()) || !m_file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write the review page %1 (%2)")
                     .arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    const QString start = QString::fromLatin1(pageStart).arg(
        countText(m_count, "picture", "pictures"), QStringLiteral("%3"));
    const int noteAt = start.indexOf(QLatin1String("%3"));
    write(start.left(noteAt));
    m_stopNoteAt = m_file.pos();
    write(QString(stopNoteRoom, QLatin1Char(' ')) + start.mid(noteAt + 2));
    return true;
}

void ZTReviewPage::setStoppedBy(int signal)
{
    m_stopSignal = signal;
}

void ZTReviewPage::writeStopNote()
{
    QString note = QStringLiteral("<p class=\"error\"><strong>Stopped by signal %1 (%2)</strong>: "
                                  "%3 of %4 analysed.</p>\n")
                       .arg(QString::number(m_stopSignal),
                           QString::fromLocal8Bit(strsignal(m_stopSignal)).toHtmlEscaped(),
                           QString::number(m_added), countText(m_count, "picture", "pictures"));
    QByteArray bytes = note.toUtf8();
    if (bytes.size() > stopNoteRoom) {
        bytes = QStringLiteral("<p class=\"error\"><strong>Stopped by signal %1</strong>.</p>\n")
                    .arg(m_stopSignal)
                    .toUtf8();
    }
    const qint64 end = m_file.pos();
    m_file.seek(m_stopNoteAt);
    m_file.write(bytes);
    m_file.seek(end);
}

void ZTReviewPage::write(const QString& html)
{
    m_file.write(html.toUtf8());
}

void ZTReviewPage::add(const ZTPictureReport& report)
{
    ++m_added;
    write(entry(report, m_added, m_folder));
    if (!report.ok()) {
        ++m_failed;
        m_failures += QStringLiteral("<li><a href=\"#picture-%1\">%2</a>: %3</li>\n")
                          .arg(m_added)
                          .arg(escaped(report.input), escaped(report.error));
    }
}

bool ZTReviewPage::commit(QString* error)
{
    QString end = QStringLiteral("</main>\n<footer>\n<h2>Summary</h2>\n<p>%1 analysed, %2.</p>\n")
                      .arg(countText(m_added - m_failed, "picture", "pictures"),
                          countText(m_failed, "failure", "failures"));
    if (!m_failures.isEmpty()) {
        end += QStringLiteral("<ul>\n%1</ul>\n").arg(m_failures);
    }
    write(end + QStringLiteral("</footer>\n</body>\n</html>\n"));
    if (m_stopSignal != 0) {
        writeStopNote();
    }
    if (!m_file.commit()) {
        *error = QStringLiteral("cannot write the review page %1 (%2)")
                     .arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    return true;
}

QString ZTReviewPage::entry(const ZTPictureReport& report, int number, const QDir& folder)
{
    QString html = QStringLiteral("<article id=\"picture-%1\" class=\"%2\">\n<h2>%3</h2>\n")
                       .arg(number)
                       .arg(QLatin1String(report.ok() ? "picture" : "picture failed"),
                           report.bundled ? escaped(report.input)
                                          : link(report.input, report.input, folder));
    if (!report.ok()) {
        return html
            + QStringLiteral("<p class=\"error\"><strong>Error:</strong> %1</p>\n</article>\n")
                  .arg(escaped(report.error));
    }
    html += thumbnailHtml(report);
    html += QStringLiteral("<p>%1 pixels, analysed at %2. Focal point (%3, %4), "
                           "<code>object-position: %5</code>.</p>\n")
                .arg(ZTNumberText::sizeText(report.inputSize),
                    ZTNumberText::sizeText(report.analysisSize))
                .arg(report.focus.x())
                .arg(report.focus.y())
                .arg(ZTReportFormatter::focusCss(report.focus, report.inputSize));
    html += cropTable(report, folder) + gridTable(report) + otherFiles(report, folder);
    return html + QStringLiteral("</article>\n");
}
