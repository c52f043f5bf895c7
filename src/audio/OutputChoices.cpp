#include "OutputChoices.h"

#include <QAudioDevice>
#include <QFontMetrics>
#include <QHash>
#include <QMediaDevices>
#include <QSet>
#include <QTextBoundaryFinder>
#include <algorithm>

#include "Utf8Cut.h"

namespace OutputChoices {

namespace {

Lister& listerSlot()
{
    static Lister l;
    return l;
}

const QString kEllipsis = QStringLiteral("...");

} // namespace

void setLister(Lister lister)
{
    listerSlot() = std::move(lister);
}

QList<Output> outputs()
{
    if (const Lister& l = listerSlot())
        return l();
    QList<Output> out;
    for (const QAudioDevice& d : QMediaDevices::audioOutputs())
        out.append({d.description(), d.id()});
    return out;
}

namespace {

// How much a name may take and how its length is counted: in characters for
// the rows of a chooser's list, in pixels of a font for what a closed chooser
// shows. Either way a name is cut only between whole characters.
struct Room
{
    int width = 0;
    const QFontMetrics* font = nullptr;

    int of(const QString& text) const { return font ? font->horizontalAdvance(text) : int(text.size()); }

    // The longest start of text that, followed by after, takes at most width.
    QString head(const QString& text, int width, const QString& after) const
    {
        if (!font)
            return text.left(wholeCharsBefore(text, std::max<qsizetype>(0, width - after.size())));
        QTextBoundaryFinder chars(QTextBoundaryFinder::Grapheme, text);
        qsizetype kept = 0;
        for (qsizetype at = chars.toNextBoundary(); at > 0; at = chars.toNextBoundary()) {
            if (of(text.left(at) + after) > width)
                break;
            kept = at;
        }
        return text.left(kept);
    }
};

// The text within width: whole when it fits, else its start and "...".
QString cutEnd(const QString& text, const Room& room, int width)
{
    if (room.of(text) <= width)
        return text;
    return room.head(text, width, kEllipsis) + kEllipsis;
}

} // namespace

QString cut(const QString& description, int maxChars)
{
    return cutEnd(description, Room{maxChars}, maxChars);
}

namespace {

// The least of a name's start kept before a middle cut, in characters.
constexpr int kMinHead = 6;

QString numbered(const QString& base, int n)
{
    return base + QStringLiteral(" (%1)").arg(n);
}

// The whole name of each output: its description, numbered where another
// output or a taken row has the same one.
QStringList wholeNames(const QList<Output>& outputs, const QStringList& taken, QList<int>* number)
{
    QHash<QString, QList<int>> byDescription;
    QSet<QString> used(taken.begin(), taken.end());
    for (int i = 0; i < outputs.size(); ++i) {
        byDescription[outputs[i].description].append(i);
        used.insert(outputs[i].description);
    }
    number->fill(0, outputs.size());
    QStringList whole;
    for (const Output& o : outputs)
        whole.append(o.description);
    // Descriptions in order, so that which number is skipped does not hang
    // on the hash's order.
    QStringList descriptions = byDescription.keys();
    descriptions.sort();
    for (const QString& d : descriptions) {
        QList<int>& same = byDescription[d];
        if (same.size() < 2 && !taken.contains(d))
            continue;
        std::stable_sort(same.begin(), same.end(), [&](int a, int b) { return outputs[a].id < outputs[b].id; });
        int n = 0;
        for (int i : same) {
            do
                ++n;
            while (used.contains(numbered(d, n)));
            (*number)[i] = n;
            whole[i] = numbered(d, n);
            used.insert(whole[i]);
        }
    }
    return whole;
}

// The name cut at its end; a number stays whole after the cut description.
QString endCut(const QString& description, int number, const Room& room)
{
    if (number == 0)
        return cutEnd(description, room, room.width);
    const QString tail = numbered(QString(), number);
    return cutEnd(description, room, std::max(room.of(kEllipsis), room.width - room.of(tail))) + tail;
}

int commonPrefix(const QString& a, const QString& b)
{
    const int n = int(std::min(a.size(), b.size()));
    int i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// The first count whole characters of text.
QString firstChars(const QString& text, int count)
{
    QTextBoundaryFinder chars(QTextBoundaryFinder::Grapheme, text);
    qsizetype at = 0;
    for (int i = 0; i < count && at >= 0 && at < text.size(); ++i)
        at = chars.toNextBoundary();
    return text.left(at < 0 ? text.size() : at);
}

// The name cut in its middle so that it keeps its end from the word where
// it parts from the names it would read alike (differsAt, the length of the
// longest start it shares with them); empty when that end does not fit.
QString middleCut(const QString& name, int differsAt, const Room& room)
{
    const int room4Tail = room.width - room.of(kEllipsis) - room.of(firstChars(name, kMinHead));
    differsAt = int(wholeCharsBefore(name, differsAt));
    if (differsAt <= 0 || differsAt >= name.size())
        return QString();
    int from = differsAt;
    while (from > 0 && !name[from - 1].isSpace())
        --from;
    if (room.of(name.mid(from)) > room4Tail)
        from = differsAt;
    if (room.of(name.mid(from)) > room4Tail)
        return QString();
    // Words before it join the end while it stays within half the width.
    const int half = (room.width - room.of(kEllipsis)) / 2;
    for (;;) {
        int earlier = from - 1;
        while (earlier > 0 && name[earlier - 1].isSpace())
            --earlier;
        while (earlier > 0 && !name[earlier - 1].isSpace())
            --earlier;
        earlier = int(wholeCharsBefore(name, earlier));
        if (earlier <= 0 || room.of(name.mid(earlier)) > half)
            break;
        from = earlier;
    }
    const QString tail = name.mid(from).trimmed();
    QString head = room.head(name, room.width, kEllipsis + tail);
    // The head ends on a word when it can keep most of itself.
    const int lastSpace = int(head.lastIndexOf(QLatin1Char(' ')));
    if (head.size() < name.size() && !name[head.size()].isSpace() && lastSpace > head.size() / 2)
        head.truncate(lastSpace);
    return head.trimmed() + kEllipsis + tail;
}

// The name cut so that it keeps the part where it parts from the names it
// would read alike, giving up its start, and its end too when that does not
// fit: for a width too narrow for a middle cut.
QString cutAround(const QString& name, int differsAt, const Room& room)
{
    const QString rest = name.mid(wholeCharsBefore(name, differsAt));
    const int restRoom = room.width - room.of(kEllipsis);
    if (room.of(rest) <= restRoom)
        return room.head(name, room.width, kEllipsis + rest) + kEllipsis + rest;
    const QString kept = cutEnd(rest, room, restRoom);
    // Not even one character of it fits: no better than before.
    return kept == kEllipsis ? QString() : kEllipsis + kept;
}

// The outputs whose shown name was cut and reads as another entry's.
QList<int> alikeCut(const QStringList& whole, const QStringList& shown, const QStringList& taken)
{
    QHash<QString, int> count;
    for (const QString& s : shown)
        ++count[s];
    QList<int> out;
    for (int i = 0; i < shown.size(); ++i)
        if (shown[i] != whole[i] && (count.value(shown[i]) > 1 || taken.contains(shown[i])))
            out.append(i);
    return out;
}

// Where each name of alike parts from the names it reads as: the length of
// the longest start it shares with them.
QList<int> partingPlaces(const QList<int>& alike, const QStringList& whole, const QStringList& shown,
                         const QStringList& taken)
{
    QList<int> out;
    for (int i : alike) {
        int differsAt = 0;
        for (int j = 0; j < shown.size(); ++j)
            if (j != i && shown[j] == shown[i])
                differsAt = std::max(differsAt, commonPrefix(whole[i], whole[j]));
        if (taken.contains(shown[i]))
            differsAt = std::max(differsAt, commonPrefix(whole[i], shown[i]));
        out.append(differsAt);
    }
    return out;
}

// Cut names that read alike are cut again by cutter, where that tells them
// apart. Returns the names that still read alike.
template<typename Cutter>
QList<int> cutAlikeAgain(const QStringList& whole, const QStringList& taken, QStringList& shown, Cutter cutter)
{
    const QList<int> alike = alikeCut(whole, shown, taken);
    const QList<int> differsAt = partingPlaces(alike, whole, shown, taken);
    for (int k = 0; k < alike.size(); ++k) {
        const QString again = cutter(whole[alike[k]], differsAt[k]);
        if (!again.isEmpty())
            shown[alike[k]] = again;
    }
    return alikeCut(whole, shown, taken);
}

// Names still alike are numbered instead.
void numberAlike(QList<int> alike, const QList<Output>& outputs, const Room& room, const QStringList& taken,
                 QStringList& shown)
{
    std::stable_sort(alike.begin(), alike.end(), [&](int a, int b) {
        return outputs[a].description != outputs[b].description ? outputs[a].description < outputs[b].description
                                                                : outputs[a].id < outputs[b].id;
    });
    QSet<QString> used(taken.begin(), taken.end());
    for (int i = 0; i < shown.size(); ++i)
        if (!alike.contains(i))
            used.insert(shown[i]);
    for (int i : alike) {
        int n = 0;
        do
            shown[i] = endCut(outputs[i].description, ++n, room);
        while (used.contains(shown[i]));
        used.insert(shown[i]);
    }
}

} // namespace

QStringList wholeNames(const QList<Output>& outputs, const QStringList& taken)
{
    QList<int> number;
    return wholeNames(outputs, taken, &number);
}

QStringList names(const QList<Output>& outputs, int maxChars, const QStringList& taken)
{
    const Room room{maxChars};
    QList<int> number;
    const QStringList whole = wholeNames(outputs, taken, &number);
    QStringList shown;
    shown.reserve(outputs.size());
    for (int i = 0; i < outputs.size(); ++i)
        shown.append(endCut(outputs[i].description, number[i], room));
    const QList<int> alike = cutAlikeAgain(whole, taken, shown, [&](const QString& name, int differsAt) {
        return middleCut(name, differsAt, room);
    });
    if (!alike.isEmpty())
        numberAlike(alike, outputs, room, taken, shown);
    return shown;
}

QStringList fit(const QStringList& whole, const QFontMetrics& font, int width, const QStringList& listed)
{
    const Room room{width, &font};
    QStringList shown;
    shown.reserve(whole.size());
    for (int i = 0; i < whole.size(); ++i)
        shown.append(i < listed.size() && room.of(listed[i]) <= width ? listed[i] : cutEnd(whole[i], room, width));
    cutAlikeAgain(whole, {}, shown, [&](const QString& name, int differsAt) { return middleCut(name, differsAt, room); });
    // Too narrow for a middle cut: keep the part where they differ. A second
    // round tells apart names that the first made alike.
    for (int round = 0; round < 2; ++round)
        if (cutAlikeAgain(whole, {}, shown, [&](const QString& name, int differsAt) {
                return cutAround(name, differsAt, room);
            }).isEmpty())
            break;
    return shown;
}

QString toolTip(const Output& output)
{
    return output.description + QStringLiteral(" — ") + QString::fromUtf8(output.id);
}

QString notConnected(const QString& name)
{
    return name + QStringLiteral("  (not connected)");
}

} // namespace OutputChoices
