#ifndef ZTOUTPUTWRITER_H
#define ZTOUTPUTWRITER_H

#include "analysis/ZTPictureAnalyzer.h"
#include "crops/ZTCropWriter.h"
#include "settings/ZTAnalysisSettings.h"

#include <QString>

class ZTOutputFolder;
class ZTOutputTransaction;

/**
 * Writes the files that the settings ask for of one analysed picture: the salience map, each
 * method's map, the overlay and the crops, all or none of them. Used by one thread at a time;
 * several writers may share one folder.
 */
class ZTOutputWriter
{
public:
    /** Writes into @p folder, which must outlive the writer, and be open when @p settings write
     * files. */
    ZTOutputWriter(const ZTAnalysisSettings& settings, const ZTOutputFolder& folder);

    /**
     * Writes the files of @p analysis, named @p outputName + ".KIND.png" or the next free name
     * (see ZTOutputTransaction), and lists them in its report. An @p outputName with folders in
     * it ("a/b") writes into that subfolder of the folder (ZTOutputFolder::openSubfolder()). When
     * one cannot be written, the others are taken back, the files they replaced put back, and the
     * report is reduced to the error. A failed analysis writes nothing. Never throws.
     */
    void write(ZTPictureAnalysis& analysis, const QString& outputName) const;

private:
    bool writeAll(
        ZTPictureAnalysis& analysis, const QString& outputName, ZTOutputTransaction& files) const;
    bool writeCrops(
        ZTPictureAnalysis& analysis, const QString& outputName, ZTOutputTransaction& files) const;
    bool writeFile(ZTPictureReport& report, ZTOutputTransaction& files, const QString& outputName,
        const QString& kind, const QImage& image, int quality, const QString& format) const;

    ZTAnalysisSettings m_settings;
    const ZTOutputFolder& m_folder;
    ZTCropWriter m_cropWriter;
};

#endif // ZTOUTPUTWRITER_H
