#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QFontMetrics;

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
// characters and ends in "...". Every cut in this file falls between whole
// characters as the reader sees them, so an emoji or an accented letter is
// kept whole or left out, never split.
QString cut(const QString& description, int maxChars);

// The names a chooser shows, one per output in list order, each at most
// maxChars long, no two alike and none equal to one of taken (the chooser's
// own rows, such as its default entry).
// - An output whose description another output shares (or a taken row
//   has) gets " (n)" after it, kept whole when the description is cut. The
//   outputs of one description are numbered in the order of their ids, so a
//   device keeps its number whatever order the system lists them in; a
//   number that would read as another output's own name is skipped.
// - A longer name keeps its first maxChars - 3 characters and "...". Where
//   two names would be cut alike, each is cut in the middle instead, keeping
//   its end from the word where they differ ("Family 17h/19h...Analog
//   Stereo"); where even that reads alike, they are numbered.
QStringList names(const QList<Output>& outputs, int maxChars, const QStringList& taken = {});

// The name of each output before any cut: its description, numbered as
// names() numbers it.
QStringList wholeNames(const QList<Output>& outputs, const QStringList& taken = {});

// What a closed chooser shows for its rows' whole names within width pixels
// of font, no two alike where the width allows. A row shows its name as the
// list has it (listed) when that fits. Else the name is cut at its end, or
// where that reads as another row, in its middle, keeping its end from the
// word where they differ (as names() does). Where the width leaves no room
// for that, the name keeps the part where it differs and gives up its start
// ("...Outputs 3+4") and, if need be, its end.
QStringList fit(const QStringList& whole, const QFontMetrics& font, int width, const QStringList& listed = {});

// A chooser row's tool tip: the whole description and the device's own id.
QString toolTip(const Output& output);

// How an output that is not plugged in now is shown, wherever it is named:
// the name it would have (or its id) followed by "(not connected)".
QString notConnected(const QString& name);

} // namespace OutputChoices
