#include "ZTAtomicFile.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

bool ZTAtomicFile::writeImage(const QString& path, const QImage& image, int quality, QString* error)
{
    const auto failed = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return false;
    };

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return failed(QStringLiteral("cannot write %1 (%2)").arg(path, file.errorString()));
    }
    QImageWriter writer(&file, QFileInfo(path).suffix().toLower().toLatin1());
    writer.setQuality(quality);
    if (!writer.write(image)) {
        file.cancelWriting();
        return failed(QStringLiteral("cannot encode %1 (%2)").arg(path, writer.errorString()));
    }
    if (!file.commit()) {
        return failed(QStringLiteral("cannot write %1 (%2)").arg(path, file.errorString()));
    }
    return true;
}
