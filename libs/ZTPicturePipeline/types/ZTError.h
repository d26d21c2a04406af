#ifndef ZTERROR_H
#define ZTERROR_H

#include <QString>

/**
 * What kind of failure ended a picture, beside the text that says it. Programs act on the kind
 * (Python raises FileNotFoundError, PermissionError, ValueError or MemoryError by it); people read
 * the text.
 */
namespace ZTError {

enum class Kind {
    None,              ///< no failure
    NotFound,          ///< the file does not exist
    Permission,        ///< the file or folder may not be read or written
    NotAFile,          ///< a directory, FIFO, socket or device
    ReadFailed,        ///< reading the file failed or it changed meanwhile
    UnsupportedFormat, ///< no picture, or one in a format that is not read
    Damaged,           ///< the picture's data is damaged, truncated or has no pixels
    TooLarge,          ///< the file, the picture or a crop exceeds a size limit
    OverBudget,        ///< the picture does not fit the memory budget
    OutOfMemory,       ///< an allocation failed
    WriteFailed,       ///< an output file or folder could not be written
    Unavailable,       ///< a part that the settings ask for (face detection) cannot be loaded
    Internal,          ///< the analysis itself failed
};

/** The kind as it appears in JSON: "not-found", "over-budget", ...; empty for None. */
QString kindName(Kind kind);
/** The kind of a failed system call's errno: NotFound, Permission, or @p otherwise. */
Kind kindOfErrno(int error, Kind otherwise);

} // namespace ZTError

#endif // ZTERROR_H
