#include "OutputChoices.h"

#include <QAudioDevice>
#include <QHash>
#include <QMediaDevices>
#include <QSet>
#include <algorithm>

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

QString cut(const QString& description, int maxChars)
{
    if (description.size() <= maxChars)
        return description;
    return description.left(std::max(0, maxChars - int(kEllipsis.size()))) + kEllipsis;
}

namespace {

// The least of a name's start kept before a middle cut.
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
QString endCut(const QString& description, int number, int maxChars)
{
    if (number == 0)
        return cut(description, maxChars);
    const QString tail = numbered(QString(), number);
    return cut(description, std::max(int(kEllipsis.size()), maxChars - int(tail.size()))) + tail;
}

int commonPrefix(const QString& a, const QString& b)
{
    const int n = int(std::min(a.size(), b.size()));
    int i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// The name cut in its middle so that it keeps its end from the word where
// it parts from the names it would read alike (differsAt, the length of the
// longest start it shares with them); empty when that end does not fit.
QString middleCut(const QString& name, int differsAt, int maxChars)
{
    const int room = maxChars - int(kEllipsis.size()) - kMinHead;
    if (differsAt <= 0 || differsAt >= name.size())
        return QString();
    int from = differsAt;
    while (from > 0 && !name[from - 1].isSpace())
        --from;
    if (name.size() - from > room)
        from = differsAt;
    if (name.size() - from > room)
        return QString();
    // Words before it join the end while it stays within half the width.
    const int half = (maxChars - int(kEllipsis.size())) / 2;
    for (;;) {
        int earlier = from - 1;
        while (earlier > 0 && name[earlier - 1].isSpace())
            --earlier;
        while (earlier > 0 && !name[earlier - 1].isSpace())
            --earlier;
        if (earlier <= 0 || name.size() - earlier > half)
            break;
        from = earlier;
    }
    const QString tail = name.mid(from).trimmed();
    QString head = name.left(maxChars - int(kEllipsis.size()) - int(tail.size()));
    // The head ends on a word when it can keep most of itself.
    const int lastSpace = int(head.lastIndexOf(QLatin1Char(' ')));
    if (!name[head.size()].isSpace() && lastSpace > head.size() / 2)
        head.truncate(lastSpace);
    return head.trimmed() + kEllipsis + tail;
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

// Cut names that read alike are cut in the middle, where that tells them
// apart from every other entry, else numbered.
void tellApart(const QList<Output>& outputs, const QStringList& whole, int maxChars, const QStringList& taken,
               QStringList& shown)
{
    QList<int> alike = alikeCut(whole, shown, taken);
    if (alike.isEmpty())
        return;
    const QStringList before = shown;
    for (int i : alike) {
        int differsAt = 0;
        for (int j = 0; j < shown.size(); ++j)
            if (j != i && before[j] == before[i])
                differsAt = std::max(differsAt, commonPrefix(whole[i], whole[j]));
        if (taken.contains(before[i]))
            differsAt = std::max(differsAt, commonPrefix(whole[i], before[i]));
        const QString mid = middleCut(whole[i], differsAt, maxChars);
        if (!mid.isEmpty())
            shown[i] = mid;
    }
    alike = alikeCut(whole, shown, taken);
    if (alike.isEmpty())
        return;
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
            shown[i] = endCut(outputs[i].description, ++n, maxChars);
        while (used.contains(shown[i]));
        used.insert(shown[i]);
    }
}

} // namespace

QStringList names(const QList<Output>& outputs, int maxChars, const QStringList& taken)
{
    QList<int> number;
    const QStringList whole = wholeNames(outputs, taken, &number);
    QStringList shown;
    shown.reserve(outputs.size());
    for (int i = 0; i < outputs.size(); ++i)
        shown.append(endCut(outputs[i].description, number[i], maxChars));
    tellApart(outputs, whole, maxChars, taken, shown);
    return shown;
}

QString toolTip(const Output& output)
{
    return output.description + QStringLiteral(" — ") + QString::fromUtf8(output.id);
}

} // namespace OutputChoices
