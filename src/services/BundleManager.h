#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "Types.h"

class BundleWorker;
class QProgressDialog;

// The GUI side of bundle export and import: the choices asked of the user,
// the progress dialog with its Cancel button, the worker thread of each job
// and what happens with the job's result. GUI thread only.
class BundleManager : public QObject
{
    Q_OBJECT
public:
    static BundleManager* instance();

    void exportBundle(QWidget* parent);
    void importBundle(QWidget* parent);

    // Starts a set-up worker on a fresh thread behind a window-modal progress
    // dialog and returns at once; takes the worker over.
    void runWorker(BundleWorker* worker, QWidget* parent, const QString& label);

    // The progress dialog's answer to one progress report: the value only
    // when total is above 0, the label always.
    static void applyProgress(QProgressDialog* dialog, int current, int total, const QString& msg);

    // What the import shows before asking: the bundle's display name (from
    // the manifest's "projectFile", else the file's name) and its tab names.
    // Never refuses a file; payloads other than the manifest are skipped.
    struct Preview
    {
        QString displayName;
        QList<QString> tabNames;
    };
    static Preview previewBundle(const QString& path);

    // Scope dialog of the export: the tab check box label.
    static QString scopeTabLabel(const TabData& tab, int position);
    // The file the export suggests: home folder, session name, "_<tab>" for a
    // single chosen tab, ".vxbundle".
    static QString suggestedBundlePath(const QString& sessionFile, bool perTab, const QList<TabData>& chosen);

    // The project tabs a merge takes: for each ticked name the first unused
    // project tab of that name, else the tab at its position.
    static QList<TabData> pickMergeTabs(const QList<TabData>& projectTabs, const QList<int>& indices,
                                        const QList<QString>& names);

    // The MIDI table of the bundle whose project was handed over last (the
    // manifest's "midi" as compact JSON; empty when it had none). Taking it
    // clears it: it belongs to that one project.
    QByteArray takeImportedMidi();

public slots:
    void notifyImportDone(const QString& vxPath, const QByteArray& midiJson = QByteArray());
    void notifyAppendReady(const QByteArray& patchedProjectJson);

signals:
    void importedProjectReady(const QString& vxFilePath);
    void tabsReadyForSession(QList<TabData> tabs);
    // An import whose project names sounds the bundle did not hold: how many,
    // and one line per button that keeps such a path.
    void importMissedSounds(int sounds, const QStringList& buttons);
    // An export that left out buttons whose files are missing: how many, and
    // one line per button.
    void exportLeftOutSounds(int sounds, const QStringList& buttons);

private:
    explicit BundleManager(QObject* parent);

    QPointer<QWidget> dialogParent;
    QByteArray importedMidi;
    // The ticked tabs of a merge: their positions in the manifest's tab list
    // and their names, in the same order.
    QList<int> mergeTabIndices;
    QList<QString> mergeTabNames;
};
