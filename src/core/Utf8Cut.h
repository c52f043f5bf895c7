#pragma once
#include <QString>

// Cuts text to at most maxBytes of UTF-8 without splitting a character: the
// length limit of a name on disk counts bytes, not characters.
inline QString cutUtf8(const QString& text, int maxBytes)
{
    QString out;
    int bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString ch = text.mid(i, len);
        const int b = int(ch.toUtf8().size());
        if (bytes + b > maxBytes)
            break;
        out += ch;
        bytes += b;
        i += len;
    }
    return out;
}
