#include "OutputChoices.h"

#include <QAudioDevice>
#include <QHash>
#include <QMediaDevices>
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

QStringList names(const QList<Output>& outputs, int maxChars)
{
    // The positions of the outputs of each description, then each one's
    // number among them by id.
    QHash<QString, QList<int>> byDescription;
    for (int i = 0; i < outputs.size(); ++i)
        byDescription[outputs[i].description].append(i);
    QList<int> number(outputs.size(), 0);
    for (QList<int>& same : byDescription) {
        if (same.size() < 2)
            continue;
        std::stable_sort(same.begin(), same.end(), [&](int a, int b) { return outputs[a].id < outputs[b].id; });
        for (int n = 0; n < same.size(); ++n)
            number[same[n]] = n + 1;
    }
    QStringList out;
    out.reserve(outputs.size());
    for (int i = 0; i < outputs.size(); ++i) {
        if (number[i] == 0) {
            out.append(cut(outputs[i].description, maxChars));
            continue;
        }
        const QString tail = QStringLiteral(" (%1)").arg(number[i]);
        out.append(cut(outputs[i].description, std::max(int(kEllipsis.size()), maxChars - int(tail.size()))) + tail);
    }
    return out;
}

QString toolTip(const Output& output)
{
    return output.description + QStringLiteral(" — ") + QString::fromUtf8(output.id);
}

} // namespace OutputChoices
