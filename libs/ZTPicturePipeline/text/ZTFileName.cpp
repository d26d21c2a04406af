#include "text/ZTFileName.h"

#include <QFileInfo>

namespace {

constexpr char32_t escapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at @p at, and its code point; 0 when the bytes there
// are not valid UTF-8 (overlong forms, surrogates and code points above U+10FFFF included).
int utf8Sequence(const uchar* at, const uchar* end, char32_t* codePoint)
{
    const uchar lead = at[0];
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (end - at < length) {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (at[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return length;
}

} // namespace

QString ZTFileName::fromBytes(const QByteArray& name)
{
    QString text;
    text.reserve(name.size());
    const uchar* at = reinterpret_cast<const uchar*>(name.constData());
    const uchar* const end = at + name.size();
    while (at < end) {
        char32_t codePoint = 0;
        const int length = utf8Sequence(at, end, &codePoint);
        if (length == 0) {
            text.append(QChar(ushort(escapeBase + *at++)));
        } else if (QChar::requiresSurrogates(codePoint)) {
            text.append(QChar(QChar::highSurrogate(codePoint)));
            text.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            text.append(QChar(ushort(codePoint)));
        }
        at += length;
    }
    return text;
}

QByteArray ZTFileName::toBytes(const QString& name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    for (int i = 0; i < name.size(); ++i) {
        const ushort unit = name.at(i).unicode();
        if (unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF) {
            bytes.append(char(unit - escapeBase));
        } else if (QChar::isHighSurrogate(unit) && i + 1 < name.size()
            && name.at(i + 1).isLowSurrogate()) {
            bytes.append(name.mid(i, 2).toUtf8());
            ++i;
        } else {
            bytes.append(QString(QChar(unit)).toUtf8()); // another lone surrogate: U+FFFD
        }
    }
    return bytes;
}

QString ZTFileName::printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            shown += QLatin1String("\\n");
        } else if (c == QLatin1Char('\t')) {
            shown += QLatin1String("\\t");
        } else if (c == QLatin1Char('\r')) {
            shown += QLatin1String("\\r");
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    return shown;
}

QString ZTFileName::outputBase(const QString& path)
{
    const QString base = QFileInfo(path).completeBaseName();
    return base.isEmpty() ? QStringLiteral("picture") : base;
}
