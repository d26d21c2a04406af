#include "report/ZTReportFormatter.h"

#include "crops/ZTCropWarnings.h"
#include "crops/ZTOverlayPainter.h"
#include "settings/ZTAnalysisSettings.h"
#include "text/ZTFileName.h"
#include "text/ZTNumberText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <cmath>

namespace {

QJsonObject sizeObject(const QSize& size)
{
    return {{QStringLiteral("width"), size.width()}, {QStringLiteral("height"), size.height()}};
}

QJsonObject rectObject(const QRect& rect)
{
    return {{QStringLiteral("x"), rect.x()}, {QStringLiteral("y"), rect.y()},
        {QStringLiteral("width"), rect.width()}, {QStringLiteral("height"), rect.height()}};
}

double roundedShare(double share)
{
    return std::round(share * 10000.0) / 10000.0;
}

// "  ! enlarged 2.50x, weak": the crop's warnings, the enlargement with its scale; empty without.
QString warningTag(const ZTCrop& crop)
{
    if (crop.warnings.isEmpty()) {
        return QString();
    }
    QStringList words = crop.warnings;
    const int enlarged = words.indexOf(ZTCropWarnings::enlarged);
    if (enlarged >= 0) {
        words[enlarged] += QStringLiteral(" %1x").arg(crop.scale, 0, 'f', 2);
    }
    return QStringLiteral("  ! ") + words.join(QLatin1String(", "));
}

} // namespace

QString ZTReportFormatter::focusCss(const QPoint& focus, const QSize& picture)
{
    if (picture.isEmpty()) {
        return QString();
    }
    return ZTNumberText::percentText(focus.x(), picture.width()) + QLatin1Char(' ')
        + ZTNumberText::percentText(focus.y(), picture.height());
}

QJsonObject ZTReportFormatter::toJson(const ZTPictureReport& report)
{
    QJsonObject json {
        {QStringLiteral("version"), jsonVersion}, {QStringLiteral("input"), report.input}};
    if (!report.ok()) {
        // A failure without a kind of its own counts as the analysis's.
        const ZTError::Kind kind
            = report.errorKind == ZTError::Kind::None ? ZTError::Kind::Internal : report.errorKind;
        json.insert(QStringLiteral("error"),
            QJsonObject {{QStringLiteral("kind"), ZTError::kindName(kind)},
                {QStringLiteral("message"), report.error}});
        return json;
    }
    json.insert(QStringLiteral("size"), sizeObject(report.inputSize));
    json.insert(QStringLiteral("analysisSize"), sizeObject(report.analysisSize));

    QJsonArray methods;
    for (const ZTMethodState& state : report.methods) {
        methods.append(QJsonObject {
            {QStringLiteral("name"), ZTAnalysisSettings::methodName(state.method)},
            {QStringLiteral("enabled"), state.enabled},
            {QStringLiteral("weight"), state.weight},
        });
    }
    json.insert(QStringLiteral("methods"), methods);

    QJsonArray crops;
    for (const ZTCrop& crop : report.crops) {
        QJsonObject object {
            {QStringLiteral("request"), crop.request.text},
            {QStringLiteral("aspect"), crop.request.aspectText()},
            {QStringLiteral("rect"), rectObject(crop.rect)},
            {QStringLiteral("salienceKept"), roundedShare(crop.salienceKept)},
            {QStringLiteral("centred"), crop.centred},
        };
        if (crop.request.outputSize.isValid()) {
            object.insert(QStringLiteral("outputSize"), sizeObject(crop.request.outputSize));
        }
        if (crop.areasKept >= 0) {
            object.insert(QStringLiteral("areasKept"), crop.areasKept);
        }
        if (crop.writtenSize.isValid()) {
            object.insert(QStringLiteral("writtenSize"), sizeObject(crop.writtenSize));
        }
        object.insert(QStringLiteral("scale"), roundedShare(crop.scale));
        object.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(crop.warnings));
        crops.append(object);
    }
    json.insert(QStringLiteral("crops"), crops);
    if (report.facesFound >= 0) {
        QJsonArray faces;
        for (const QRect& face : report.faces) {
            faces.append(rectObject(face));
        }
        json.insert(QStringLiteral("faces"), faces);
        json.insert(QStringLiteral("facesFound"), report.facesFound);
        if (!report.faceDetector.isEmpty()) {
            json.insert(QStringLiteral("faceDetector"), report.faceDetector);
        }
    }
    json.insert(QStringLiteral("focus"),
        QJsonObject {{QStringLiteral("x"), report.focus.x()},
            {QStringLiteral("y"), report.focus.y()},
            {QStringLiteral("css"), focusCss(report.focus, report.inputSize)}});

    if (report.grid.isValid()) {
        QJsonArray rows;
        for (int row = 0; row < report.grid.height(); ++row) {
            QJsonArray scores;
            for (int column = 0; column < report.grid.width(); ++column) {
                scores.append(report.gridScores.value(row * report.grid.width() + column));
            }
            rows.append(scores);
        }
        json.insert(QStringLiteral("grid"),
            QJsonObject {{QStringLiteral("columns"), report.grid.width()},
                {QStringLiteral("rows"), report.grid.height()}, {QStringLiteral("scores"), rows}});
    }

    QJsonObject files;
    QJsonObject maps;
    QJsonArray cropFiles;
    for (const ZTOutputFile& file : report.files) {
        if (file.kind == QLatin1String("salience") || file.kind == QLatin1String("overlay")) {
            files.insert(file.kind, file.path);
        } else if (file.kind.startsWith(QLatin1String("crop-"))) {
            cropFiles.append(file.path);
        } else {
            maps.insert(file.kind, file.path);
        }
    }
    if (!maps.isEmpty()) {
        files.insert(QStringLiteral("maps"), maps);
    }
    if (!cropFiles.isEmpty()) {
        files.insert(QStringLiteral("crops"), cropFiles);
    }
    json.insert(QStringLiteral("files"), files);

    QJsonArray renamed;
    for (const ZTOutputFile& file : report.files) {
        if (!file.keptBecause.isEmpty()) {
            renamed.append(QJsonObject {{QStringLiteral("path"), file.path},
                {QStringLiteral("wanted"), file.ownPath},
                {QStringLiteral("reason"), file.keptBecause}});
        }
    }
    if (!renamed.isEmpty()) {
        json.insert(QStringLiteral("renamed"), renamed);
    }
    return json;
}

QStringList ZTReportFormatter::renameNotes(const ZTPictureReport& report)
{
    QStringList notes;
    for (const ZTOutputFile& file : report.files) {
        if (!file.keptBecause.isEmpty()) {
            notes.append(file.ownPath + QStringLiteral(" stays (") + file.keptBecause
                + QStringLiteral("); wrote ") + file.path);
        }
    }
    return notes;
}

QByteArray ZTReportFormatter::toJsonLine(const ZTPictureReport& report)
{
    return QJsonDocument(toJson(report)).toJson(QJsonDocument::Compact) + '\n';
}

QString ZTReportFormatter::toText(const ZTPictureReport& report, bool coloursShown)
{
    if (!report.ok()) {
        return QStringLiteral("%1: %2\n").arg(report.input, report.error);
    }
    QString text = QStringLiteral("%1: %2 pixels, analysed at %3\n")
                       .arg(report.input, ZTNumberText::sizeText(report.inputSize),
                           ZTNumberText::sizeText(report.analysisSize));
    text += QStringLiteral("  focal point  (%1, %2)\n").arg(report.focus.x()).arg(report.focus.y());
    if (report.facesFound >= 0) {
        text += QStringLiteral("  faces        %1").arg(report.faces.size());
        if (report.facesFound > report.faces.size()) {
            text += QStringLiteral(" (the largest of %1 found)").arg(report.facesFound);
        }
        text += QLatin1Char('\n');
    }
    for (int i = 0; i < report.crops.size(); ++i) {
        const ZTCrop& crop = report.crops.at(i);
        QString line
            = QStringLiteral("  crop %1  %2 at (%3, %4), keeps %5 of the salience")
                  .arg(crop.request.text.leftJustified(9), ZTNumberText::sizeText(crop.rect.size()))
                  .arg(crop.rect.x())
                  .arg(crop.rect.y())
                  .arg(ZTNumberText::percentText(crop.salienceKept));
        if (crop.centred) {
            line += QStringLiteral(", centred");
        }
        if (crop.areasKept >= 0) {
            line += QStringLiteral(", %1 areas whole").arg(crop.areasKept);
        }
        line += warningTag(crop);
        if (coloursShown) {
            line += QStringLiteral(" [%1]").arg(ZTOverlayPainter::cropColourName(i));
        }
        text += line + QLatin1Char('\n');
    }
    if (report.grid.isValid()) {
        text += QStringLiteral("  grid %1 scores (128 = a fair share):\n")
                    .arg(ZTNumberText::sizeText(report.grid));
        for (int row = 0; row < report.grid.height(); ++row) {
            QStringList scores;
            for (int column = 0; column < report.grid.width(); ++column) {
                scores.append(
                    QString::number(report.gridScores.value(row * report.grid.width() + column))
                        .rightJustified(4));
            }
            text += QStringLiteral("   ") + scores.join(QString()) + QLatin1Char('\n');
        }
    }
    QStringList paths;
    for (const ZTOutputFile& file : report.files) {
        paths.append(file.path);
    }
    if (!paths.isEmpty()) {
        text += QStringLiteral("  wrote        %1\n").arg(paths.join(QLatin1String(", ")));
    }
    return text;
}

bool ZTReportFormatter::isEnlarged(const ZTCrop& crop)
{
    return crop.scale > 1.0;
}

QStringList ZTReportFormatter::weakWarnings(const ZTCrop& crop)
{
    QStringList weak = crop.warnings;
    weak.removeAll(QStringLiteral("enlarged"));
    return weak;
}

QString ZTReportFormatter::toLine(const ZTPictureReport& report)
{
    // A name with a line feed or control bytes in it keeps to its line.
    const QString input = ZTFileName::printable(report.input);
    if (!report.ok()) {
        return QStringLiteral("%1: %2").arg(input, report.error.simplified());
    }
    const QString gap = QStringLiteral("  ");
    QStringList parts {input, ZTNumberText::sizeText(report.inputSize),
        report.crops.size() == 1 ? QStringLiteral("1 crop")
                                 : QStringLiteral("%1 crops").arg(report.crops.size())};
    if (report.facesFound >= 0) {
        parts.append(QStringLiteral("faces %1").arg(report.facesFound));
    }
    if (report.seconds >= 0.0) {
        parts.append(QStringLiteral("%1 s").arg(report.seconds, 0, 'f', 2));
    }
    QStringList enlarged;
    QStringList weak;
    for (const ZTCrop& crop : report.crops) {
        if (isEnlarged(crop)) {
            enlarged.append(
                QStringLiteral("%1 %2x").arg(crop.request.text).arg(crop.scale, 0, 'f', 2));
        }
        const QStringList warnings = weakWarnings(crop);
        if (!warnings.isEmpty()) {
            weak.append(QStringLiteral("%1 (%2)").arg(
                crop.request.text, warnings.join(QLatin1String(", "))));
        }
    }
    if (!enlarged.isEmpty()) {
        parts.append(QStringLiteral("enlarged: ") + enlarged.join(QLatin1String(", ")));
    }
    if (!weak.isEmpty()) {
        parts.append(QStringLiteral("weak: ") + weak.join(QLatin1String(", ")));
    }
    return parts.join(gap);
}
