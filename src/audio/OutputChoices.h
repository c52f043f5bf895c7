#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The audio outputs as every output chooser lists them (tab header, audio
// settings, a tab's playback settings, the music panel): where the list comes
// from, and the names that tell two outputs apart even when the system gives
// them the same description.
namespace OutputChoices {

struct Output
{
    QString description;
    QByteArray id;
};

// The system's audio outputs, in its order, unless a test installs its own
// list (null restores the system's).
using Lister = std::function<QList<Output>()>;
void setLister(Lister lister);
QList<Output> outputs();

// A description cut to maxChars: a longer one keeps its first maxChars - 3
// characters and ends in "...".
QString cut(const QString& description, int maxChars);

// The names a chooser shows, one per output in list order, each at most
// maxChars long. An output whose description another output shares gets
// " (n)" after it, kept whole when the description is cut; the outputs of one
// description are numbered in the order of their ids, so a device keeps its
// number whatever order the system lists them in.
QStringList names(const QList<Output>& outputs, int maxChars);

// A chooser row's tool tip: the whole description and the device's own id.
QString toolTip(const Output& output);

} // namespace OutputChoices
