#pragma once
#include <QString>
#include <QTextBoundaryFinder>
#include <algorithm>

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

// The last place at or before pos where text may be cut between whole
// characters as the reader sees them: never inside a surrogate pair, between
// a letter and its accent, or inside an emoji sequence (a flag, a skin tone,
// a family joined by zero-width joiners).
inline qsizetype wholeCharsBefore(const QString& text, qsizetype pos)
{
    if (pos <= 0)
        return 0;
    if (pos >= text.size())
        return text.size();
    QTextBoundaryFinder chars(QTextBoundaryFinder::Grapheme, text);
    chars.setPosition(pos);
    return chars.isAtBoundary() ? pos : std::max<qsizetype>(0, chars.toPreviousBoundary());
}
