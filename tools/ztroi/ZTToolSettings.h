#ifndef ZTTOOLSETTINGS_H
#define ZTTOOLSETTINGS_H

#include "settings/ZTAnalysisSettings.h"

#include <QList>
#include <QString>
#include <QStringList>

/** A file of picture paths: --list (one a line) or --list0 (NUL-separated); "-" is stdin. */
struct ZTInputList
{
    QString path;
    char separator = '\n';
};

/**
 * Everything that one run of ztroi does, as parsed from its command line: the analysis of each
 * picture (the base) and the run around it.
 */
struct ZTToolSettings : ZTAnalysisSettings
{
    QStringList inputs;            ///< the command line's pictures; the lists' entries follow
    QList<ZTInputList> inputLists; ///< every --list and --list0, in the order given
    bool json = false;
    bool quiet = false;
    bool verbose = false;   ///< the detailed summary, and what the decoders say
    bool recursive = false; ///< search the folders among the inputs for pictures
    int jobs = 1;
};

#endif // ZTTOOLSETTINGS_H
