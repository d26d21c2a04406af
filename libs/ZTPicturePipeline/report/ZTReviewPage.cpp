#include "report/ZTReviewPage.h"

#include "crops/ZTCropWriter.h"
#include "crops/ZTOverlayPainter.h"
#include "crops/ZTResampler.h"
#include "report/ZTReportFormatter.h"
#include "text/ZTFileName.h"
#include "text/ZTNumberText.h"

#include <QBuffer>
#include <QCryptographicHash>
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
// Crop previews are this many CSS pixels on their longer side.
constexpr int cropPreviewSide = 150;
constexpr int heatMapQuality = 75;
constexpr int heatMapReduction = 2;

// The page's own script: sorting and filtering by warning, and moving between the pictures with
// the keyboard. It builds every text it shows with textContent, never as markup.
const char* const pageScript = R"((function () {
'use strict';
var main = document.querySelector('main');
var pictures = Array.prototype.slice.call(main.children);
var filter = document.getElementById('filter');
var order = document.getElementById('order');
var shown = document.getElementById('shown');
var current = null;
var kinds = {};
function warnings(p) { return p.dataset.warnings ? p.dataset.warnings.split(' ') : []; }
pictures.forEach(function (p) {
  p.tabIndex = -1;
  warnings(p).forEach(function (w) { kinds[w] = true; });
});
Object.keys(kinds).sort().forEach(function (w) {
  var option = document.createElement('option');
  option.value = 'warning:' + w;
  option.textContent = 'with the warning ' + w;
  filter.appendChild(option);
});
function matches(p) {
  var f = filter.value;
  if (f === 'warned') return warnings(p).length > 0;
  if (f === 'failed') return p.classList.contains('failed');
  if (f.indexOf('warning:') === 0) return warnings(p).indexOf(f.slice(8)) >= 0;
  return true;
}
function compare(a, b) {
  var d = 0;
  if (order.value === 'warnings') {
    d = b.classList.contains('failed') - a.classList.contains('failed')
      || warnings(b).length - warnings(a).length;
  } else if (order.value === 'kept') {
    d = a.dataset.kept - b.dataset.kept;
  } else if (order.value === 'name') {
    d = a.dataset.name < b.dataset.name ? -1 : a.dataset.name > b.dataset.name ? 1 : 0;
  }
  return d || a.dataset.index - b.dataset.index;
}
function select(p) {
  if (current) current.classList.remove('current');
  current = p;
  if (p) {
    p.classList.add('current');
    p.focus({preventScroll: true});
    p.scrollIntoView({block: 'nearest'});
  }
}
function update() {
  var count = 0;
  pictures.slice().sort(compare).forEach(function (p) {
    p.hidden = !matches(p);
    count += p.hidden ? 0 : 1;
    main.appendChild(p);
  });
  shown.textContent = count + ' of ' + pictures.length + ' shown';
  if (current && current.hidden) select(null);
}
function step(by) {
  var visible = Array.prototype.filter.call(main.children, function (p) { return !p.hidden; });
  if (!visible.length) return;
  var at = visible.indexOf(current);
  var next = at < 0 ? (by > 0 ? 0 : visible.length - 1) : at + by;
  select(visible[Math.max(0, Math.min(visible.length - 1, next))]);
}
document.addEventListener('keydown', function (e) {
  if (e.ctrlKey || e.metaKey || e.altKey || /^(SELECT|INPUT|TEXTAREA)$/.test(e.target.tagName)) {
    return;
  }
  if (e.key === 'j') {
    step(1);
  } else if (e.key === 'k') {
    step(-1);
  } else if (e.key === 'h' && current && current.querySelector('details.heat')) {
    var heat = current.querySelector('details.heat');
    heat.open = !heat.open;
    current.scrollIntoView({block: 'nearest'});
  } else {
    return;
  }
  e.preventDefault();
});
filter.addEventListener('change', update);
order.addEventListener('change', update);
document.getElementById('tools').hidden = false;
update();
})();
)";

// %1: the count of pictures, %2: the script's hash, %3: where the stop note goes.
const char* const pageStart = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src data:; style-src 'unsafe-inline'; script-src 'sha256-%2'; base-uri 'none'; form-action 'none'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>ztroi review: %1</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 1em; background: #202020; color: #eee;
       display: flex; flex-direction: column; }
header { order: 0; }
#failures { order: 1; }
main { order: 2; display: flex; flex-direction: column; gap: 12px; }
footer { order: 3; }
a { color: #80d8ff; }
article { background: #2e2e2e; padding: 8px; border-radius: 4px; outline: none; }
article.current { box-shadow: 0 0 0 3px #ffd740; }
article.failed { box-shadow: 0 0 0 2px #ff5252; }
article.failed.current { box-shadow: 0 0 0 3px #ffd740, 0 0 0 5px #ff5252; }
h2 { font-size: 1em; margin: 0 0 6px; overflow-wrap: anywhere; }
.views { display: flex; flex-wrap: wrap; gap: 8px; align-items: flex-start; }
figure { margin: 0; max-width: 100%; }
figcaption { font-size: 0.85em; max-width: 320px; overflow-wrap: anywhere; }
figure.crop { width: 160px; }
svg { display: block; max-width: 100%; height: auto; background: #111; }
.whole svg * { fill: none; vector-effect: non-scaling-stroke; stroke-width: 2px; }
.whole .face { stroke: #ff9100; }
.whole .area { stroke: #fff; stroke-dasharray: 6 4; }
.whole .shade { stroke: rgba(0, 0, 0, 0.7); stroke-width: 4px; }
.whole .ring { stroke: #fff; }
.crop svg { border: 3px solid; }
.crop.warned svg { outline: 3px dashed #ff5252; outline-offset: 2px; }
.mark { display: inline-block; padding: 0 4px; border-radius: 3px; font-weight: bold; }
.enlarged { background: #ff9100; color: #000; }
ul.warnings { margin: 2px 0; padding: 0; list-style: none; }
ul.warnings li { display: inline-block; margin: 1px 4px 1px 0; padding: 0 4px; border-radius: 3px;
                 background: #ff5252; color: #000; font-weight: bold; }
details.heat img { display: block; max-width: 100%; height: auto; }
table { border-collapse: collapse; margin-top: 6px; font-size: 0.9em; }
td { padding: 1px 6px 1px 0; text-align: left; white-space: nowrap; }
.error { color: #ff8a80; }
kbd { border: 1px solid #888; border-radius: 3px; padding: 0 3px; }
p { margin: 4px 0; }
</style>
</head>
<body>
<header>
<h1>ztroi review</h1>
<p>%1. Each crop is shown on its own, framed in its overlay colour, with its warnings; an
enlarged crop is marked. On the picture, faces are outlined in orange, declared areas dashed,
and the ring marks the focal point.</p>
<div id="tools" hidden>
<label>Show <select id="filter"><option value="">all pictures</option>
<option value="warned">with warnings</option><option value="failed">failed</option></select></label>
<label>Order <select id="order"><option value="input">as given</option>
<option value="warnings">most warnings first</option>
<option value="kept">least salience kept first</option><option value="name">by name</option>
</select></label> <span id="shown"></span>
<p>Keys: <kbd>j</kbd> and <kbd>k</kbd> go to the next and the previous picture shown,
<kbd>h</kbd> shows or hides its heat map.</p>
</div>
</header>
%3<main>
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

QString rectAttributes(const QRectF& rect)
{
    return QStringLiteral("x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"")
        .arg(ZTNumberText::decimalText(rect.x()), ZTNumberText::decimalText(rect.y()),
            ZTNumberText::decimalText(std::max(0.0, rect.width())),
            ZTNumberText::decimalText(std::max(0.0, rect.height())));
}

// A rectangle drawn over the picture, with a dark shade under its line so that it shows on
// light and dark pictures alike, inset so that one along the picture's border stays visible.
QString outline(const QRect& rect, const char* kind, double inset)
{
    const QString shape = rectAttributes(QRectF(rect).adjusted(inset, inset, -inset, -inset));
    return QStringLiteral("<rect class=\"shade\" %1/><rect class=\"%2\" %1/>")
        .arg(shape, QLatin1String(kind));
}

// The faces, the declared areas and the focal point, in the picture's own coordinates.
QString marks(const ZTPictureReport& report, const QList<QRect>& areas)
{
    const QSize size = report.inputSize;
    const int longSide = std::max(size.width(), size.height());
    const double inset = outlineInset * longSide / ZTReviewPage::thumbnailSide;
    QString svg;
    for (const QRect& area : areas) {
        svg += outline(area.intersected(QRect(QPoint(0, 0), size)), "area", inset);
    }
    for (const QRect& face : report.faces) {
        svg += outline(face, "face", inset);
    }
    const QString ring = QStringLiteral("cx=\"%1\" cy=\"%2\" r=\"%3\"")
                             .arg(report.focus.x())
                             .arg(report.focus.y())
                             .arg(ZTNumberText::decimalText(focusRadiusShare * longSide));
    return svg
        + QStringLiteral("<circle class=\"shade\" %1/><circle class=\"ring\" %1/>").arg(ring);
}

QString facesText(const ZTPictureReport& report)
{
    if (report.facesFound < 0) {
        return QString();
    }
    QString text = QStringLiteral(" %1").arg(countText(report.facesFound, "face", "faces"));
    if (!report.faceDetector.isEmpty()) {
        text += QStringLiteral(" (%1)").arg(escaped(report.faceDetector));
    }
    if (report.faces.size() < report.facesFound) {
        text += QStringLiteral(", the %1 largest drawn").arg(report.faces.size());
    }
    return text + QLatin1Char('.');
}

// The picture once, as an SVG image that the crop previews show again through <use>, so that
// its JPEG is embedded a single time however many crops there are.
QString pictureHtml(const ZTPictureReport& report, int number, const QList<QRect>& areas)
{
    const QSize size = report.inputSize;
    const QSize displayed = ZTReviewPage::thumbnailSize(size);
    const QString image = report.thumbnail.isEmpty()
        ? QString()
        : QStringLiteral("<image id=\"photo-%1\" href=\"data:image/jpeg;base64,%2\" width=\"%3\" "
                         "height=\"%4\" preserveAspectRatio=\"none\"/>")
              .arg(QString::number(number), QString::fromLatin1(report.thumbnail.toBase64()),
                  QString::number(size.width()), QString::number(size.height()));
    const QString label = QStringLiteral("%1, %2 pixels, focal point at %3")
                              .arg(report.input, ZTNumberText::sizeText(size),
                                  ZTReportFormatter::focusCss(report.focus, size));
    return QStringLiteral("<figure class=\"whole\"><svg viewBox=\"0 0 %1 %2\" width=\"%3\" "
                          "height=\"%4\" preserveAspectRatio=\"none\" role=\"img\" "
                          "aria-label=\"%5\">%6%7</svg>\n")
               .arg(QString::number(size.width()), QString::number(size.height()),
                   QString::number(displayed.width()), QString::number(displayed.height()),
                   escaped(label), image, marks(report, areas))
        + QStringLiteral("<figcaption>%1 pixels, analysed at %2. Focal point (%3, %4), "
                         "<code>object-position: %5</code>.%6</figcaption></figure>\n")
              .arg(ZTNumberText::sizeText(size), ZTNumberText::sizeText(report.analysisSize),
                  QString::number(report.focus.x()), QString::number(report.focus.y()),
                  ZTReportFormatter::focusCss(report.focus, size), facesText(report));
}

bool isEnlarged(const ZTCrop& crop)
{
    return crop.scale > 1.0;
}

// The scale a crop is written at: marked when enlarged, said when reduced.
QString scaleText(const ZTCrop& crop)
{
    const QString factor = QString::number(crop.scale, 'f', 2);
    if (isEnlarged(crop)) {
        return QStringLiteral(" <span class=\"mark enlarged\">enlarged %1&times;</span>")
            .arg(factor);
    }
    return crop.scale < 1.0 ? QStringLiteral(", reduced %1&times;").arg(factor) : QString();
}

// The warnings that the crop's entry lists; "enlarged" has its own mark with the factor.
QStringList listedWarnings(const ZTCrop& crop)
{
    QStringList warnings = crop.warnings;
    if (isEnlarged(crop)) {
        warnings.removeAll(QStringLiteral("enlarged"));
    }
    return warnings;
}

// Every warning of a picture once, in order, with "enlarged" for an enlarged crop: what the
// page's filter offers.
QStringList pictureWarnings(const ZTPictureReport& report)
{
    QStringList warnings;
    for (const ZTCrop& crop : report.crops) {
        QStringList own = crop.warnings;
        if (isEnlarged(crop)) {
            own.append(QStringLiteral("enlarged"));
        }
        for (QString warning : own) {
            // One word each, since the filter splits the list at spaces.
            warning = shown(warning).simplified().replace(QLatin1Char(' '), QLatin1Char('-'));
            if (!warning.isEmpty() && !warnings.contains(warning)) {
                warnings.append(warning);
            }
        }
    }
    return warnings;
}

// The crop's preview is the picture framed to the crop: an SVG whose view box is the crop's
// window, showing the picture defined once by pictureHtml().
QString cropHtml(const ZTCrop& crop, int index, int number, const QString& name, bool hasPicture)
{
    const QSize window = crop.rect.size().expandedTo(QSize(1, 1));
    const QSize preview
        = window.scaled(cropPreviewSide, cropPreviewSide, Qt::KeepAspectRatio).expandedTo({1, 1});
    const QStringList warnings = listedWarnings(crop);
    QString html
        = QStringLiteral("<figure class=\"%1\"><svg viewBox=\"%2 %3 %4 %5\" width=\"%6\" "
                         "height=\"%7\" style=\"border-color: %8\" role=\"img\" "
                         "aria-label=\"the %9 crop\">")
              .arg(QLatin1String(warnings.isEmpty() && !isEnlarged(crop) ? "crop" : "crop warned"),
                  QString::number(crop.rect.x()), QString::number(crop.rect.y()),
                  QString::number(window.width()), QString::number(window.height()),
                  QString::number(preview.width()), QString::number(preview.height()),
                  ZTOverlayPainter::cropColour(index).name(), escaped(crop.request.text));
    if (hasPicture) {
        html += QStringLiteral("<use href=\"#photo-%1\"/>").arg(number);
    }
    html += QStringLiteral("</svg>\n<figcaption>%1: %2 at (%3, %4)%5, %6 of the salience kept%7")
                .arg(name, ZTNumberText::sizeText(crop.rect.size()), QString::number(crop.rect.x()),
                    QString::number(crop.rect.y()),
                    crop.centred ? QStringLiteral(", centred") : QString(),
                    ZTNumberText::percentText(crop.salienceKept), scaleText(crop));
    if (!warnings.isEmpty()) {
        QString items;
        for (const QString& warning : warnings) {
            items += QStringLiteral("<li>%1</li>").arg(escaped(warning));
        }
        html += QStringLiteral("<ul class=\"warnings\">%1</ul>").arg(items);
    }
    return html + QStringLiteral("</figcaption></figure>\n");
}

// Every crop's preview; with --write-crops each crop's name links to its picture (the crop
// files are listed in the crops' order).
QString cropsHtml(const ZTPictureReport& report, int number, const QDir& folder)
{
    QStringList cropFiles;
    for (const ZTOutputFile& file : report.files) {
        if (file.kind.startsWith(QLatin1String("crop-"))) {
            cropFiles.append(file.path);
        }
    }
    QString html;
    for (int i = 0; i < report.crops.size(); ++i) {
        const ZTCrop& crop = report.crops.at(i);
        const QString name = i < cropFiles.size() ? link(cropFiles.at(i), crop.request.text, folder)
                                                  : escaped(crop.request.text);
        html += cropHtml(crop, i, number, name, !report.thumbnail.isEmpty());
    }
    return html;
}

QString heatMapHtml(const ZTPictureReport& report)
{
    if (report.heatMap.isEmpty()) {
        return QString();
    }
    const QSize displayed = ZTReviewPage::thumbnailSize(report.inputSize);
    return QStringLiteral("<details class=\"heat\"><summary>Heat map</summary><img "
                          "src=\"data:image/jpeg;base64,%1\" width=\"%2\" height=\"%3\" "
                          "alt=\"The salience as heat: white where it is highest\"></details>\n")
        .arg(QString::fromLatin1(report.heatMap.toBase64()), QString::number(displayed.width()),
            QString::number(displayed.height()));
}

// The least salience that a crop of the picture keeps, by which the page sorts; 1 without crops.
double leastKept(const ZTPictureReport& report)
{
    double least = 1.0;
    for (const ZTCrop& crop : report.crops) {
        least = std::min(least, crop.salienceKept);
    }
    return least;
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

// The whole picture at the thumbnail's size; null when it cannot be made.
QImage smallPicture(const QImage& picture, const QSize& inputSize)
{
    ZTCrop whole;
    whole.rect = QRect(QPoint(0, 0), inputSize);
    return thumbnailWriter().render(picture, inputSize, whole, QStringLiteral("jpg"));
}

QByteArray jpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly)
        || !image.save(&buffer, "jpeg", quality)) {
        return QByteArray();
    }
    return bytes;
}

// The hash by which the page's content security policy lets its one script run.
QString scriptHash()
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray(pageScript), QCryptographicHash::Sha256).toBase64());
}

} // namespace

QSize ZTReviewPage::thumbnailSize(const QSize& picture)
{
    return thumbnailWriter().outputSize(ZTCropRequest(), picture);
}

QByteArray ZTReviewPage::thumbnail(const QImage& picture, const QSize& inputSize)
{
    return jpeg(smallPicture(picture, inputSize), thumbnailQuality);
}

void ZTReviewPage::makePreviews(const QImage& picture, const QImage& map, ZTPictureReport* report)
{
    const QImage small = smallPicture(picture, report->inputSize);
    report->thumbnail = jpeg(small, thumbnailQuality);
    // The overlay painter draws the heat, and the focal ring, at the size of the photo given.
    // Heat needs less detail than the picture: it is made at half the thumbnail's size and
    // shown at the thumbnail's, which keeps the page a third smaller.
    const QSize heatSize = (small.size() / heatMapReduction).expandedTo(QSize(1, 1));
    const QImage smaller = small.isNull()
        ? QImage()
        : ZTResampler::resample(small.convertToFormat(QImage::Format_RGB32), QRectF(small.rect()),
            heatSize);
    const QImage heat
        = ZTOverlayPainter::paint(smaller, map, report->inputSize, QList<ZTCrop>(), report->focus);
    report->heatMap = jpeg(heat, heatMapQuality);
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
        countText(m_count, "picture", "pictures"), scriptHash(), QStringLiteral("%3"));
    const int noteAt = start.indexOf(QLatin1String("%3"));
    write(start.left(noteAt));
    m_stopNoteAt = m_file.pos();
    write(QString(stopNoteRoom, QLatin1Char(' ')) + start.mid(noteAt + 2));
    return true;
}

void ZTReviewPage::setDeclaredAreas(const QList<QRect>& areas)
{
    m_areas = areas;
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
    write(entry(report, m_added, m_folder, m_areas));
    if (!report.ok()) {
        ++m_failed;
        m_failures += QStringLiteral("<li><a href=\"#picture-%1\">%2</a>: %3</li>\n")
                          .arg(m_added)
                          .arg(escaped(report.input), escaped(report.error));
    }
}

bool ZTReviewPage::commit(QString* error)
{
    QString end = QStringLiteral("</main>\n");
    // Written last, shown first: the page's style puts this section above the pictures.
    if (!m_failures.isEmpty()) {
        end += QStringLiteral("<section id=\"failures\">\n<h2 class=\"error\">%1</h2>\n<ul>\n%2"
                              "</ul>\n</section>\n")
                   .arg(countText(m_failed, "picture failed", "pictures failed"), m_failures);
    }
    end += QStringLiteral("<footer>\n<h2>Summary</h2>\n<p>%1 analysed, %2.</p>\n</footer>\n")
               .arg(countText(m_added - m_failed, "picture", "pictures"),
                   countText(m_failed, "failure", "failures"));
    write(end + QStringLiteral("<script>") + QString::fromLatin1(pageScript)
        + QStringLiteral("</script>\n</body>\n</html>\n"));
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

QString ZTReviewPage::entry(
    const ZTPictureReport& report, int number, const QDir& folder, const QList<QRect>& areas)
{
    const QString name
        = report.bundled ? escaped(report.input) : link(report.input, report.input, folder);
    // What the page's script sorts and filters by.
    const QString data
        = QStringLiteral("data-index=\"%1\" data-name=\"%2\" data-warnings=\"%3\" data-kept=\"%4\"")
              .arg(QString::number(number), escaped(report.input),
                  escaped(pictureWarnings(report).join(QLatin1Char(' '))),
                  QString::number(report.ok() ? leastKept(report) : 0.0));
    QString html = QStringLiteral("<article id=\"picture-%1\" class=\"%2\" %3>\n<h2>%4</h2>\n")
                       .arg(QString::number(number),
                           QLatin1String(report.ok() ? "picture" : "picture failed"), data, name);
    if (!report.ok()) {
        return html
            + QStringLiteral("<p class=\"error\"><strong>Error:</strong> %1</p>\n</article>\n")
                  .arg(escaped(report.error));
    }
    html += QStringLiteral("<div class=\"views\">\n") + pictureHtml(report, number, areas)
        + cropsHtml(report, number, folder) + QStringLiteral("</div>\n");
    html += heatMapHtml(report) + gridTable(report) + otherFiles(report, folder);
    return html + QStringLiteral("</article>\n");
}
