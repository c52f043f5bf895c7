#pragma once
// What an output chooser shows its user, row by row: closed, as its box is
// painted with the row chosen, and open, as its list draws the row. The
// faults found come back as lines, none when every row reads right.
// Header-only: suites that use it link the chooser already.
#include <QAbstractItemView>
#include <QImage>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStringList>
#include <QTextBoundaryFinder>

#include "OutputChooser.h"

namespace TestSupport {

// Whether shown draws only whole characters of whole: no half of a surrogate
// pair alone, no U+FFFD, and each stretch between "..." cut out of whole
// between whole characters (an emoji and its skin tone stay together). A
// number that tells apart names cut alike is not part of whole.
inline bool wholeCharsOf(QString shown, const QString& whole)
{
    static const QRegularExpression number(QStringLiteral(" \\(\\d+\\)$"));
    if (!whole.contains(number))
        shown.remove(number);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown[i];
        if ((c.isHighSurrogate() && (i + 1 == shown.size() || !shown[i + 1].isLowSurrogate()))
            || (c.isLowSurrogate() && (i == 0 || !shown[i - 1].isHighSurrogate())) || c == QChar::ReplacementCharacter)
            return false;
    }
    QTextBoundaryFinder chars(QTextBoundaryFinder::Grapheme, whole);
    for (const QString& piece : shown.split(QStringLiteral("..."), Qt::SkipEmptyParts)) {
        const qsizetype at = whole.indexOf(piece);
        if (at < 0)
            return false;
        chars.setPosition(at);
        const bool starts = chars.isAtBoundary();
        chars.setPosition(at + piece.size());
        if (!starts || !chars.isAtBoundary())
            return false;
    }
    return true;
}

// Shows each row of the chooser closed and open. Faults: two rows that read
// alike either way, a row that splits a character, a closed tip that does
// not give the chosen row whole.
inline QStringList chooserFaults(OutputChooser* c)
{
    QStringList faults;
    const QSignalBlocker quiet(c);
    const int was = c->currentIndex();
    // Ink that shows on any theme's box, so that the text tells in the pixels.
    const QPalette palette = c->palette();
    QPalette inked = palette;
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        inked.setColor(role, QColor(255, 0, 255));
    c->setPalette(inked);
    QList<QImage> closed;
    for (int row = 0; row < c->count(); ++row) {
        c->setCurrentIndex(row);
        closed.append(c->grab().toImage());
        const QString whole = c->prefix() + c->wholeName(row);
        if (!wholeCharsOf(c->itemText(row), whole))
            faults << QStringLiteral("listed row %1 splits a character: %2").arg(row).arg(c->itemText(row));
        if (!wholeCharsOf(c->closedText(), whole))
            faults << QStringLiteral("closed row %1 splits a character: %2").arg(row).arg(c->closedText());
        // Closed, the tip gives the row whole: an output's description and
        // id, another row's name when the box cuts it.
        const QString rowTip = c->itemData(row, Qt::ToolTipRole).toString();
        const QString tip = !rowTip.isEmpty() ? rowTip : c->closedText() != whole ? c->wholeName(row) : QString();
        if (c->toolTip() != tip)
            faults << QStringLiteral("closed row %1 tips \"%2\", not \"%3\"").arg(row).arg(c->toolTip(), tip);
    }
    c->setCurrentIndex(was);
    c->setPalette(palette);

    // Open: each row as the list draws it, the chosen one (drawn marked) aside.
    c->showPopup();
    QAbstractItemView* view = c->view();
    QList<QImage> open;
    for (int row = 0; row < c->count(); ++row)
        open.append(view->viewport()->grab(view->visualRect(c->model()->index(row, 0))).toImage());
    c->hidePopup();

    for (int i = 0; i < c->count(); ++i)
        for (int j = i + 1; j < c->count(); ++j) {
            if (closed[i] == closed[j])
                faults << QStringLiteral("closed, rows %1 and %2 read alike: %3 / %4")
                              .arg(i).arg(j).arg(c->itemText(i), c->itemText(j));
            if (i != was && j != was && open[i] == open[j])
                faults << QStringLiteral("open, rows %1 and %2 read alike: %3 / %4")
                              .arg(i).arg(j).arg(c->itemText(i), c->itemText(j));
        }
    return faults;
}

} // namespace TestSupport
