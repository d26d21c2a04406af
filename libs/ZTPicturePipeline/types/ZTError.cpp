#include "types/ZTError.h"

#include <cerrno>

namespace ZTError {

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::None:
        return QString();
    case Kind::NotFound:
        return QStringLiteral("not-found");
    case Kind::Permission:
        return QStringLiteral("permission");
    case Kind::NotAFile:
        return QStringLiteral("not-a-file");
    case Kind::ReadFailed:
        return QStringLiteral("read-failed");
    case Kind::UnsupportedFormat:
        return QStringLiteral("unsupported-format");
    case Kind::Damaged:
        return QStringLiteral("damaged");
    case Kind::TooLarge:
        return QStringLiteral("too-large");
    case Kind::OverBudget:
        return QStringLiteral("over-budget");
    case Kind::OutOfMemory:
        return QStringLiteral("out-of-memory");
    case Kind::WriteFailed:
        return QStringLiteral("write-failed");
    case Kind::Unavailable:
        return QStringLiteral("unavailable");
    case Kind::Internal:
        break;
    }
    return QStringLiteral("internal");
}

Kind kindOfErrno(int error, Kind otherwise)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return Kind::NotFound;
    case EACCES:
    case EPERM:
        return Kind::Permission;
    default:
        return otherwise;
    }
}

} // namespace ZTError
