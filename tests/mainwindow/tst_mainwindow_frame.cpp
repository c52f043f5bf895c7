// The main window's frame: the first session, the DirectSound start, the
// UI-freeze watchdog, the CPU figure, cache heal, the title-bar colour rule,
// the stored accent, and the look: a theme change reaching every widget as a
// fresh start would, readable contrast (the panels, every dialog and prompt,
// the list rows), and texts that fit.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCryptographicHash>
#include <QFontInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>

#include "AppSettings.h"
#include "TestSupport.h"
#include "AudioOutput.h"
#include "BufferMixer.h"
#include "BundleWorker.h"
#include "ButtonEditDialog.h"
#include "ButtonGrid.h"
#include "GridHeader.h"
#include "LibraryManager.h"
#include "Modal.h"
#include "MusicItemDelegate.h"
#include "NowPlayingBar.h"
#include "SettingsDialog.h"
#include "DirectSoundEngine.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "OpLog.h"
#include "ProcessTimes.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "ThemeManager.h"
#include "TitleBar.h"
#include "ToolbarWaveformWidget.h"
#include "WholeTextLabel.h"
#include "../panels/RecordingPainter.h"

using A = MainWindowTestAccess;

namespace {

bool logHas(const QString& text)
{
    for (const QString& line : OpLog::entriesNewestFirst())
        if (line.contains(text))
            return true;
    return false;
}

int logCount(const QString& text)
{
    int n = 0;
    for (const QString& line : OpLog::entriesNewestFirst())
        n += line.contains(text) ? 1 : 0;
    return n;
}

void setRecent(const QStringList& files)
{
    AppSettings s;
    s.setValue(QStringLiteral("recentFiles"), files);
}

// What a widget carries of the theme: the colours written in its own style
// sheet, its palette's main roles and the pixels of its icons.
struct Look
{
    QStringList sheetColours;
    QStringList palette;
    QByteArray icons;
    bool operator==(const Look& o) const
    {
        return sheetColours == o.sheetColours && palette == o.palette && icons == o.icons;
    }
};

QByteArray imageHash(const QImage& image)
{
    const QImage i = image.convertToFormat(QImage::Format_ARGB32);
    return QCryptographicHash::hash(QByteArrayView(i.constBits(), i.sizeInBytes()), QCryptographicHash::Sha1);
}

QString widgetPath(const QWidget* w, const QWidget* root)
{
    QStringList parts;
    for (const QWidget* at = w; at && at != root; at = at->parentWidget()) {
        int index = 0;
        if (const QObject* parent = at->parent()) {
            for (const QObject* sibling : parent->children()) {
                if (sibling == at)
                    break;
                if (sibling->metaObject() == at->metaObject() && sibling->objectName() == at->objectName())
                    ++index;
            }
        }
        parts.prepend(QStringLiteral("%1#%2[%3]")
                          .arg(QLatin1String(at->metaObject()->className()), at->objectName())
                          .arg(index));
    }
    return parts.join(QLatin1Char('/'));
}

QMap<QString, Look> looksOf(QWidget* root)
{
    static const QRegularExpression colour(QStringLiteral("#[0-9a-fA-F]{6}\\b|rgba?\\([^)]*\\)"));
    QMap<QString, Look> out;
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        Look look;
        auto it = colour.globalMatch(w->styleSheet());
        while (it.hasNext())
            look.sheetColours << it.next().captured(0).toLower();
        look.sheetColours.sort();
        // The roles text and list rows are drawn with; the background roles a
        // style sheet may take over when it polishes the widget.
        // Pop-up windows (menus, lists) and widgets with a style sheet of their
        // own are compared by their style sheets: the sheet draws their text.
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::AlternateBase, QPalette::Text,
                                         QPalette::ButtonText, QPalette::Highlight})
            if (w->window() == root && w->styleSheet().isEmpty())
                look.palette << w->palette().color(role).name();
        if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->icon().isNull())
            look.icons += imageHash(b->icon().pixmap(QSize(16, 16)).toImage());
        if (auto* l = qobject_cast<QLabel*>(w); l && !l->pixmap().isNull())
            look.icons += imageHash(l->pixmap().toImage());
        if (auto* c = qobject_cast<QComboBox*>(w)) {
            // Each icon the rows carry, once: the output lists change with
            // the sound server's devices, which other tests add and remove.
            QList<QByteArray> rowIcons;
            for (int i = 0; i < c->count(); ++i)
                if (!c->itemIcon(i).isNull())
                    rowIcons << imageHash(c->itemIcon(i).pixmap(QSize(16, 16)).toImage());
            std::sort(rowIcons.begin(), rowIcons.end());
            rowIcons.erase(std::unique(rowIcons.begin(), rowIcons.end()), rowIcons.end());
            for (const QByteArray& h : std::as_const(rowIcons))
                look.icons += h;
        }
        out.insert(widgetPath(w, root), look);
    }
    return out;
}

// Lets the posted global style sheet and the window's debounced restyle run.
// The CPU figure restyles itself on its own ticks: held still here.
void settleTheme(MainWindow* w)
{
    A::cpuTimer(w)->stop();
    QCoreApplication::processEvents();
    if (QTimer* t = A::themeDebounceTimer(w))
        QTRY_VERIFY(!t->isActive());
    QCoreApplication::processEvents();
}

// A saved session of two tabs of sounds, for the jobs a theme change follows.
QString writeJobSession()
{
    const QString dir = TestSupport::tempDir();
    const Session s = MainWindowTest::makeSession(2, 24, QDir(dir).filePath(QStringLiteral("audio")));
    const QString path = QDir(dir).filePath(QStringLiteral("job.vx"));
    return MainWindowTest::writeSession(s, path) ? path : QString();
}

// Runs one job of the shown window as the user would and comes back once it
// has ended and its progress dialog is gone (an empty text), or says what
// went wrong. "export": the whole session to a bundle; "cancel": the same,
// cut short by the progress dialog's Cancel; "import new" and "import merge":
// a bundle of the session taken in either way; "rebuild": every grid built
// anew (the session loaded again, another count of buttons per tab, each
// pane layout). The widgets the job lets go of (its progress dialog, the old
// pads) must still announce their end to whoever listens, as Qt's style does.
QString runJob(MainWindow& w, const QString& job, const QString& sessionPath)
{
    int watched = 0, heard = 0;
    const auto watchEnd = [&](QObject* o) {
        ++watched;
        QObject::connect(o, &QObject::destroyed, &w, [&heard] { ++heard; });
    };
    const auto allHeard = [&] {
        return heard == watched ? QString() : QStringLiteral("%1 of %2 ends went unheard").arg(watched - heard).arg(watched);
    };
    if (job == QLatin1String("rebuild")) {
        const auto watchPads = [&] {
            for (SoundButton* pad : w.findChildren<SoundButton*>())
                watchEnd(pad);
        };
        watchPads();
        if (!w.openSessionFile(sessionPath))
            return QStringLiteral("the session did not load again");
        QCoreApplication::processEvents();
        watchPads();
        w.setButtonsPerTab(48);
        QCoreApplication::processEvents();
        for (int mode : {2, 4, 1}) {
            w.setGridLayout(mode);
            QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return watched == 0 ? QStringLiteral("no pads") : allHeard();
    }
    const QString dir = TestSupport::tempDir();
    const QString bundle = QDir(dir).filePath(QStringLiteral("job.vxbundle"));
    const bool importing = job.startsWith(QLatin1String("import"));
    if (importing) {
        BundleWorker exporter;
        exporter.setupExport(sessionPath, bundle, SessionManager::instance()->session());
        if (!exporter.runExport())
            return QStringLiteral("no bundle to import");
    }
    QStringList boxes;
    TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
        switch (r.kind) {
        case Modal::Kind::Dialog:
            if (r.title == QLatin1String("Import Bundle"))
                r.dialog->findChild<QRadioButton*>(job == QLatin1String("import merge") ? "merge" : "newSession")
                    ->setChecked(true);
            return int(QDialog::Accepted);
        case Modal::Kind::OpenFile:
        case Modal::Kind::SaveFile:
            return bundle;
        case Modal::Kind::Directory:
            return dir;
        case Modal::Kind::MessageBox:
            boxes << r.title;
            return int(r.title == QLatin1String("Unsaved Changes") ? QMessageBox::Discard : QMessageBox::Ok);
        default:
            return {};
        }
    });
    const qsizetype tabsBefore = SessionManager::instance()->session().tabs.size();
    if (importing)
        w.onImportBundle();
    else
        w.onExportBundle();
    QProgressDialog* progress = w.findChild<QProgressDialog*>();
    if (!progress)
        return QStringLiteral("no progress dialog");
    watchEnd(progress);
    if (job == QLatin1String("cancel")) {
        // The job may have ended before the click; the dialog goes all the same.
        for (QPushButton* b : progress->findChildren<QPushButton*>())
            if (b->text() == QLatin1String("Cancel"))
                b->click();
    }
    const auto ended = [&] {
        if (w.findChild<QProgressDialog*>())
            return false;
        if (job == QLatin1String("import merge"))
            return SessionManager::instance()->session().tabs.size() > tabsBefore;
        if (job == QLatin1String("import new"))
            return SessionManager::instance()->session().filePath == QDir(dir).filePath(QStringLiteral("project/project.vx"));
        return job == QLatin1String("cancel") || !boxes.isEmpty();
    };
    if (!QTest::qWaitFor(ended, 30000))
        return QStringLiteral("the job did not end; boxes: ") + boxes.join(QStringLiteral(", "));
    QCoreApplication::processEvents();
    return boxes.contains(QStringLiteral("Bundle Error")) ? QStringLiteral("the job failed") : allHeard();
}

// The widgets whose look differs from the fresh start's, for the message.
QStringList lookDifferences(const QMap<QString, Look>& fresh, const QMap<QString, Look>& switched)
{
    QStringList out;
    for (auto it = fresh.constBegin(); it != fresh.constEnd(); ++it) {
        const auto other = switched.constFind(it.key());
        if (other == switched.constEnd())
            continue;   // made later in one of the two windows only
        if (!(*other == *it))
            out << it.key() + QStringLiteral(" {") + other->sheetColours.join(QLatin1Char(','))
                       + QStringLiteral("} vs fresh {") + it->sheetColours.join(QLatin1Char(','))
                       + QStringLiteral("}") + (other->icons != it->icons ? QStringLiteral(" icons") : QString())
                       + (other->palette != it->palette ? QStringLiteral(" palette ") + other->palette.join(QLatin1Char(','))
                                  + QStringLiteral(" vs fresh ") + it->palette.join(QLatin1Char(','))
                                                          : QString());
    }
    return out;
}

using TestSupport::contrast;
using TestSupport::drawnContrast;

bool insideAny(const QWidget* w, const QList<QWidget*>& areas)
{
    for (const QWidget* a : areas)
        if (a && (w == a || a->isAncestorOf(w)))
            return true;
    return false;
}

// The texts a widget draws itself (its children apart), with the ink they
// are drawn in and their boxes in its own coordinates.
QList<Recording::Text> textsDrawnBy(QWidget* x)
{
    RecordingDevice device(x->size());
    x->render(&device, QPoint(), QRegion(), QWidget::RenderFlags());
    return device.engine.rec.texts;
}

// Every text drawn in the shown window (in the given areas of it only, when
// any are given) whose ink is below 4.5 : 1 on the ground under it as the
// window shows it (3 : 1 for large text). The ink is the pen each text is
// drawn with, blended onto that ground where it is translucent; disabled
// controls are left out.
QStringList faintTexts(QWidget* window, const QList<QWidget*>& areas = {})
{
    const QImage shot = window->grab().toImage();
    QList<QWidget*> all = window->findChildren<QWidget*>();
    all.prepend(window);
    QStringList faint;
    for (QWidget* x : all) {
        if (!x->isVisible() || !x->isEnabled() || x->window() != window || (!areas.isEmpty() && !insideAny(x, areas)))
            continue;
        const QRect seen = x->visibleRegion().boundingRect();
        for (const Recording::Text& t : textsDrawnBy(x)) {
            const QRect box = t.rect.toAlignedRect().intersected(seen);
            if (t.text.trimmed().isEmpty() || box.isEmpty())
                continue;
            // The ground is the colour seen most in and just around the text's
            // box: a colour emoji that fills its own box is not its ground.
            const QRect around = box.adjusted(-3, -3, 3, 3).intersected(seen);
            const QRgb ground = TestSupport::drawnGround(shot, QRect(x->mapTo(window, around.topLeft()), around.size()));
            const QColor ink = ThemeManager::blended(t.colour, QColor(ground));
            const int px = t.font.pixelSize() > 0 ? t.font.pixelSize() : QFontInfo(t.font).pixelSize();
            const bool large = px >= 24 || (t.font.bold() && px >= 19);
            const double ratio = contrast(ink.rgb(), ground);
            if (ratio < (large ? 3.0 : 4.5))
                faint << QStringLiteral("%1 \"%2\" %3 on %4: %5:1")
                             .arg(widgetPath(x, window).section(QLatin1Char('/'), -3), t.text.left(60), ink.name(),
                                  QColor(ground).name())
                             .arg(ratio, 0, 'f', 2);
        }
    }
    faint.removeDuplicates();
    return faint;
}

// The side panels' (each page of the left one), the toolbar's and the pane
// headers' labels and buttons as drawn: text at 4.5 : 1, a drawing without
// text (an icon-only button or picture) at 3 : 1, as for graphics; and the
// texts the window paints itself.
QStringList faintInPanels(MainWindow& w)
{
    QList<QWidget*> areas{A::leftPanel(&w), A::rightPanel(&w)};
    for (const MainWindow::GridPanel& p : w.gridPanels())
        areas << p.header.data();
    QStringList faint;
    for (int page = 0; page < 3; ++page) {
        for (QPushButton* b : A::leftPanel(&w)->findChildren<QPushButton*>())
            if (b->objectName() == QLatin1String("lpTabBtn") && b->text() == QStringList{"SETS", "LIBRARY", "ONLINE"}[page])
                b->click();
        QCoreApplication::processEvents();
        const QImage shot = w.grab().toImage();
        for (QWidget* x : w.findChildren<QWidget*>()) {
            if (!x->isVisible() || !x->isEnabled() || !insideAny(x, areas) || x->width() < 4 || x->height() < 4)
                continue;
            auto* label = qobject_cast<QLabel*>(x);
            auto* button = qobject_cast<QAbstractButton*>(x);
            const bool inked = (label && (!label->text().trimmed().isEmpty() || !label->pixmap().isNull()))
                || (button && (!button->text().trimmed().isEmpty() || !button->icon().isNull()));
            if (!inked)
                continue;
            if (auto* whole = qobject_cast<WholeTextLabel*>(x); whole && !whole->showsText())
                continue;
            const QRect r = QRect(x->mapTo(&w, QPoint(0, 0)), x->size()).intersected(shot.rect());
            const double ratio = drawnContrast(shot, r);
            const bool text = (label && !label->text().trimmed().isEmpty())
                || (button && !button->text().trimmed().isEmpty());
            if (ratio < (text ? 4.5 : 3.0))
                faint << QStringLiteral("%1 \"%2\" %3:1")
                             .arg(widgetPath(x, &w), label ? label->text() : button->text())
                             .arg(ratio, 0, 'f', 2);
        }
    }
    // Texts the window paints itself: the toolbar strip's "No Track
    // Playing" and an empty pad's "click to assign".
    const QImage shot = w.grab().toImage();
    auto* strip = w.findChild<ToolbarWaveformWidget*>();
    if (!strip || !strip->isVisible())
        return faint << QStringLiteral("no toolbar strip");
    QFont small = strip->font();
    small.setPixelSize(9);
    QRect text = QFontMetrics(small).boundingRect(QStringLiteral("No Track Playing"));
    text.moveCenter(strip->rect().center());
    const double stripRatio = drawnContrast(shot, QRect(strip->mapTo(&w, text.topLeft()), text.size()));
    if (stripRatio < 4.5)
        faint << QStringLiteral("\"No Track Playing\" %1:1").arg(stripRatio, 0, 'f', 2);
    SoundButton* empty = nullptr;
    for (SoundButton* pad : w.gridPanels().first().grid->findChildren<SoundButton*>())
        if (pad->isVisible() && pad->buttonData().audioPath.isEmpty()
            && SoundButton::emptyHint(pad->width(), pad->height()) == QLatin1String("click to assign"))
            empty = pad;
    if (!empty)
        return faint << QStringLiteral("no empty pad");
    const QRect hint(empty->mapTo(&w, QPoint(4, empty->height() - 12)), QSize(empty->width() - 8, 9));
    const double hintRatio = drawnContrast(shot, hint);
    if (hintRatio < 4.5)
        faint << QStringLiteral("\"click to assign\" %1:1").arg(hintRatio, 0, 'f', 2);
    faint.removeDuplicates();
    return faint;
}

// The disabled headings of the toolbar's Grid menu, opened for real, as
// drawn on the menu's own ground.
QStringList faintInMenus(MainWindow& w)
{
    QMenu* grid = A::menuBarMenus(&w).value(2);
    if (!grid)
        return {QStringLiteral("no Grid menu")};
    grid->popup(w.mapToGlobal(QPoint(40, 40)));
    if (!QTest::qWaitForWindowExposed(grid))
        return {QStringLiteral("the Grid menu did not show")};
    QCoreApplication::processEvents();
    const QImage shot = grid->grab().toImage();
    QStringList faint;
    int headings = 0;
    for (QAction* a : grid->actions()) {
        if (!a->text().startsWith(QStringLiteral("──")))
            continue;
        ++headings;
        const double ratio = drawnContrast(shot, grid->actionGeometry(a).intersected(shot.rect()));
        if (ratio < 4.5)
            faint << QStringLiteral("Grid menu \"%1\" %2:1").arg(a->text()).arg(ratio, 0, 'f', 2);
    }
    grid->hide();
    if (headings != 2)
        faint << QStringLiteral("%1 headings in the Grid menu").arg(headings);
    return faint;
}

// A first session for the dialogs and lists: two tabs of sounds, the first
// with its own playback rules (so its notes are enabled), the second on the
// global ones. The recent sets it heads: itself, another set, a lost one.
QStringList writeContrastSession()
{
    const QString dir = TestSupport::tempDir();
    Session s = MainWindowTest::makeSession(2, 24, QDir(dir).filePath(QStringLiteral("audio")));
    s.tabs[0].useTabPb = true;
    s.tabs[0].pb_as = s.tabs[0].pb_rs = true;
    s.tabs[1].color = QColor(0x22, 0x33, 0x88);   // a dark tab colour, its name in it
    s.tabs[0].buttons[0].key = QStringLiteral("W");   // its edit dialog previews the key
    const QString path = QDir(dir).filePath(QStringLiteral("contrast.vx"));
    const QString other = QDir(dir).filePath(QStringLiteral("Shows/evening.vx"));
    QDir().mkpath(QFileInfo(other).path());
    MainWindowTest::writeSession(s, path);
    MainWindowTest::writeSession(s, other);
    return {path, other, QDir(dir).filePath(QStringLiteral("gone/lost.vx"))};
}

// Shows a dialog as it would open, waits until it is drawn and measures it.
QStringList faintInShown(QWidget* dialog, const QString& name)
{
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog))
        return {name + QStringLiteral(": not shown")};
    QCoreApplication::processEvents();
    QStringList faint = faintTexts(dialog);
    for (QString& f : faint)
        f.prepend(name + QStringLiteral(": "));
    dialog->hide();
    return faint;
}

// The key the edit dialog's preview draws on the button's face, measured
// while the dialog is shown, and on the theme's face of a button without a
// colour of its own, as the preview shows that one.
QStringList faintPreviewKey(QDialog* dialog)
{
    auto* edit = qobject_cast<ButtonEditDialog*>(dialog);
    auto* preview = dialog->findChild<QLabel*>(QStringLiteral("buttonPreview"));
    if (!edit || !preview || edit->result().key.isEmpty())
        return {QStringLiteral("Edit Button: no preview key")};
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog))
        return {QStringLiteral("Edit Button: not shown")};
    QCoreApplication::processEvents();
    QFont f;
    f.setPixelSize(8);
    f.setWeight(QFont::Bold);
    const QRect key = QFontMetrics(f).boundingRect(edit->result().key).translated(4, 3 + QFontMetrics(f).ascent());
    const QImage shot = dialog->grab().toImage();
    ButtonData plain = edit->result();
    plain.bgColor = QColor();
    QImage uncoloured(preview->size(), QImage::Format_RGB32);
    uncoloured.fill(ThemeManager::instance()->colors().surfaceAlt);
    QPainter(&uncoloured).drawPixmap(0, 0, ButtonEditDialog::renderPreview(plain, preview->size()));
    dialog->hide();
    QStringList faint;
    const QList<std::pair<QString, double>> ratios{
        {QStringLiteral("on its colour"), drawnContrast(shot, QRect(preview->mapTo(dialog, key.topLeft()), key.size()))},
        {QStringLiteral("without a colour"), drawnContrast(uncoloured, key)}};
    for (const auto& [face, ratio] : ratios)
        if (ratio < 4.5)
            faint << QStringLiteral("Edit Button: preview key %1 %2:1").arg(face).arg(ratio, 0, 'f', 2);
    return faint;
}

// A prompt as Qt's own question opens it from the request (what the seam
// leaves out when a test answers).
QStringList faintInPrompt(const Modal::Request& r)
{
    QInputDialog prompt(r.parent);
    prompt.setWindowTitle(r.title);
    prompt.setLabelText(r.label);
    prompt.setTextValue(r.text);
    return faintInShown(&prompt, r.title);
}

// Every dialog, prompt and message box the window opens, opened the way the
// user opens it, measured while shown.
QStringList faintInDialogs(MainWindow& w)
{
    QStringList faint;
    QStringList opened;   // the titles of the windows measured
    QString menuChoice;   // the entry a context menu answers with
    TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
        opened << r.title;
        switch (r.kind) {
        case Modal::Kind::Dialog:
            faint << faintInShown(r.dialog, r.title);
            if (r.title == QLatin1String("Edit Button"))
                faint << faintPreviewKey(r.dialog);
            // The import's choice is taken, so that its confirmation follows.
            return int(r.title == QLatin1String("Import Bundle") ? QDialog::Accepted : QDialog::Rejected);
        case Modal::Kind::OpenFile:
            return SessionManager::instance()->session().filePath;   // read as a bundle without a manifest
        case Modal::Kind::Directory:
            return TestSupport::tempDir();
        case Modal::Kind::MessageBox:
            if (r.box) {
                faint << faintInShown(r.box, r.title);
            } else {
                QMessageBox box(QMessageBox::Question, r.title, r.text, QMessageBox::StandardButtons(int(r.value)),
                                r.parent);
                faint << faintInShown(&box, r.title);
            }
            return int(QMessageBox::Cancel);
        case Modal::Kind::Menu:
            for (QAction* a : r.menu->actions())
                if (a->text() == menuChoice)
                    return QVariant::fromValue(a);
            faint << QStringLiteral("no menu entry \"%1\"").arg(menuChoice);
            return {};
        case Modal::Kind::Text:
            faint << faintInPrompt(r);
            return {};
        default:
            return {};
        }
    });
    const Session& session = SessionManager::instance()->session();
    const QString first = session.tabs[0].buttons[0].id;
    w.onEditRequested(first, QString());                 // the button's edit dialog
    w.onEditRequested(first, QStringLiteral("trim"));    // its trim dialog
    w.showTabPlaybackDialog(0);
    for (QMenu* m : A::menuBarMenus(&w))
        for (QAction* a : m->actions())
            if (a->text().section(QLatin1Char('\t'), 0, 0) == QLatin1String("Keyboard Shortcuts"))
                a->trigger();
    w.showSearchDialog();
    if (QDialog* search = A::searchDialog(&w)) {
        opened << search->windowTitle();
        faint << faintInShown(search, search->windowTitle());
    }
    GridHeader* header = w.gridPanels().first().header;
    menuChoice = QStringLiteral("Assign Keyboard Shortcut");
    emit header->stopButton()->customContextMenuRequested(QPoint(2, 2));
    menuChoice = QStringLiteral("Assign Shortcut — Volume Up");
    emit header->findChild<QSlider*>()->customContextMenuRequested(QPoint(2, 2));
    // The bundle dialogs: the export's scope, the import's choice and its
    // confirmation.
    w.onExportBundle();
    w.onImportBundle();
    // A plain question (declined) and the settings' own styled box.
    w.onDeleteTab();
    themedMessageBox(&w, QMessageBox::Question, QStringLiteral("Restart Required"),
                     QStringLiteral("Apply audio settings and restart?"), QMessageBox::Yes | QMessageBox::Cancel,
                     QMessageBox::Yes);
    for (const QString& title : {QStringLiteral("Edit Button"), QStringLiteral("Audio Trimming — Sound 1-1"),
                                 QStringLiteral("Playback Settings — Tab 1"),
                                 QStringLiteral("Keyboard Shortcuts Manager"), QStringLiteral("Search Buttons"),
                                 QStringLiteral("Assign Keyboard Shortcut"), QStringLiteral("Volume Up Shortcut"),
                                 QStringLiteral("Export Bundle — Choose Scope"), QStringLiteral("Import Bundle"),
                                 QStringLiteral("Import Bundle — Confirm"), QStringLiteral("Delete Tab"),
                                 QStringLiteral("Restart Required")})
        if (!opened.contains(title))
            faint << QStringLiteral("%1: never opened").arg(title);
    return faint;
}

// Rests the mouse on a row of a list, so that the row is drawn hovered.
void hoverRow(QListWidget* list, int row)
{
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseMove(list->viewport(), at);
    QCoreApplication::processEvents();
}

// The rows of the recent sets (the open one, another, a lost one, one
// hovered and one selected, then the placeholder of an empty list), of ALL
// MUSIC (plain, alternate, playing, in the playlist, selected, hovered), the
// now-playing bar with a track and its time left, and the library's folder
// tree with its root selected.
QStringList faintInLists(MainWindow& w)
{
    QStringList faint;
    for (QPushButton* b : A::leftPanel(&w)->findChildren<QPushButton*>())
        if (b->objectName() == QLatin1String("lpTabBtn") && b->text() == QLatin1String("SETS"))
            b->click();
    const QString audio = QFileInfo(SessionManager::instance()->session().tabs[0].buttons[0].audioPath).path();
    LibraryManager::instance()->addFolder(audio, QStringLiteral("Contrast"));
    w.addFolderToTree(QStringLiteral("Contrast"), audio);
    QListWidget* music = w.musicList;
    if (!QTest::qWaitFor([&] { return music->count() >= 6 && music->isVisible(); }, 20000))
        return {QStringLiteral("ALL MUSIC shows %1 rows").arg(music->count())};
    music->item(0)->setData(MusicItemDelegate::kPlayingRole, true);
    music->item(1)->setData(MusicItemDelegate::kInPlaylistRole, true);
    music->setCurrentRow(2);
    NowPlayingBar* bar = A::nowPlayingBar(&w);
    bar->setTrack(QStringLiteral("Morning Show Bed"), QString());
    bar->setPosition(15000, 120000);
    w.setsList->setCurrentRow(1);
    const QList<QWidget*> lists{w.setsList->viewport(), music->viewport(), bar};
    if (w.setsList->count() != 3 || !w.setsList->isVisible() || !bar->isVisible())
        return {QStringLiteral("the recent sets or the now-playing bar are not shown")};
    for (int row : {3, 4}) {
        hoverRow(music, row);
        faint << faintTexts(&w, lists);
    }
    hoverRow(w.setsList, 2);
    faint << faintTexts(&w, lists);
    setRecent({});
    w.refreshSetsList();
    QCoreApplication::processEvents();
    faint << faintTexts(&w, {w.setsList->viewport()});
    for (QPushButton* b : A::leftPanel(&w)->findChildren<QPushButton*>())
        if (b->objectName() == QLatin1String("lpTabBtn") && b->text() == QLatin1String("LIBRARY"))
            b->click();
    // The folder's scan may still be filling the tree; the folder is then
    // chosen, as a click on it would.
    if (QTest::qWaitFor([&] { return w.libraryTree->topLevelItemCount() == 1; }, 20000))
        w.libraryTree->setCurrentItem(w.libraryTree->topLevelItem(0));
    QCoreApplication::processEvents();
    if (w.libraryTree->topLevelItemCount() != 1 || !w.libraryTree->currentItem())
        faint << QStringLiteral("the library tree shows no chosen folder");
    faint << faintTexts(&w, {w.libraryTree->viewport()});
    faint.removeDuplicates();
    return faint;
}

// A window shown in the preset from, over a saved session, runs the job;
// then a preset is chosen and applied, and the first one again: each time the
// window carries, widget by widget, what a window started in that preset does.
void themeChangeAfterJob(int from, const QString& job)
{
    const QString session = writeJobSession();
    QVERIFY(!session.isEmpty());
    setRecent({session});
    ThemeManager* tm = ThemeManager::instance();
    const auto started = [&](int preset) {
        tm->applyPreset(ThemeManager::Preset(preset));
        QCoreApplication::processEvents();
        auto* w = new MainWindow;
        w->resize(1200, 800);
        w->show();
        if (!QTest::qWaitForWindowExposed(w))
            qWarning("the window was not shown");
        settleTheme(w);
        return w;
    };
    QMap<int, QMap<QString, Look>> freshJob;
    for (int preset : {int(ThemeManager::LightClassic), from}) {
        std::unique_ptr<MainWindow> fresh(started(preset));
        freshJob.insert(preset, looksOf(fresh.get()));
    }
    std::unique_ptr<MainWindow> w(started(from));
    const QString failed = runJob(*w, job, session);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    for (int to : {int(ThemeManager::LightClassic), from}) {
        tm->applyPreset(ThemeManager::Preset(to));
        settleTheme(w.get());
        QCOMPARE(qApp->styleSheet(), tm->styleSheet());
        const QStringList diff = lookDifferences(freshJob.value(to), looksOf(w.get()));
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("to %1:\n").arg(to) + diff.mid(0, 8).join(QLatin1Char('\n'))));
    }
}

} // namespace

class TestMainWindowFrame : public QObject
{
    Q_OBJECT
    QString audioDir;
    qint64 fakeNow = 0;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        audioDir = QDir(TestSupport::tempDir()).filePath(QStringLiteral("audio"));
        MainWindow::setWatchdogClock([this] { return fakeNow; });
    }

    // Runs first, while the process has not opened the button engine yet.
    void directSoundStartsOnARetryAndQueuesTheSession()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        QVERIFY(!ds->isInitialized());
        std::atomic<bool> outputPresent{false};   // read on the engine's opening thread
        ds->setOutputFactory([&outputPresent]() -> std::unique_ptr<AudioOutput> {
            if (!outputPresent)
                return nullptr;
            return AudioOutput::openBackend(AudioOutput::Backend::Null, BufferMixer::outputConfig());
        });
        Session s = MainWindowTest::makeSession(2, 24, audioDir);
        // One sound longer than the decode window: left to the players.
        const QString longPath = QDir(audioDir).filePath(QStringLiteral("long.wav"));
        const double longSeconds = DirectSoundEngine::kMaxDecodeSeconds + 1.0;
        QVERIFY(TestSupport::writeWav16(longPath, TestSupport::sine(110.0, longSeconds, 2, 44100), 2, 44100));
        s.tabs[1].buttons[23].audioPath = longPath;
        const QString longId = s.tabs[1].buttons[23].id;
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("first.vx"));
        QVERIFY(MainWindowTest::writeSession(s, path));
        setRecent({path});

        MainWindow w;
        QCOMPARE(SessionManager::instance()->session().filePath, path);
        QTimer* retry = A::dsInitTimer(&w);
        QVERIFY(retry->isActive());
        QCOMPARE(retry->interval(), 300);
        TestSupport::fireTimer(retry);
        retry->start();   // fireTimer stops it; the window keeps it running
        QVERIFY(!ds->isInitialized());

        // The output opens on a thread of its own: on a busy machine the
        // retry after this one may be the one that takes it up.
        outputPresent = true;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (!ds->isInitialized())
                    TestSupport::fireTimer(retry);
                return ds->isInitialized();
            }(),
            15000);
        QVERIFY(!retry->isActive());
        // The buttons of the open session are decoded without waiting for a
        // heal tick. Every one of them must be ready before the heal is
        // counted: one still decoding would be re-queued as well.
        const QString first = SessionManager::instance()->session().tabs[0].buttons[0].id;
        const auto readyCount = [ds] {
            int n = 0;
            for (const TabData& t : SessionManager::instance()->session().tabs)
                for (const ButtonData& b : t.buttons)
                    n += ds->isReady(b.id) ? 1 : 0;
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(readyCount(), 47, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(ds->isSettled(longId), 30000);
        QVERIFY(!ds->isReady(longId));

        // Cache heal re-queues only what is missing and can be decoded (not
        // the sound known to be too long), and counts only what it queued.
        ds->evict(first);
        TestSupport::fireTimer(A::cacheHealTimer(&w));
        QVERIFY(logHas(QStringLiteral("[CacheHeal] silently re-queued 1 button(s) for background preload")));
        QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(first), 30000);
        const int before = logCount(QStringLiteral("[CacheHeal]"));
        TestSupport::fireTimer(A::cacheHealTimer(&w));
        QCOMPARE(logCount(QStringLiteral("[CacheHeal]")), before);
        ds->setOutputFactory(nullptr);
    }

    void firstSessionFromRecentFiles()
    {
        setRecent({});
        {
            MainWindow w;
            const Session& s = SessionManager::instance()->session();
            QVERIFY(s.filePath.isEmpty());
            QCOMPARE(s.tabs.size(), 1);
            QCOMPARE(s.tabs[0].name, QStringLiteral("Tab 1"));
            QCOMPARE(w.gridPanels().size(), 1);
            QCOMPARE(w.gridPanels()[0].grid->buttonCount(), 36);
            QVERIFY(A::recIndicator(&w)->isHidden());
            QCOMPARE(w.windowTitle(), QStringLiteral("Tarvello Rododu — Untitled"));
        }
        setRecent({QDir(TestSupport::tempDir()).filePath(QStringLiteral("deleted.vx"))});
        {
            MainWindow w;
            QVERIFY(SessionManager::instance()->session().filePath.isEmpty());
            QCOMPARE(w.gridPanels().size(), 1);
        }
    }

    void watchdogLogsOnlyStallsAbove800ms()
    {
        fakeNow = 10000;
        MainWindow w;
        QTimer* tick = A::freezeTimer(&w);
        QVERIFY(tick->isActive());
        QCOMPARE(tick->interval(), 250);
        const QString stall = QStringLiteral("[UI-FREEZE] main thread stalled ~");
        const int before = logCount(stall);

        fakeNow += 250;
        A::watchdogTick(&w);
        fakeNow += 800;   // exactly the limit
        A::watchdogTick(&w);
        QCOMPARE(logCount(stall), before);

        fakeNow += 1000;
        A::watchdogTick(&w);
        QCOMPARE(logCount(stall), before + 1);
        QCOMPARE(OpLog::entriesNewestFirst().filter(stall).first().section(QLatin1Char(' '), 1),
                 QStringLiteral("[UI-FREEZE] main thread stalled ~1000ms"));

        // The running timer measures from its own previous tick: a loop
        // blocked for 1.5 s shows at the next real tick.
        // Other work of the window may log meanwhile: look at the newest stall line.
        fakeNow += 1500;
        QTRY_COMPARE(logCount(stall), before + 2);
        QVERIFY(OpLog::entriesNewestFirst().filter(stall).first().endsWith(QStringLiteral("~1500ms")));
    }

    void cpuFigure_data()
    {
        QTest::addColumn<quint64>("wall");
        QTest::addColumn<quint64>("busy");
        QTest::addColumn<int>("cpus");
        QTest::addColumn<int>("percent");
        const quint64 twoSeconds = 20000000;
        QTest::newRow("two of eight cores") << twoSeconds << 2 * twoSeconds << 8 << 25;
        QTest::newRow("no wall time") << quint64(0) << quint64(500) << 4 << 0;
        QTest::newRow("clock step") << quint64(10) << quint64(5000) << 1 << 100;
        QTest::newRow("below one") << twoSeconds << twoSeconds / 200 << 1 << 0;
        QTest::newRow("truncates") << quint64(1000) << quint64(459) << 1 << 45;
        QTest::newRow("no processor count") << quint64(100) << quint64(50) << 0 << 50;
    }
    void cpuFigure()
    {
        QFETCH(quint64, wall);
        QFETCH(quint64, busy);
        QFETCH(int, cpus);
        QFETCH(int, percent);
        QCOMPARE(MainWindow::cpuPercent(wall, busy, cpus), percent);
    }

    void cpuLabelFromTheTimer()
    {
        MainWindow w;
        QLabel* label = A::cpuLabel(&w);
        QCOMPARE(label->text(), QStringLiteral("CPU: —"));
        QCOMPARE(A::cpuTimer(&w)->interval(), 2000);
        TestSupport::fireTimer(A::cpuTimer(&w));
        QCOMPARE(label->text(), QStringLiteral("CPU: 0%"));
        TestSupport::fireTimer(A::cpuTimer(&w));
        QVERIFY(QRegularExpression(QStringLiteral("^CPU: \\d{1,3}%$")).match(label->text()).hasMatch());
        QVERIFY(label->styleSheet().startsWith(QStringLiteral("color:#")));
    }

    void processTimes()
    {
        quint64 k0 = 0, u0 = 0;
        QVERIFY(ProcessTimes::processTimes(&k0, &u0));
        volatile double x = 0;
        for (int i = 0; i < 20000000; ++i)
            x = x + i * 0.5;
        quint64 k1 = 0, u1 = 0;
        QVERIFY(ProcessTimes::processTimes(&k1, &u1));
        QVERIFY(k1 + u1 > k0 + u0);
        QVERIFY(ProcessTimes::processorCount() >= 1);
        // 100 ns units of the same clock as the epoch milliseconds.
        const quint64 wall = ProcessTimes::systemTime100ns() / 10000;
        QVERIFY(qAbs(qint64(wall) - QDateTime::currentMSecsSinceEpoch()) < 60000);
    }

    void titleBarColours_data()
    {
        QTest::addColumn<quint32>("bg");
        QTest::addColumn<bool>("dark");
        QTest::newRow("white") << 0xFFFFFFu << false;
        QTest::newRow("128 grey, just above half") << 0x808080u << false;
        QTest::newRow("127 grey") << 0x7F7F7Fu << true;
        QTest::newRow("dark preset") << 0x0F0F12u << true;
        QTest::newRow("pure green is bright") << 0x00FF00u << false;
    }
    void titleBarColours()
    {
        QFETCH(quint32, bg);
        QFETCH(bool, dark);
        QCOMPARE(TitleBar::prefersDarkFrame(bg), dark);
    }

    void titleBarLayer()
    {
        QCOMPARE(TitleBar::toColorRef(0x112233u), 0x332211u);
        QVERIFY(qAbs(TitleBar::luminance(0x00FF00u) - 0.7152) < 1e-9);
        // X11 and Wayland draw the frame themselves.
        QVERIFY(!TitleBar::apply(quintptr(1), TitleBar::Colors{}));
        MainWindow w;
        w.show();
        w.applyTitleBarTheme();   // harmless with or without a native handle
    }

    void defaultOutputGuess()
    {
        const QByteArray usb("usb-headset");
        const QByteArray hda("hda-speakers");
        QCOMPARE(MainWindow::guessDefaultOutput({{QStringLiteral("USB Headset"), usb},
                                                 {QStringLiteral("Speakers (REALTEK Audio)"), hda}}),
                 QString::fromUtf8(hda));
        QCOMPARE(MainWindow::guessDefaultOutput({{QStringLiteral("USB Headset"), usb}}), QString());
        QCOMPARE(MainWindow::guessDefaultOutput({{QStringLiteral("High Definition Audio Device"), hda},
                                                 {QStringLiteral("Realtek"), usb}}),
                 QString::fromUtf8(hda));
    }

    void storedAccentSurvivesThePresetStep()
    {
        ThemeManager* tm = ThemeManager::instance();
        {
            AppSettings s;
            s.setValue(QStringLiteral("appearance/accent"), QStringLiteral("#12ab34"));
        }
        tm->applyPreset(ThemeManager::Dark);
        QCOMPARE(tm->colors().accent, QColor(0xE3, 0x1B, 0x23));
        QVERIFY(MainWindow::reapplyStoredAccent());
        QCOMPARE(tm->colors().accent, QColor(0x12, 0xab, 0x34));
        {
            AppSettings s;
            s.setValue(QStringLiteral("appearance/accent"), QStringLiteral("not a colour"));
        }
        QVERIFY(!MainWindow::reapplyStoredAccent());
        QCOMPARE(tm->colors().accent, QColor(0x12, 0xab, 0x34));
    }

    // Every pair of presets: a window started in one and switched at run
    // time to the other carries, widget by widget, the colours a window
    // started fresh in the second one carries; and likewise after an accent
    // change.
    // The same after one of the window's jobs, whose widgets are gone by then:
    // bundle jobs (an export, a cancelled one, an import either way) and grid
    // rebuilds, over a saved session.
    void themeReachesEveryWidget_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("job");
        const QMetaEnum presets = QMetaEnum::fromType<ThemeManager::Preset>();
        for (int i = 0; i < presets.keyCount(); ++i)
            QTest::newRow(presets.key(i)) << presets.value(i) << QString();
        QTest::newRow("accent") << -1 << QString();
        for (const char* job : {"export", "cancel", "import new", "import merge", "rebuild"})
            QTest::newRow(qPrintable(QStringLiteral("after %1").arg(QLatin1String(job))))
                << int(ThemeManager::Dark) << QString::fromLatin1(job);
    }
    void themeReachesEveryWidget()
    {
        QFETCH(int, from);
        QFETCH(QString, job);
        if (!job.isEmpty())
            return themeChangeAfterJob(from, job);
        setRecent({});
        ThemeManager* tm = ThemeManager::instance();
        static QMap<int, QMap<QString, Look>> fresh;
        auto freshLook = [&](int preset, const QColor& accent = QColor()) {
            const int key = accent.isValid() ? 1000 + preset : preset;
            if (!fresh.contains(key)) {
                tm->applyPreset(ThemeManager::Preset(preset));
                if (accent.isValid())
                    tm->setAccent(accent);
                QCoreApplication::processEvents();
                MainWindow w;
                w.show();
                settleTheme(&w);
                fresh.insert(key, looksOf(&w));
            }
            return fresh.value(key);
        };
        const int first = from < 0 ? int(ThemeManager::Dark) : from;
        const int count = QMetaEnum::fromType<ThemeManager::Preset>().keyCount();
        if (from < 0)
            freshLook(first, QColor(0x12, 0xab, 0x34));
        for (int to = 0; to < count; ++to)
            freshLook(to);

        tm->applyPreset(ThemeManager::Preset(first));
        QCoreApplication::processEvents();
        MainWindow w;
        w.show();
        settleTheme(&w);
        if (from < 0) {
            tm->setAccent(QColor(0x12, 0xab, 0x34));
            settleTheme(&w);
            const QStringList diff = lookDifferences(freshLook(first, QColor(0x12, 0xab, 0x34)), looksOf(&w));
            QVERIFY2(diff.isEmpty(), qPrintable(diff.mid(0, 8).join(QLatin1Char('\n'))));
            return;
        }
        // There and back for every other preset.
        for (int to = 0; to < count; ++to) {
            if (to == first)
                continue;
            for (int target : {to, first}) {
                tm->applyPreset(ThemeManager::Preset(target));
                settleTheme(&w);
                const QStringList diff = lookDifferences(freshLook(target), looksOf(&w));
                QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("to %1:\n").arg(target)
                                                    + diff.mid(0, 8).join(QLatin1Char('\n'))));
            }
        }
    }

    // In every preset every text stands out from its background as drawn:
    // at least 4.5 : 1 between the ink and the ground under it. The side
    // panels, the toolbar and the pane headers (texts and icons); every
    // dialog, prompt and message box the window opens (and the key on the
    // edit dialog's preview); the rows of the music list, of the recent sets
    // and the now-playing bar; the Grid menu's headings.
    void panelTextContrast_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QString>("area");
        const QMetaEnum presets = QMetaEnum::fromType<ThemeManager::Preset>();
        for (const char* area : {"panels", "dialogs", "lists", "menus"})
            for (int i = 0; i < presets.keyCount(); ++i)
                QTest::newRow(qPrintable(QLatin1String(presets.key(i)) + QLatin1Char(' ') + QLatin1String(area)))
                    << presets.value(i) << QString::fromLatin1(area);
    }
    void panelTextContrast()
    {
        QFETCH(int, preset);
        QFETCH(QString, area);
        setRecent({});
        if (area == QLatin1String("dialogs") || area == QLatin1String("lists"))
            setRecent(writeContrastSession());
        ThemeManager::instance()->applyPreset(ThemeManager::Preset(preset));
        QCoreApplication::processEvents();
        MainWindow w;
        w.resize(1380, 860);   // a large screen's first size
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        settleTheme(&w);
        const QStringList faint = area == QLatin1String("panels") ? faintInPanels(w)
                                : area == QLatin1String("dialogs") ? faintInDialogs(w)
                                : area == QLatin1String("menus")   ? faintInMenus(w)
                                                                    : faintInLists(w);
        // Each on a line of its own: the test's message keeps only its start.
        for (const QString& f : faint)
            qWarning().noquote() << "faint:" << f;
        QVERIFY2(faint.isEmpty(), qPrintable(faint.join(QLatin1Char('\n'))));
    }

    // Every drop-down list of the window, opened for real, draws its items
    // readable on its background in a dark and a light preset.
    void dropDownListsReadable_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QString>("list");
        for (ThemeManager::Preset p : {ThemeManager::Dark, ThemeManager::LightClassic, ThemeManager::LightBlue}) {
            const QString name = QString::fromLatin1(QMetaEnum::fromType<ThemeManager::Preset>().valueToKey(p));
            for (const char* list : {"output", "tabs", "musicDevice", "fade"})
                QTest::newRow(qPrintable(name + QLatin1Char(' ') + QLatin1String(list))) << int(p) << QString::fromLatin1(list);
        }
    }
    void dropDownListsReadable()
    {
        QFETCH(int, preset);
        QFETCH(QString, list);
        setRecent({});
        ThemeManager::instance()->applyPreset(ThemeManager::Preset(preset));
        QCoreApplication::processEvents();
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        settleTheme(&w);
        QComboBox* combo = nullptr;
        if (list == QLatin1String("output")) {
            combo = w.gridPanels().first().header->deviceCombo();
        } else if (list == QLatin1String("tabs")) {
            w.gridPanels().first().header->setTabList({QStringLiteral("One"), QStringLiteral("Two")}, 0);
            combo = w.gridPanels().first().header->tabCombo();
        } else {
            for (QPushButton* b : A::rightPanel(&w)->findChildren<QPushButton*>())
                if (b->text().trimmed() == QLatin1String("PLAYLIST"))
                    b->click();
            for (QComboBox* c : A::rightPanel(&w)->findChildren<QComboBox*>())
                if ((list == QLatin1String("fade")) == (c->objectName() == QLatin1String("gridHeaderCombo")))
                    combo = c;
        }
        QVERIFY(combo);
        QVERIFY(combo->isVisible());
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        QTRY_VERIFY(view->isVisible());
        QCoreApplication::processEvents();
        QWidget* popup = view->window();
        const QImage shot = popup->grab().toImage();
        // An item other than the current one: the plain item look.
        const int row = combo->count() > 1 && combo->currentIndex() == 0 ? 1 : 0;
        const QRect item = view->visualRect(view->model()->index(row, combo->modelColumn()));
        const QRect r = QRect(view->viewport()->mapTo(popup, item.topLeft()), item.size()).intersected(shot.rect());
        QVERIFY(!r.isEmpty());
        const double ratio = drawnContrast(shot, r);
        // An output list shows every entry, with no scroll arrow, where the
        // screen has room.
        if (list == QLatin1String("output") || list == QLatin1String("musicDevice")) {
            QCOMPARE(view->viewport()->height(), view->visualRect(view->model()->index(0, 0)).height() * combo->count());
            for (QWidget* part : popup->findChildren<QWidget*>())
                if (QByteArray(part->metaObject()->className()) == "QComboBoxPrivateScroller")
                    QVERIFY2(!part->isVisible(), "the list scrolls");
        }
        combo->hidePopup();
        QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1:1").arg(ratio, 0, 'f', 2)));
    }

    // At the window's default size and at its smallest, in a dark and a
    // light preset, every label shows its whole text (a count is shown
    // whole or not at all) and every button is at least as wide as its text.
    void textsFit_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<bool>("smallest");
        QTest::newRow("Dark, default size") << int(ThemeManager::Dark) << false;
        QTest::newRow("Dark, smallest") << int(ThemeManager::Dark) << true;
        QTest::newRow("LightClassic, default size") << int(ThemeManager::LightClassic) << false;
        QTest::newRow("LightClassic, smallest") << int(ThemeManager::LightClassic) << true;
    }
    void textsFit()
    {
        QFETCH(int, preset);
        QFETCH(bool, smallest);
        setRecent({});
        AppSettings().remove(QStringLiteral("window"));   // a first start's layout
        ThemeManager::instance()->applyPreset(ThemeManager::Preset(preset));
        QCoreApplication::processEvents();
        MainWindow w;
        w.show();
        settleTheme(&w);
        // The size a first start opens with, or the smallest the window allows.
        const QSize size = smallest ? w.minimumSize() : QSize(1380, 860);
        w.resize(size);
        QTRY_COMPARE(w.size(), size);
        // A count as a big library gives it.
        for (WholeTextLabel* count : w.findChildren<WholeTextLabel*>())
            count->setText(QStringLiteral("5/6658"));
        QList<QWidget*> panels{A::leftPanel(&w), A::rightPanel(&w)};
        for (const MainWindow::GridPanel& p : w.gridPanels())
            panels << p.header.data();
        QCoreApplication::processEvents();
        QStringList cut;
        for (int page = 0; page < 3; ++page) {
            for (QPushButton* b : A::leftPanel(&w)->findChildren<QPushButton*>())
                if (b->objectName() == QLatin1String("lpTabBtn") && b->text() == QStringList{"SETS", "LIBRARY", "ONLINE"}[page])
                    b->click();
            QCoreApplication::processEvents();
            for (QWidget* x : w.findChildren<QWidget*>()) {
                if (!x->isVisible() || x->width() <= 0)
                    continue;
                if (auto* whole = qobject_cast<WholeTextLabel*>(x)) {
                    if (whole->showsText() != (whole->fontMetrics().horizontalAdvance(whole->text())
                                               <= whole->contentsRect().width()))
                        cut << widgetPath(x, &w);
                    if (!smallest && !whole->showsText())
                        cut << QStringLiteral("%1 \"%2\" hidden at the default size (%3 > %4; panel %5, row %6)")
                                   .arg(widgetPath(x, &w), whole->text())
                                   .arg(whole->fontMetrics().horizontalAdvance(whole->text()))
                                   .arg(whole->contentsRect().width())
                                   .arg(A::rightPanel(&w)->width())
                                   .arg(whole->parentWidget()->width());
                    continue;
                }
                if (auto* l = qobject_cast<QLabel*>(x)) {
                    if (!insideAny(l, panels) || l->wordWrap() || l->textFormat() == Qt::RichText || l->text().isEmpty()
                        || Qt::mightBeRichText(l->text()) || l->text().contains(QLatin1Char('\n')))
                        continue;
                    if (l->fontMetrics().horizontalAdvance(l->text()) > l->contentsRect().width())
                        cut << QStringLiteral("%1 \"%2\" %3 > %4")
                                   .arg(widgetPath(x, &w), l->text())
                                   .arg(l->fontMetrics().horizontalAdvance(l->text()))
                                   .arg(l->contentsRect().width());
                } else if (auto* b = qobject_cast<QPushButton*>(x); b && !b->text().trimmed().isEmpty()) {
                    // As wide as its text (and icon) with some padding, or as
                    // the style's own least width when that is smaller.
                    const int need = b->fontMetrics().horizontalAdvance(b->text())
                        + (b->icon().isNull() ? 0 : b->iconSize().width() + 4) + 8;
                    if (b->width() < std::min(b->minimumSizeHint().width(), need))
                        cut << QStringLiteral("%1 \"%2\" %3 < %4")
                                   .arg(widgetPath(x, &w), b->text())
                                   .arg(b->width())
                                   .arg(b->minimumSizeHint().width());
                }
            }
        }
        // The music panel's count is shown whole at the panel's default width
        // and at its smallest (in a window wide enough to show the panel).
        w.resize(1380, 860);
        QTRY_COMPARE(w.size(), QSize(1380, 860));
        QSplitter* split = A::mainSplitter(&w);
        QList<int> sizes = split->sizes();
        sizes.last() = smallest ? A::rightPanel(&w)->minimumWidth() : 260;
        split->setSizes(sizes);
        QCoreApplication::processEvents();
        QTRY_COMPARE(A::rightPanel(&w)->width(), sizes.last());
        auto* count = qobject_cast<WholeTextLabel*>(A::musicCountLabel(&w));
        QVERIFY(count && count->isVisible());
        for (const QString& text : {QStringLiteral("0 in playlist"), QStringLiteral("5047 tracks"),
                                    QStringLiteral("1000 tracks found")}) {
            count->setText(text);
            QCoreApplication::processEvents();
            if (!count->showsText())
                cut << QStringLiteral("count \"%1\" hidden (%2 > %3; panel %4)")
                           .arg(text)
                           .arg(count->fontMetrics().horizontalAdvance(text))
                           .arg(count->contentsRect().width())
                           .arg(A::rightPanel(&w)->width());
        }
        cut.removeDuplicates();
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }

    // On an 800 x 600 screen the window opens within its available
    // area on a first start and when its geometry was saved on a larger
    // screen, never below its own minimum size.
    void windowFitsTheScreen_data()
    {
        QTest::addColumn<bool>("restored");
        QTest::newRow("first start") << false;
        QTest::newRow("saved on a larger screen") << true;
    }
    void windowFitsTheScreen()
    {
        QFETCH(bool, restored);
        setRecent({});
        AppSettings().remove(QStringLiteral("window"));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        if (area.width() >= 1380 && area.height() >= 860)
            QSKIP("run on a screen smaller than the first size only (tst_mainwindow_frame_small)");
        if (restored) {
            QWidget big;
            big.setGeometry(400, 300, 1380, 860);
            AppSettings s;
            s.setValue(QStringLiteral("window/version"), QStringLiteral("native_v1"));
            s.setValue(QStringLiteral("window/geometry"), big.saveGeometry());
            s.sync();
        }
        MainWindow w;
        QVERIFY(w.width() <= area.width() && w.height() <= area.height());
        QVERIFY(w.width() >= w.minimumWidth() && w.height() >= w.minimumHeight());
        QCOMPARE(w.minimumSize(), QSize(480, 400));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY2(area.contains(w.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4 outside %5x%6")
                                .arg(w.frameGeometry().x()).arg(w.frameGeometry().y())
                                .arg(w.frameGeometry().width()).arg(w.frameGeometry().height())
                                .arg(area.width()).arg(area.height())));
        // The status bar and the pane header's last control are on screen;
        // the right panel is too where the window is wide enough to show it.
        QWidget* gear = w.gridPanels().first().header->gearButton();
        for (QWidget* part : {w.findChild<QWidget*>(QStringLiteral("statusBar")), gear, A::rightPanel(&w)}) {
            QVERIFY(part);
            if (part == A::rightPanel(&w) && !part->isVisible())
                continue;
            QVERIFY2(part->isVisible(), qPrintable(part->objectName()));
            QVERIFY2(area.contains(QRect(part->mapToGlobal(QPoint(0, 0)), part->size())), qPrintable(part->objectName()));
        }
        AppSettings().remove(QStringLiteral("window"));
    }
};

QTEST_MAIN(TestMainWindowFrame)
#include "tst_mainwindow_frame.moc"
