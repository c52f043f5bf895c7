// A grid's requests to the window (play, stop, edit, record changes, swaps)
// and the per-button edit actions.
#include "MainWindow.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImage>
#include <QImageReader>
#include <QMessageBox>
#include <QtConcurrent>

#include "ButtonEditDialog.h"
#include "ButtonGrid.h"
#include "ButtonKey.h"
#include "DirectSoundEngine.h"
#include "EventLog.h"
#include "FileCheck.h"
#include "Modal.h"
#include "OpLog.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "TabKeys.h"
#include "ThemeManager.h"
#include "TrimDialog.h"

namespace {

constexpr int kImageFit = 512;
constexpr qint64 kSwapGuardMs = 50;

QString displayName(const ButtonData& b)
{
    return b.name.isEmpty() ? QFileInfo(b.audioPath).completeBaseName() : b.name;
}

// A record's widget takes new data but keeps showing whether it plays.
void refreshKeepingState(SoundButton* w, const ButtonData& b)
{
    const bool playing = w->isPlaying();
    const quint8 mark = w->triggerMark();
    w->setButtonData(b);
    if (playing) {
        w->setPlaying(true);
        w->setTriggerMark(mark);
    }
    w->update();
}

// The image file as base64 PNG text, fitted into 512 x 512; empty when it
// cannot be read. Runs on the thread pool. Qt's reader refuses images whose
// pixels would pass its allocation limit before it allocates them.
QByteArray buttonImageBase64(const QString& path)
{
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > kImageFit || image.height() > kImageFit)
        image = image.scaled(kImageFit, kImageFit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return buffer.data().toBase64();
}

} // namespace

void MainWindow::connectGrid(ButtonGrid* grid)
{
    connect(grid, &ButtonGrid::playRequested, this, &MainWindow::onPlayRequested);
    connect(grid, &ButtonGrid::stopRequested, this, &MainWindow::onStopRequested);
    connect(grid, &ButtonGrid::editRequested, this, &MainWindow::onEditRequested);
    connect(grid, &ButtonGrid::buttonDataChanged, this, &MainWindow::onButtonDataChanged);
    connect(grid, &ButtonGrid::assignRequested, this,
            [this](const QString& id) { onEditRequested(id, QStringLiteral("assign")); });
    connect(grid, &ButtonGrid::buttonSwapRequested, this, &MainWindow::onButtonSwapRequested);
    // A file dropped on a button replaced its sound. The record change came
    // first and took the old sound out of every engine's cache and queued
    // the new one; here the button stops, and what was queued stays.
    connect(grid, &ButtonGrid::dropped, this, [this](const QString& id, const QString&) {
        routedStop(id, 0);
    });
    connect(grid, &ButtonGrid::bulkAssignComplete, this, [this](int assigned, int total) {
        if (assigned <= 0)
            toast(QStringLiteral("⚠️  No empty pads available on this tab"), ToastManager::Warning, 2400);
        else if (assigned == total)
            toast(QStringLiteral("✅  Assigned %1 sample%2 to pads")
                      .arg(assigned)
                      .arg(assigned == 1 ? QString() : QStringLiteral("s")),
                  ToastManager::Success, 2200);
        else
            toast(QStringLiteral("⚠️  Assigned %1 of %2 — ran out of empty pads on this tab").arg(assigned).arg(total),
                  ToastManager::Warning, 3000);
    });
}

// --- Finding and committing -----------------------------------------------------

SoundButton* MainWindow::findEditedButton(const QString& id)
{
    if (SoundButton* w = findButtonWidget(id))
        return w;
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    for (int t = 0; t < tabs.size(); ++t) {
        const bool holds = std::any_of(tabs[t].buttons.cbegin(), tabs[t].buttons.cend(),
                                       [&id](const ButtonData& b) { return b.id == id; });
        if (!holds)
            continue;
        currentTab = t;
        rebuildTabStrip();
        if (SoundButton* w = findButtonWidget(id))
            return w;
    }
    return nullptr;
}

void MainWindow::storeInEveryTab(const ButtonData& b)
{
    for (TabData& t : SessionManager::instance()->session().tabs) {
        for (ButtonData& rec : t.buttons) {
            if (rec.id == b.id) {
                rec = b;
                break;
            }
        }
    }
    storeInGrids(b);
}

void MainWindow::storeInGrids(const ButtonData& b)
{
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid)
            p.grid->updateRecord(b);
}

void MainWindow::commitButton(const ButtonData& b)
{
    int pane = -1;
    SoundButton* w = findButtonWidget(b.id, &pane);
    if (!w)
        return;
    w->setButtonData(b);
    storeInEveryTab(b);
    SessionManager::instance()->markDirty();
    if (ButtonGrid* grid = m_panels[pane].grid)
        emit grid->buttonDataChanged(b);
}

// --- Edit actions ------------------------------------------------------------------

void MainWindow::onEditRequested(const QString& id, const QString& action)
{
    SoundButton* widget = findEditedButton(id);
    if (!widget)
        return;
    ButtonData b = widget->buttonData();
    SessionManager* sm = SessionManager::instance();
    PlaybackEngines& e = engines();

    if (action == QLatin1String("reassign")) {
        runReassignDialog(b);
    } else if (action == QLatin1String("assign") || (action.isEmpty() && b.audioPath.isEmpty())) {
        runAssignDialog(b);
    } else if (action.isEmpty()) {
        ButtonEditDialog dialog(b, this);
        dialog.refuseTabKeysOf(sm->session().tabs);
        if (Modal::exec(&dialog) == QDialog::Accepted)
            commitButton(dialog.result());
    } else if (action == QLatin1String("trim")) {
        if (b.audioPath.isEmpty())
            return;
        TrimDialog dialog(b, this);
        if (Modal::exec(&dialog) != QDialog::Accepted)
            return;
        b.trimStart = dialog.trimStart();
        b.trimEnd = dialog.trimEnd();
        b.fadeIn = dialog.fadeIn();
        b.fadeOut = dialog.fadeOut();
        b.volume = dialog.volume();
        evictButtonFromAllEngines(id);
        e.dsPreload(b);
        commitButton(b);
    } else if (action == QLatin1String("name")) {
        bool ok = false;
        const QString text =
            Modal::getText(this, QStringLiteral("Rename Button"), QStringLiteral("Label:"), b.name, &ok);
        if (!ok)
            return;
        b.name = text;
        commitButton(b);
    } else if (action == QLatin1String("color") || action == QLatin1String("txtcolor")) {
        const bool bg = action == QLatin1String("color");
        const ThemeColors& tc = ThemeManager::instance()->colors();
        const QColor& now = bg ? b.bgColor : b.textColor;
        const QColor initial = now.isValid() ? now : (bg ? tc.surfaceAlt : tc.text);
        const QColor picked = Modal::getColor(initial, this, bg ? QStringLiteral("Button Color")
                                                                : QStringLiteral("Text Color"));
        if (!picked.isValid())
            return;
        if (bg)
            SoundButton::recolor(b, picked);
        else
            b.textColor = picked;
        commitButton(b);
    } else if (action == QLatin1String("key")) {
        runKeyDialog(b);
    } else if (action == QLatin1String("fontsize")) {
        bool ok = false;
        const int size = Modal::getInt(this, QStringLiteral("Font Size"), QStringLiteral("Pixel size (0=auto):"),
                                       b.fontSize, 0, 72, 1, &ok);
        if (!ok)
            return;
        b.fontSize = size;
        commitButton(b);
    } else if (action == QLatin1String("loop") || action == QLatin1String("rapid")
               || action == QLatin1String("super")) {
        // The button has toggled its own copy already: that copy is the
        // record, for the session and for the grids' copies alike.
        storeInEveryTab(b);
        sm->markDirty();
        const bool rapidOn = action == QLatin1String("rapid") && b.rapid;
        if ((action == QLatin1String("loop") || rapidOn) && !b.audioPath.isEmpty()) {
            // The pre-decoded sound carries the loop flag. A ready one takes
            // the new flag as it is, so a sound that plays goes on and the
            // flag is heard from the next press; one not ready yet is
            // prepared again with it.
            if (!e.dsSetLoop(id, b.loop)) {
                e.dsEvict(id);
                e.dsPreload(b);
            }
            if (rapidOn && eventLog)
                eventLog->log(QStringLiteral("Audio"),
                              QStringLiteral("Rapid button: converting to WAV cache for instant playback…"),
                              QStringLiteral("info"));
        }
        if (action == QLatin1String("super")) {
            // The button takes or gives up its 2 x 2 cell.
            for (const GridPanel& p : std::as_const(m_panels))
                if (p.grid && p.grid->buttonWidgetById(id))
                    p.grid->setColumns(p.grid->columns());
        }
    } else if (action == QLatin1String("midi")) {
        QString name;
        if (SoundButton* w = findButtonWidget(id)) {
            name = displayName(w->buttonData());
            w->setTriggerMark(SoundButton::TriggeredByWindow);
            w->update();
        }
        MidiManager::instance()->startLearn(id);
        toast(QStringLiteral("🎹  MIDI Learn%1 — press a pad or key")
                  .arg(name.isEmpty() ? QString() : QStringLiteral(" for \"%1\"").arg(name)),
              ToastManager::Highlight, 5000);
    } else if (action == QLatin1String("midiclear")) {
        QString name;
        if (SoundButton* w = findButtonWidget(id))
            name = displayName(w->buttonData());
        MidiManager::instance()->removeMapping(id);
        toast(QStringLiteral("🎹  Cleared MIDI assignment%1")
                  .arg(name.isEmpty() ? QString() : QStringLiteral(" for \"%1\"").arg(name)),
              ToastManager::Highlight, 3000);
    } else if (action.startsWith(QLatin1String("outputDevice:"))) {
        // Through the commit step, so that the widget and the grid, which a
        // press reads, play on the new device too.
        b.outputDevice = action.mid(13);
        commitButton(b);
    } else if (action == QLatin1String("img")) {
        runImageDialog(id);
    } else {
        commitButton(b);
    }
}

void MainWindow::runAssignDialog(ButtonData b)
{
    VX_LOG(QStringLiteral("[AssignDialog] opening file picker..."));
    QElapsedTimer clock;
    clock.start();
    const QString path = Modal::getOpenFileName(
        this, QStringLiteral("Assign Audio File"), QString(),
        QStringLiteral("Audio Files (*.mp3 *.wav *.ogg *.flac *.aac *.m4a *.wma *.aiff *.opus *.mp4)"));
    VX_LOG(QStringLiteral("[AssignDialog] closed after %1ms, path=%2")
               .arg(clock.elapsed())
               .arg(path.isEmpty() ? QStringLiteral("(cancelled)") : path));
    if (path.isEmpty())
        return;
    QString why;
    if (!FileCheck::isRegularFile(path, &why)) {
        Modal::warning(this, QStringLiteral("Assign Audio File"),
                       QStringLiteral("Cannot use %1: %2").arg(path, why), QMessageBox::Ok);
        return;
    }
    b.audioPath = path;
    if (b.name.isEmpty())
        b.name = QFileInfo(path).completeBaseName();
    if (!b.bgColor.isValid())
        b.bgColor = ThemeManager::nextVibrantColor();
    if (!b.textColor.isValid())
        b.textColor = SoundButton::autoTextColor(b.bgColor);
    commitButton(b);
    if (b.id == nowPlayingId) {
        const QString title = displayName(b);
        barSetTrack(title, b.audioPath);
        setStripTitle(title);
    }
}

bool MainWindow::takeKeyFrom(const ButtonData& other, const QString& key, const ButtonData& edited)
{
    const int answer = Modal::question(
        this, QStringLiteral("Shortcut Key Already Assigned"),
        QStringLiteral("Key '%1' is already assigned to \"%2\".\n\nDo you want to remove that assignment and "
                       "assign it to \"%3\" instead?")
            .arg(key, displayName(other), displayName(edited)),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        toast(QStringLiteral("Kept existing assignment on \"%1\"").arg(displayName(other)), ToastManager::Info,
              2500);
        return false;
    }
    clearKeyOf(other.id);
    return true;
}

void MainWindow::clearKeyOf(const QString& id)
{
    for (TabData& t : SessionManager::instance()->session().tabs)
        for (ButtonData& rec : t.buttons)
            if (rec.id == id)
                rec.key.clear();
    // The grids' copies too: a later drop on the button starts from them.
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        for (const ButtonData& own : p.grid->tab().buttons) {
            if (own.id == id) {
                ButtonData rec = own;
                rec.key.clear();
                p.grid->updateRecord(rec);
                break;
            }
        }
    }
    for (const GridPanel& p : std::as_const(m_panels)) {
        SoundButton* w = p.grid ? p.grid->buttonWidgetById(id) : nullptr;
        if (!w)
            continue;
        ButtonData rec = w->buttonData();
        rec.key.clear();
        refreshKeepingState(w, rec);
    }
}

void MainWindow::runReassignDialog(ButtonData b)
{
    const QString oldKey = b.key;
    ButtonEditDialog dialog(b, this);
    dialog.refuseTabKeysOf(SessionManager::instance()->session().tabs);
    if (Modal::exec(&dialog) != QDialog::Accepted)
        return;
    b = dialog.result();
    if (!b.key.isEmpty() && b.key != oldKey) {
        // Only the first other holder is asked about.
        const ButtonData* other = nullptr;
        for (const TabData& t : SessionManager::instance()->session().tabs) {
            for (const ButtonData& rec : t.buttons) {
                if (rec.id != b.id && rec.key == b.key) {
                    other = &rec;
                    break;
                }
            }
            if (other)
                break;
        }
        if (other && !takeKeyFrom(ButtonData(*other), b.key, b))
            b.key = oldKey;
    }
    commitButton(b);
}

void MainWindow::runKeyDialog(ButtonData b)
{
    bool ok = false;
    const QString text = Modal::getText(this, QStringLiteral("Shortcut Key"), QStringLiteral("Enter key:"), b.key, &ok);
    if (!ok)
        return;
    const QString key = ButtonKey::stored(text);
    // The key the button has is never refused, whatever gave it. A new one
    // must be one a button fires on and that no tab's key takes.
    const QString why = TabKeys::refusalOfButtonText(SessionManager::instance()->session().tabs, text);
    if (key != b.key && !why.isEmpty()) {
        Modal::warning(this, QStringLiteral("Shortcut Key"), why);
        return;
    }
    if (!key.isEmpty()) {
        QList<ButtonData> holders;
        for (const TabData& t : SessionManager::instance()->session().tabs)
            for (const ButtonData& rec : t.buttons)
                if (rec.id != b.id && rec.key == key)
                    holders.append(rec);
        bool tookAny = false;
        for (const ButtonData& other : std::as_const(holders)) {
            if (!takeKeyFrom(other, key, b)) {
                // Nothing of this edit is stored; keys already taken from
                // other buttons stay taken, and that is a change to keep.
                if (tookAny) {
                    SessionManager::instance()->markDirty();
                    refreshTabDerivedState();
                }
                return;
            }
            tookAny = true;
            toast(QStringLiteral("Key '%1' unassigned from '%2'").arg(key, other.name), ToastManager::Info, 2000);
        }
    }
    b.key = key;
    commitButton(b);
}

void MainWindow::runImageDialog(const QString& id)
{
    const QString path = Modal::getOpenFileName(this, QStringLiteral("Add Button Image"), QString(),
                                                QStringLiteral("Image Files (*.png *.jpg *.jpeg *.bmp *.gif *.webp)"));
    if (path.isEmpty())
        return;
    auto refuse = [this, path] {
        Modal::warning(this, QStringLiteral("Image Error"), QStringLiteral("Could not load image: ") + path,
                       QMessageBox::Ok);
    };
    if (!FileCheck::isRegularFile(path)) {
        refuse();
        return;
    }
    // Decoding and scaling run on the pool; the button takes the picture
    // as it is when the work is done.
    auto* watcher = new QFutureWatcher<QByteArray>(this);
    connect(watcher, &QFutureWatcher<QByteArray>::finished, this, [this, watcher, id, refuse] {
        const QByteArray base64 = watcher->result();
        watcher->deleteLater();
        if (base64.isEmpty()) {
            refuse();
            return;
        }
        SoundButton* w = findButtonWidget(id);
        if (!w)
            return;
        ButtonData b = w->buttonData();
        b.img = QString::fromLatin1(base64);
        commitButton(b);
    });
    watcher->setFuture(QtConcurrent::run(&buttonImageBase64, path));
}

// --- Record changes and swaps ---------------------------------------------------------

void MainWindow::onButtonDataChanged(const ButtonData& btn)
{
    SessionManager* sm = SessionManager::instance();
    Session& s = sm->session();
    PlaybackEngines& e = engines();
    const QString& id = btn.id;

    // 1. A key moves to this button from every other that held it.
    if (!btn.key.isEmpty()) {
        QStringList holders;
        for (const TabData& t : std::as_const(s.tabs))
            for (const ButtonData& rec : t.buttons)
                if (rec.id != id && rec.key == btn.key && !holders.contains(rec.id))
                    holders.append(rec.id);
        for (const QString& other : std::as_const(holders))
            clearKeyOf(other);
    }

    // 2-3. Stored in the first tab that holds it, else at the position its
    // grid shows it in.
    bool stored = false;
    for (TabData& t : s.tabs) {
        for (ButtonData& rec : t.buttons) {
            if (rec.id == id) {
                rec = btn;
                stored = true;
                break;
            }
        }
        if (stored)
            break;
    }
    if (!stored) {
        int pane = -1;
        if (findButtonWidget(id, &pane)) {
            const int t = m_panels[pane].tabIndex;
            const QList<ButtonData>& shown = m_panels[pane].grid->tab().buttons;
            int i = -1;
            for (int k = 0; k < shown.size() && i < 0; ++k)
                if (shown[k].id == id)
                    i = k;
            if (t >= 0 && t < s.tabs.size() && i >= 0 && i < s.tabs[t].buttons.size()) {
                s.tabs[t].buttons[i] = btn;
                VX_LOG(QStringLiteral("[onButtonDataChanged] recovered orphaned button id=") + id
                       + QStringLiteral(" into tab ") + QString::number(t));
            }
        }
    }

    // 4.
    sm->markDirty();

    // 5. Every grid's own copy.
    storeInGrids(btn);

    // 6. Keys and positions are derived again from the session.
    refreshTabDerivedState();

    // 7-8. The old sound stops and leaves every engine.
    if (e.audioIsPlaying(id) || e.dsIsPlaying(id)) {
        e.audioCancelFade(id);
        e.audioStop(id);
        e.dsStop(id);
        if (SoundButton* w = findButtonWidget(id)) {
            w->setPlaying(false);
            w->setTriggerMark(SoundButton::NotTriggered);
            w->update();
        }
    }
    evictButtonFromAllEngines(id);
    // A wait for the old sound ends with it.
    preloadWaits.remove(id);

    // 9. The new sound is prepared in every engine. The button is redrawn
    // once its pre-load ends (see onPreloadEnded); nothing can arrive before
    // the pre-decoded engine is up, nor for a pre-load it did not queue.
    if (!btn.audioPath.isEmpty()) {
        e.audioPreBuffer({btn.audioPath});
        if (e.dsInitialized() && e.dsPreload(btn))
            preloadWaits.insert(id);
        e.pcmPreload(btn);
    }

    // 10. Every pane's widget shows the record.
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid)
            if (SoundButton* w = p.grid->buttonWidgetById(id))
                w->setButtonData(btn);

    // 11.
    updateStatusBar();
}

void MainWindow::onPreloadEnded(const QString& id)
{
    if (!preloadWaits.remove(id))
        return;
    if (SoundButton* w = findButtonWidget(id))
        w->update();
}

void MainWindow::onButtonSwapRequested(const QString& srcId, const QString& destId)
{
    // A button dropped onto itself changes nothing.
    if (srcId == destId)
        return;
    const QString pair = srcId + destId;
    const qint64 now = wallNow();
    const auto last = lastSwap.constFind(pair);
    if (last != lastSwap.constEnd() && now - *last < kSwapGuardMs)
        return;
    lastSwap.insert(pair, now);

    Session& s = SessionManager::instance()->session();
    // The last record with the id, else the one at the position a grid shows it.
    auto locate = [&](const QString& id) -> ButtonData* {
        ButtonData* found = nullptr;
        for (TabData& t : s.tabs)
            for (ButtonData& rec : t.buttons)
                if (rec.id == id)
                    found = &rec;
        if (found)
            return found;
        int pane = -1;
        if (!findButtonWidget(id, &pane))
            return nullptr;
        const int t = m_panels[pane].tabIndex;
        if (t < 0 || t >= s.tabs.size())
            return nullptr;
        const QList<ButtonData>& shown = m_panels[pane].grid->tab().buttons;
        for (int k = 0; k < shown.size(); ++k)
            if (shown[k].id == id)
                return k < s.tabs[t].buttons.size() ? &s.tabs[t].buttons[k] : nullptr;
        return nullptr;
    };
    ButtonData* src = locate(srcId);
    ButtonData* dest = locate(destId);
    if (!src || !dest)
        return;

    PlaybackEngines& e = engines();
    for (const QString& id : {srcId, destId}) {
        e.audioCancelFade(id);
        e.audioStop(id);
    }
    for (const QString& id : {srcId, destId})
        e.dsStop(id);
    for (const QString& id : {srcId, destId})
        evictButtonFromAllEngines(id);

    // The contents change places; each place keeps its id.
    const QString srcOwnId = src->id;
    const QString destOwnId = dest->id;
    std::swap(*src, *dest);
    src->id = srcOwnId;
    dest->id = destOwnId;
    const ButtonData srcRec = *src;
    const ButtonData destRec = *dest;
    SessionManager::instance()->markDirty();
    // The grids build the records of later drops from their own copies.
    storeInGrids(srcRec);
    storeInGrids(destRec);

    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        const std::pair<const QString*, const ButtonData*> sides[] = {{&srcId, &srcRec}, {&destId, &destRec}};
        for (const auto& [id, rec] : sides) {
            if (SoundButton* w = p.grid->buttonWidgetById(*id)) {
                w->setButtonData(*rec);
                w->setPlaying(false);
                w->update();
            }
        }
    }

    refreshTabDerivedState();
    updateStatusBar();
}
