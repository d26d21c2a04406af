#ifndef ZTOUTPUTFILE_H
#define ZTOUTPUTFILE_H

#include <QString>

/** A file written for a picture. */
struct ZTOutputFile
{
    QString kind; ///< "salience", "overlay", a method's name or a crop's ("crop-16x9")
    QString path;
};

#endif // ZTOUTPUTFILE_H
