#include "ZTRunTotals.h"

#include "report/ZTReportFormatter.h"

void ZTRunTotals::add(const ZTPictureReport& report)
{
    if (!report.ok()) {
        ++failed;
        return;
    }
    ++analysed;
    filesWritten += int(report.files.size());
    for (const ZTCrop& crop : report.crops) {
        cropsEnlarged += ZTReportFormatter::isEnlarged(crop) ? 1 : 0;
        cropsWeak += ZTReportFormatter::weakWarnings(crop).isEmpty() ? 0 : 1;
    }
}

QString ZTRunTotals::text(double seconds) const
{
    return QStringLiteral("%1 %2 analysed, %3 failed; %4 %5 written; crops: %6 enlarged, %7 weak; "
                          "%8 s")
        .arg(analysed)
        .arg(analysed == 1 ? QStringLiteral("picture") : QStringLiteral("pictures"))
        .arg(failed)
        .arg(filesWritten)
        .arg(filesWritten == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(cropsEnlarged)
        .arg(cropsWeak)
        .arg(seconds, 0, 'f', 2);
}
