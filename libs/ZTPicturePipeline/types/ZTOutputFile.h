#ifndef ZTOUTPUTFILE_H
#define ZTOUTPUTFILE_H

#include <QString>

/** A file written for a picture. */
struct ZTOutputFile
{
    QString kind; ///< "salience", "overlay", a method's name or a crop's ("crop-16x9")
    QString path;
    /** When another file kept the file's own name: that name's path, and why it stayed. */
    QString ownPath {};
    QString keptBecause {};
};

#endif // ZTOUTPUTFILE_H
