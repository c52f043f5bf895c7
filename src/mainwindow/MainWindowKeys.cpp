// Keyboard triggers: the application-wide event filter and the window's own
// key handling (hot keys, Space and Esc, the Control-key commands), the tab
// strip's wheel, the music list's drag onto the buttons and the music panel's
// drop targets. Also the button search dialog.
#include "MainWindow.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDrag>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>

#include "AppSettings.h"
#include "ButtonGrid.h"
#include "ButtonKey.h"
#include "EventLog.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "TabKeys.h"
#include "ThemeFollow.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

constexpr qint64 kHotKeyGuardMs = 9;
constexpr int kDragStartDistance = 9;
constexpr int kDragLabelPx = 176;

// The keypad flag says where a key is, not that a modifier is held.
Qt::KeyboardModifiers heldModifiers(const QKeyEvent* e)
{
    return e->modifiers() & ~Qt::KeypadModifier;
}

bool isListTarget(const QListWidget* list, const QObject* watched)
{
    return list && (watched == list || watched == list->viewport());
}

// A widget or window of a popup: a combo box's list, a menu, a completer.
bool isPopupPart(const QObject* o)
{
    if (const auto* w = qobject_cast<const QWidget*>(o))
        return w->window()->windowType() == Qt::Popup;
    if (const auto* win = qobject_cast<const QWindow*>(o))
        return win->type() == Qt::Popup;
    return false;
}

} // namespace

// A popup can close before its key is pressed: a combo box's list closes on
// the shortcut check that comes ahead of the Esc press, which then goes to
// the window with no popup left. A key whose check found a popup open stays
// the popup's until it is released: its press and repeats are swallowed once
// the popup is gone. True for a press to swallow.
bool MainWindow::notePopupKey(QEvent* event, const QObject* watched)
{
    const auto* ke = static_cast<const QKeyEvent*>(event);
    const bool popupOpen = QApplication::activePopupWidget() || isPopupPart(watched);
    if (event->type() == QEvent::ShortcutOverride) {
        if (popupOpen)
            popupKey = {ke->key(), false};
        return false;
    }
    if (ke->key() != popupKey.key) {
        if (event->type() == QEvent::KeyPress)
            popupKey = {};
        return false;
    }
    if (event->type() == QEvent::KeyRelease) {
        if (!ke->isAutoRepeat())
            popupKey = {};
        return false;
    }
    if (popupOpen) {
        popupKey.pressed = true;
        return false;
    }
    if (popupKey.pressed && !ke->isAutoRepeat()) {
        popupKey = {}; // a new press: the release of the last one went elsewhere
        return false;
    }
    popupKey.pressed = true;
    return true;
}

// While a popup, a dialog or a menu is open, or a text or number field has the
// focus, keys belong to it: Esc closes the popup or the dialog, Space types a
// space or picks a row, a key capture gets its key. A key sent to a popup
// stays its own also on its way through the popup's parents after the popup
// closed on it.
bool MainWindow::keysBelongToField(const QObject* watched) const
{
    if (QApplication::activePopupWidget() || isPopupPart(watched))
        return true;
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this)
        return true;
    QWidget* f = QApplication::focusWidget();
    if (!f)
        return false;
    if (qobject_cast<QLineEdit*>(f) || qobject_cast<QTextEdit*>(f) || qobject_cast<QPlainTextEdit*>(f)
        || qobject_cast<QAbstractSpinBox*>(f))
        return true;
    const auto* combo = qobject_cast<QComboBox*>(f);
    return combo && combo->isEditable();
}

// The keys the window's own key handling serves: they have no QShortcut or
// QAction, so this table is what serves them and what names them to a key
// that would collide with one. Space and Esc are taken whatever modifiers
// are held; the panel keys only when the key reaches the window itself.
const QList<MainWindow::WindowKey>& MainWindow::windowKeys()
{
    static const QList<WindowKey> keys = {
        {Qt::Key_Space, Qt::NoModifier, true, false, "Stop All", &MainWindow::onStopAll},
        {Qt::Key_Escape, Qt::NoModifier, true, false, "Panic Stop", &MainWindow::onPanic},
        {Qt::Key_Comma, Qt::ControlModifier, false, false, "Settings", &MainWindow::openSettingsDialog},
        {Qt::Key_N, Qt::ControlModifier, false, false, "New Set", &MainWindow::onNewSession},
        {Qt::Key_O, Qt::ControlModifier, false, false, "Open Set", &MainWindow::onOpenSession},
        {Qt::Key_R, Qt::ControlModifier, false, false, "Record", &MainWindow::onToggleRecord},
        {Qt::Key_S, Qt::ControlModifier, false, false, "Save", &MainWindow::onSaveSession},
        {Qt::Key_BracketLeft, Qt::ControlModifier, false, true, "Toggle Left Panel", &MainWindow::toggleLeftPanel},
        {Qt::Key_BracketRight, Qt::ControlModifier, false, true, "Toggle Right Panel",
         &MainWindow::toggleRightPanel},
    };
    return keys;
}

const MainWindow::WindowKey* MainWindow::windowKeyFor(int key, Qt::KeyboardModifiers mods, bool reachedWindow)
{
    for (const WindowKey& k : windowKeys())
        if (k.key == key && (k.anyModifiers || k.mods == mods) && (reachedWindow || !k.windowOnly))
            return &k;
    return nullptr;
}

namespace {

// A command's name as a message says it: without its mnemonic marks, its
// key hint, the "+ " of the new-item entries and the "…" of those that ask.
QString commandName(const QString& text)
{
    static const QRegularExpression mark(QStringLiteral("&(?!&)"));
    QString name = text.section(QLatin1Char('\t'), 0, 0);
    name.remove(mark);
    name = name.trimmed();
    if (name.startsWith(QLatin1String("+ ")))
        name = name.mid(2);
    if (name.endsWith(QChar(0x2026)))
        name.chop(1);
    return name;
}

} // namespace

// Read from the window as it is, so that a key added anywhere is counted.
QList<MainWindow::KeyHolder> MainWindow::windowKeyMap() const
{
    QList<KeyHolder> out;
    auto add = [&out](const QKeySequence& keys, bool anyModifiers, const QString& name) {
        if (!keys.isEmpty())
            out.append({keys, anyModifiers, name.isEmpty() ? QStringLiteral("a window command") : name});
    };
    for (QShortcut* sc : findChildren<QShortcut*>()) {
        if (!sc->isEnabled() || tabStopShortcuts.contains(sc) || tabVolShortcuts.contains(sc))
            continue;
        for (const QKeySequence& k : sc->keys())
            add(k, false, sc->whatsThis());
    }
    QList<QAction*> actions = this->actions();
    for (QAction* a : findChildren<QAction*>())
        if (!actions.contains(a))
            actions.append(a);
    for (const QAction* a : std::as_const(actions)) {
        if (!a->isEnabled())
            continue;
        for (const QKeySequence& k : a->shortcuts())
            add(k, false, commandName(a->text()));
    }
    for (const QAbstractButton* b : findChildren<QAbstractButton*>())
        if (b->isEnabled())
            add(b->shortcut(), false, commandName(b->text()));
    for (const WindowKey& k : windowKeys())
        add(QKeySequence(QKeyCombination(k.mods, Qt::Key(k.key))), k.anyModifiers, QString::fromLatin1(k.name));
    return out;
}

bool MainWindow::filterKeyPress(const QObject* watched, QKeyEvent* e)
{
    if (keysBelongToField(watched))
        return false;
    const int key = e->key();
    const Qt::KeyboardModifiers mods = heldModifiers(e);
    if (const WindowKey* k = windowKeyFor(key, mods, false)) {
        (this->*k->run)();
        return true;
    }
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    const QString pressed = ButtonKey::ofPress(e);
    if (!isRepeatPress(e) && !pressed.isEmpty() && currentTab >= 0 && currentTab < tabs.size()) {
        // The current tab's own button for the key, among the records its
        // pads show, under the same press guard as the window's own lookup.
        const QList<ButtonData>& buttons = tabs[currentTab].buttons;
        const qsizetype shown = std::min<qsizetype>(
            buttons.size(), validButtonsPerTab(SessionManager::instance()->session().buttonsPerTab));
        auto playFirst = [&](const QString& k) {
            for (qsizetype i = 0; i < shown; ++i) {
                const ButtonData& b = buttons[i];
                if (b.key == k && !b.audioPath.isEmpty()) {
                    const ButtonData copy = b;
                    if (acceptHotKeyPress(k, copy.rapid, false))
                        onPlayRequested(copy);
                    return true;
                }
            }
            return false;
        };
        if (playFirst(pressed))
            return true;
    }
    return false;
}

// A key of any tab, through the key map. A normal button fires once per
// press (auto-repeats and presses 9 ms or less after the last are dropped); a
// rapid one fires on every repeat.
bool MainWindow::hotKeyLookup(const QString& text, const QKeyEvent* e)
{
    const auto it = keyButtonMap.constFind(text);
    if (it == keyButtonMap.constEnd())
        return false;
    // The map follows every change of keys; the record is still taken from
    // the session, so the button plays as it is now.
    const ButtonData* live = shownRecord(tabOfButton(it.value().id), it.value().id);
    if (!live || live->key != text)
        return false;
    const ButtonData b = *live;
    if (!acceptHotKeyPress(text, b.rapid, isRepeatPress(e)))
        return true;
    if (!b.audioPath.isEmpty()) {
        engines().wasapiStampClick();
        onPlayRequested(b);
    }
    return true;
}

QString MainWindow::keyHolderOf(const ButtonData& b)
{
    if (b.key.isEmpty())
        return {};
    const Session& s = SessionManager::instance()->session();
    // A tab key's shortcut takes the press before any pad sees it.
    if (QString tabKey = TabKeys::holderOfButtonKey(s.tabs, b.key); !tabKey.isEmpty())
        return tabKey;
    // Then the current tab's own pads, as filterKeyPress serves them.
    if (currentTab >= 0 && currentTab < s.tabs.size()) {
        const QList<ButtonData>& buttons = s.tabs[currentTab].buttons;
        const qsizetype shown = std::min<qsizetype>(buttons.size(), validButtonsPerTab(s.buttonsPerTab));
        for (qsizetype i = 0; i < shown; ++i) {
            const ButtonData& own = buttons[i];
            if (own.key == b.key && !own.audioPath.isEmpty())
                return own.id == b.id ? QString()
                                      : TabKeys::buttonHolderName(own, TabKeys::tabLabel(s.tabs, currentTab));
        }
    }
    // Then the later pad of any tab, as hotKeyLookup serves it.
    const auto it = keyButtonMap.constFind(b.key);
    if (it == keyButtonMap.constEnd() || it.value().id == b.id)
        return {};
    const int t = tabOfButton(it.value().id);
    const ButtonData* live = shownRecord(t, it.value().id);
    if (!live || live->key != b.key)
        return {};
    return TabKeys::buttonHolderName(*live, TabKeys::tabLabel(s.tabs, t));
}

void MainWindow::refreshKeyBadges()
{
    // A grid out of sight paints afresh when it shows (and one whose pads
    // wait for that is not made to make them).
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid || p.grid->padsPending() || !p.grid->isVisible())
            continue;
        for (int i = 0; i < p.grid->buttonCount(); ++i)
            if (SoundButton* b = p.grid->buttonWidget(i); b && !b->buttonData().key.isEmpty())
                b->update();
    }
}

// A rapid button fires on every press and repeat; a normal one once per press:
// its auto-repeats and a press 9 ms or less after the last one of the same key
// are dropped, whichever path the key took.
bool MainWindow::acceptHotKeyPress(const QString& text, bool rapid, bool autoRepeat)
{
    const qint64 now = wallNow();
    qint64& last = hotKeyPressTimes[text];
    if (rapid) {
        last = now;
        return true;
    }
    if (now - last <= kHotKeyGuardMs)
        return false;
    last = now;
    return !autoRepeat;
}

// A zero stamp is no stamp (an event made by the program itself).
bool MainWindow::isRepeatPress(const QKeyEvent* e) const
{
    if (e->isAutoRepeat())
        return true;
    const quint64 stamp = e->timestamp();
    return stamp != 0 && keyReleaseStamps.value(e->key(), 0) == stamp;
}

void MainWindow::noteKeyRelease(const QKeyEvent* e)
{
    keyReleaseStamps.insert(e->key(), e->timestamp());
}

void MainWindow::keyPressEvent(QKeyEvent* e)
{
    VX_LOG(QStringLiteral("[keyPress] key=%1").arg(e->key()));
    const QWidget* modal = QApplication::activeModalWidget();
    if ((modal && modal != this) || QApplication::activePopupWidget()) {
        QMainWindow::keyPressEvent(e);
        return;
    }
    // Space and Esc act once for a held key here.
    const WindowKey* k = windowKeyFor(e->key(), heldModifiers(e), true);
    if (k && !(k->anyModifiers && e->isAutoRepeat())) {
        (this->*k->run)();
        e->accept();
        return;
    }
    if (const QString pressed = ButtonKey::ofPress(e); !pressed.isEmpty() && hotKeyLookup(pressed, e)) {
        e->accept();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        notePopupKey(event, watched);
        break;
    case QEvent::KeyRelease:
        noteKeyRelease(static_cast<QKeyEvent*>(event));
        notePopupKey(event, watched);
        break;
    case QEvent::KeyPress:
        if (notePopupKey(event, watched) || filterKeyPress(watched, static_cast<QKeyEvent*>(event)))
            return true;
        break;
    case QEvent::Wheel:
        if (tabStripScroll
            && (watched == tabStripScroll || watched == tabStripScroll->viewport() || watched == tabStrip)) {
            const QPoint angle = static_cast<QWheelEvent*>(event)->angleDelta();
            const int delta = angle.y() != 0 ? angle.y() : angle.x();
            if (QScrollBar* bar = tabStripScroll->horizontalScrollBar())
                bar->setValue(bar->value() - delta);
            return true;
        }
        break;
    case QEvent::MouseButtonPress:
        if (musicList && watched == musicList->viewport()) {
            const auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::LeftButton)
                musicDragStart = me->position().toPoint();
        }
        break;
    case QEvent::MouseMove:
        if (musicList && watched == musicList->viewport()) {
            const auto* me = static_cast<QMouseEvent*>(event);
            if ((me->buttons() & Qt::LeftButton)
                && (me->position().toPoint() - musicDragStart).manhattanLength() > kDragStartDistance
                && startMusicDrag(musicDragStart))
                return true;
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        const bool target = isListTarget(musicList, watched) || (watched == rightPanel || (musicEmptyHint && watched == musicEmptyHint))
                            || isListTarget(playlistList, watched);
        auto* de = static_cast<QDragMoveEvent*>(event);
        if (target && de->mimeData() && de->mimeData()->hasUrls()) {
            de->acceptProposedAction();
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        auto* de = static_cast<QDropEvent*>(event);
        const QList<QUrl> urls = de->mimeData() ? de->mimeData()->urls() : QList<QUrl>();
        if (urls.isEmpty())
            break;
        if (isListTarget(musicList, watched) || (watched == rightPanel || (musicEmptyHint && watched == musicEmptyHint))) {
            de->acceptProposedAction();
            handleMusicFolderDrop(urls);
            return true;
        }
        if (isListTarget(playlistList, watched)) {
            de->acceptProposedAction();
            handlePlaylistDrop(urls);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

// Drags the music row under pos onto a sound button: the file as the music
// type, as a file URL, and the row's label as text.
bool MainWindow::startMusicDrag(const QPoint& pos)
{
    QListWidgetItem* item = musicList->itemAt(pos);
    if (!item)
        return false;
    const QString path = item->data(Qt::UserRole).toString();
    const QString label = item->data(Qt::UserRole + 1).toString();
    if (path.isEmpty())
        return false;

    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("application/x-tarvello-music"), path.toUtf8());
    mime->setUrls({QUrl::fromLocalFile(path)});
    mime->setText(label);

    QPixmap image(200, 28);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = ThemeManager::instance()->colors().accent;
        fill.setAlpha(220);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(image.rect()), 8, 8);
        QFont font = p.font();
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        const QString shown = QFontMetrics(font).elidedText(label, Qt::ElideRight, kDragLabelPx);
        p.drawText(image.rect().adjusted(10, 0, -10, 0), Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
    auto* drag = new QDrag(musicList);
    drag->setMimeData(mime);
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(100, 14));
    drag->exec(Qt::CopyAction);
    return true;
}

// A small non-modal dialog whose text filters the buttons of every pane. It
// is made once and kept: reopened, it shows the earlier text selected;
// closing it empties the text, which shows every button again.
void MainWindow::showSearchDialog()
{
    if (searchDialog) {
        searchDialog->show();
        searchDialog->raise();
        searchDialog->activateWindow();
        if (searchBox) {
            searchBox->setFocus();
            searchBox->selectAll();
        }
        return;
    }
    searchDialog = new QDialog(this);
    searchDialog->setWindowTitle(QStringLiteral("Search Buttons"));
    searchDialog->setModal(false);
    searchDialog->setFixedSize(sc(320), sc(84));
    auto* col = new QVBoxLayout(searchDialog);
    col->setContentsMargins(sc(14), sc(14), sc(14), sc(14));
    col->setSpacing(sc(8));
    auto* label = new QLabel(QStringLiteral("Search buttons across the current tab:"), searchDialog);
    searchBox = new QLineEdit(searchDialog);
    searchBox->setObjectName(QStringLiteral("searchBox"));
    searchBox->setPlaceholderText(QStringLiteral("🔍 Search buttons..."));
    searchBox->setFixedHeight(sc(30));
    // The dialog is kept: it takes each later theme as well.
    QDialog* dialog = searchDialog;
    followTheme(dialog, [dialog, label](const ThemeColors& c) {
        dialog->setStyleSheet(QStringLiteral("QDialog{background:%1;}").arg(c.surface.name()));
        label->setStyleSheet(QStringLiteral("color:%1;font-size:11px;background:transparent;")
                                 .arg(ThemeManager::readableOn(c.textMuted, {c.surface}).name()));
    });
    col->addWidget(label);
    col->addWidget(searchBox);
    connect(searchBox, &QLineEdit::textChanged, this, &MainWindow::onSearchChanged);
    connect(searchDialog, &QDialog::finished, this, [this] {
        if (searchBox)
            searchBox->clear();
    });
    searchDialog->show();
    searchBox->setFocus();
}

void MainWindow::onSearchChanged(const QString& text)
{
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid)
            p.grid->filterButtons(text);
}

void MainWindow::onRecordTick()
{
    if (!recording)
        return;   // a tick queued before the clock was stopped
    // The ticks only say when to look: a stalled or late tick must not put
    // the clock behind, so it shows the whole seconds elapsed since start.
    recordedSeconds = int(qMax<qint64>(0, MonoClock::ms() - recordStartMs) / 1000);
    if (recTimeLabel)
        recTimeLabel->setText(QStringLiteral("%1:%2")
                                  .arg(recordedSeconds / 60, 2, 10, QLatin1Char('0'))
                                  .arg(recordedSeconds % 60, 2, 10, QLatin1Char('0')));
}

// A clock of minutes and seconds in the toolbar; nothing is recorded.
void MainWindow::onToggleRecord()
{
    recording = !recording;
    if (recording) {
        recordedSeconds = 0;
        recordStartMs = MonoClock::ms();
        // A precise timer never ticks early, so each tick lands past its second.
        recordTimer->setTimerType(Qt::PreciseTimer);
        recordTimer->start(1000);
        if (recIndicator)
            recIndicator->show();
        if (eventLog)
            eventLog->log(QStringLiteral("Recording"), QStringLiteral("Recording started"), QStringLiteral("ok"));
        toast(QStringLiteral("🔴  Recording started"), ToastManager::Warning, 2000);
    } else {
        recordTimer->stop();
        if (recIndicator)
            recIndicator->hide();
        if (eventLog)
            eventLog->log(QStringLiteral("Recording"), QStringLiteral("Recording stopped"), QStringLiteral("info"));
        toast(QStringLiteral("⏹  Recording stopped"), ToastManager::Info, 2000);
    }
}
