#pragma once
#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "Types.h"

// Reads the page files (.stg) and collection files (.col) of BSI Stinger and
// turns each page into a tab of 36 buttons. Static functions only: nothing is
// kept between calls and nothing is ever written. Every problem becomes a
// line in the result's warnings; nothing is thrown and nothing is shown.
class StingerImporter
{
public:
    struct Result
    {
        QList<TabData> tabs;      // one per page read, in the order read
        QList<QString> warnings;  // every problem, in the order met
        bool ok = false;
    };

    // Buttons of every imported tab, whatever the page defines.
    static constexpr int kButtons = 36;

    StingerImporter() = delete;

    // One page as one tab; audio is looked for around the page's own folder.
    static Result importStg(const QString& stgPath);
    // Every page a collection lists, in the order of the set numbers; audio is
    // looked for around the collection's folder.
    static Result importCol(const QString& colPath);

    // Reads one page; audio files are searched relative to baseDir. A page
    // that cannot be opened gives a tab with no buttons and a warning.
    static TabData parseStg(const QString& stgPath, const QString& baseDir, QList<QString>& warnings);
    // The same on the page's bytes; tabName is the name used when the page
    // has no title.
    static TabData parseStgBytes(const QByteArray& bytes, const QString& tabName, const QString& baseDir,
                                 QList<QString>& warnings);
    // The entries of a collection's [Sets] section, ordered by set number
    // (first: the key as written, second: the page path as written).
    static QList<QPair<QString, QString>> readSets(const QByteArray& bytes);

    // The first existing regular file among the places a page's file name may
    // point to (as written, with "/" separators, in baseDir, one sub-folder
    // level below it, in its parent, one level below the parent); empty when
    // none exists.
    static QString resolveAudio(const QString& file, const QString& baseDir);

    // A Windows COLORREF (red in the low byte) as an opaque colour; negative
    // values give an invalid colour.
    static QColor stingerColorToQt(int colorRef);

    // The text of a page or collection: a byte-order mark decides (UTF-8,
    // UTF-16 either way); without one, valid UTF-8 is read as UTF-8 and
    // anything else as Windows-1252.
    static QString decode(const QByteArray& bytes);
    // Decoded, trimmed lines without the empty ones and the comments.
    static QStringList contentLines(const QByteArray& bytes);
};
