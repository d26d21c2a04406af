// Prints ztroi's options from its option table, one name a line with the syntax of its value
// after a tab (nothing for a flag): what the man page and the bash completion must offer.
#include "ZTOptionParser.h"

#include <cstdio>

int main()
{
    for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
        const QByteArray syntax = row.syntax.toUtf8();
        if (!row.shortName.isEmpty()) {
            std::printf("-%s\t%s\n", row.shortName.toUtf8().constData(), syntax.constData());
        }
        std::printf("--%s\t%s\n", row.name.toUtf8().constData(), syntax.constData());
    }
    return 0;
}
