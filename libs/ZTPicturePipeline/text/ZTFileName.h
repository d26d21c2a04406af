#ifndef ZTFILENAME_H
#define ZTFILENAME_H

#include <QByteArray>
#include <QString>

/**
 * File names as the system has them (bytes) and as ztroi carries them (QString), without loss.
 * Bytes that form valid UTF-8 become those characters; every other byte B becomes the lone
 * surrogate U+DC00 + B (0x80 <= B <= 0xFF), which no valid UTF-8 produces. JSON writes such a
 * character as "\udcXX", and a reader gets the bytes back the same way (Python:
 * os.fsencode(name) with its default "surrogateescape").
 */
class ZTFileName
{
public:
    /** The name for the bytes @p name (from argv, a list, the file system). */
    static QString fromBytes(const QByteArray& name);
    /** The bytes of @p name, the exact inverse of fromBytes(). */
    static QByteArray toBytes(const QString& name);
    /**
     * @p text with its control characters written as \n, \t, \r or \xNN, for messages: a name
     * or a value shown there keeps to one line and cannot move the terminal's cursor.
     */
    static QString printable(const QString& text);
    /**
     * The name that the outputs of the picture @p path start from: its file name without its
     * last suffix, or "picture" when that is empty.
     */
    static QString outputBase(const QString& path);
};

#endif // ZTFILENAME_H
