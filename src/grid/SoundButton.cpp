#include "SoundButton.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPropertyAnimation>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QtMath>
#include <algorithm>
#include <cmath>

#include "SettingsKeys.h"
#include "LibraryManager.h"
#include "MidiManager.h"
#include "Modal.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "TabKeys.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

const QPoint kNoPress(-9999, -9999);
const QString kButtonMime = QStringLiteral("application/x-tarvello-button");
const QString kMusicMime = QStringLiteral("application/x-tarvello-music");

// Scissors drawing shared by the trim badge and the menu entry.
const char* const kScissorsPaths =
    "<circle cx='6' cy='6' r='3'/><circle cx='6' cy='18' r='3'/>"
    "<line x1='20' y1='4' x2='8.12' y2='15.88'/><line x1='14.47' y1='14.48' x2='20' y2='20'/>"
    "<line x1='8.12' y1='8.12' x2='12' y2='12'/>";

// Menu drawings (24 x 24 view box).
const char* const kIcoPlay =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='currentColor' stroke='none'>"
    "<path d='M8 5.6v12.8c0 .9 1 1.4 1.7.9l9.6-6.4c.6-.4.6-1.3 0-1.7L9.7 4.8C9 4.3 8 4.7 8 5.6z'/></svg>";
const char* const kIcoStop =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='currentColor' stroke='none'>"
    "<rect x='5' y='5' width='14' height='14' rx='2.5'/></svg>";
const char* const kIcoLoop =
    "<path d='M4 12V9.5A3.5 3.5 0 0 1 7.5 6H19'/><path d='M16 3l3 3-3 3'/>"
    "<path d='M20 12v2.5a3.5 3.5 0 0 1-3.5 3.5H5'/><path d='M8 21l-3-3 3-3'/>";
const char* const kIcoSuper =
    "<rect x='3.5' y='3.5' width='7' height='7' rx='1.8'/><rect x='13.5' y='3.5' width='7' height='7' rx='1.8'/>"
    "<rect x='3.5' y='13.5' width='7' height='7' rx='1.8'/><rect x='13.5' y='13.5' width='7' height='7' rx='1.8'/>";
const char* const kIcoFolder =
    "<path d='M3 7.5A2.5 2.5 0 0 1 5.5 5H9l2 2.5h7.5A2.5 2.5 0 0 1 21 10v7.5a2.5 2.5 0 0 1-2.5 2.5h-13A2.5 2.5 0 0 1 3 "
    "17.5z'/>";
const char* const kIcoPalette =
    "<path d='M12 3a9 9 0 1 0 0 18c1.1 0 1.8-.8 1.8-1.7 0-.5-.2-.9-.5-1.2-.3-.3-.5-.7-.5-1.2 0-1 .8-1.7 1.7-1.7H17a4 4 0 "
    "0 0 4-4C21 6.7 17 3 12 3z'/><circle cx='7.5' cy='11.5' r='1'/><circle cx='9.5' cy='7.5' r='1'/>"
    "<circle cx='14.5' cy='7.5' r='1'/>";
const char* const kIcoText = "<path d='M5 5h14'/><path d='M12 5v14'/><path d='M9 19h6'/>";
const char* const kIcoPencil = "<path d='M4 20h4L19.5 8.5l-4-4L4 16z'/><path d='M13.5 6.5l4 4'/>";
const char* const kIcoImage =
    "<rect x='3' y='4' width='18' height='16' rx='2.5'/><circle cx='9' cy='10' r='2'/><path d='M21 16l-5-5-9 9'/>";
const char* const kIcoKeyboard =
    "<rect x='2' y='6' width='20' height='12' rx='2.5'/>"
    "<path d='M6 10h.01M10 10h.01M14 10h.01M18 10h.01M7.5 14h9'/>";
const char* const kIcoMidi =
    "<circle cx='12' cy='12' r='9'/><path d='M10.5 3.5h3'/><circle cx='7' cy='11' r='.7'/>"
    "<circle cx='17' cy='11' r='.7'/><circle cx='8.5' cy='15' r='.7'/><circle cx='15.5' cy='15' r='.7'/>"
    "<circle cx='12' cy='16.5' r='.7'/>";
const char* const kIcoCross = "<path d='M6.5 6.5l11 11'/><path d='M17.5 6.5l-11 11'/>";
const char* const kIcoBin =
    "<path d='M4 7h16'/><path d='M10 3.5h4'/><path d='M6 7l1 12.5a1.5 1.5 0 0 0 1.5 1.5h7a1.5 1.5 0 0 0 1.5-1.5L18 7'/>"
    "<path d='M10 11v6M14 11v6'/>";

QIcon strokeIcon(const char* paths, const QColor& c, double width = 2.0)
{
    return VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(paths), width), c, 16);
}

// A menu icon for a checkable entry: the drawing in the text colour when off;
// in the accent colour with a tick in its corner when on. The menu style sheet
// draws no check mark beside an icon, so the icon carries the state.
QIcon checkableIcon(const char* paths, const ThemeColors& tc)
{
    const QString drawing = VXIcons::strokeSvg(QString::fromLatin1(paths), 2.0);
    QIcon icon;
    icon.addPixmap(VXIcons::modernPixmap(drawing, tc.text, 16), QIcon::Normal, QIcon::Off);
    QPixmap on = VXIcons::modernPixmap(drawing, tc.accent, 16);
    const QPixmap tick = VXIcons::modernPixmap(
        VXIcons::strokeSvg(QStringLiteral("<path d='M4 12.5l5 5L20 6.5'/>"), 4.0), tc.text, 9);
    QPainter p(&on);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(tc.accent);
    p.drawEllipse(QRectF(6.5, 6.5, 9.5, 9.5));
    p.drawPixmap(7, 7, tick);
    p.end();
    icon.addPixmap(on, QIcon::Normal, QIcon::On);
    icon.addPixmap(on, QIcon::Active, QIcon::On);
    return icon;
}

// Local audio files among the URLs, in URL order; folders never count.
QStringList audioFiles(const QList<QUrl>& urls, bool firstOnly)
{
    QStringList out;
    for (const QUrl& u : urls) {
        if (!u.isLocalFile())
            continue;
        const QString path = u.toLocalFile();
        if (!SoundButton::isAudioFile(path) || QFileInfo(path).isDir())
            continue;
        out << path;
        if (firstOnly)
            break;
    }
    return out;
}

QFont sizedFont(const QFont& from, int px, int weight)
{
    QFont f(from);
    f.setPixelSize(px);
    f.setWeight(QFont::Weight(weight));
    return f;
}

void roundedBadge(QPainter& p, const QRectF& rc, double radius, const QColor& fill, const QColor& stroke)
{
    QPainterPath path;
    path.addRoundedRect(rc, radius, radius);
    p.fillPath(path, fill);
    p.setPen(QPen(stroke, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

const QPixmap& scissorsIcon(bool active)
{
    static QPixmap kScActive;
    static QPixmap kScDim;
    if (kScActive.isNull()) {
        const QString svg = VXIcons::strokeSvg(QString::fromLatin1(kScissorsPaths), 2.0);
        kScActive = VXIcons::modernPixmap(svg, Qt::white, 10);
        // The icon functions drop the colour's alpha, so the dim one is faded here.
        kScDim = QPixmap(kScActive.size());
        kScDim.fill(Qt::transparent);
        QPainter dp(&kScDim);
        dp.setOpacity(150.0 / 255.0);
        dp.drawPixmap(0, 0, kScActive);
    }
    return active ? kScActive : kScDim;
}

SoundButton::KeyHolderLookup& keyHolderLookup()
{
    static SoundButton::KeyHolderLookup lookup;
    return lookup;
}

} // namespace

bool SoundButton::s_showLoopIcon = true;
int SoundButton::s_labelPx = 0;
bool SoundButton::s_showScissorIcon = true;
bool SoundButton::s_iconCacheLoaded = false;

SoundButton::SoundButton(QWidget* parent) : QPushButton(parent)
{
    if (!s_iconCacheLoaded)
        refreshIconSettingsCache();
    setObjectName(QStringLiteral("soundBtn"));
    setAcceptDrops(true);
    setMinimumSize(40, 28);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFlat(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);

    m_glowAnim = new QPropertyAnimation(this, "glowOpacity", this);
    m_glowAnim->setDuration(600);
    m_glowAnim->setKeyValueAt(0.0, 0.15f);
    m_glowAnim->setKeyValueAt(0.5, 0.45f);
    m_glowAnim->setKeyValueAt(1.0, 0.15f);
    m_glowAnim->setLoopCount(-1);
    m_glowAnim->setEasingCurve(QEasingCurve::SineCurve);
}

SoundButton::~SoundButton() = default;

void SoundButton::refreshIconSettingsCache()
{
    s_showLoopIcon = SettingsKeys::readBool(SettingsKeys::AppearanceShowLoopIcon, true);
    s_showScissorIcon = SettingsKeys::readBool(SettingsKeys::AppearanceShowScissorIcon, true);
    s_labelPx = SettingsKeys::readInt(SettingsKeys::AppearanceBtnFontSize);
    s_iconCacheLoaded = true;
}

void SoundButton::setButtonData(const ButtonData& d)
{
    m_data = d;
    m_hasMidi = MidiManager::instance()->mappingForButton(d.id).number >= 0;
    m_playing = false;
    m_triggered = NotTriggered;
    m_dragStarted = false;
    m_hovered = false;
    m_posMs = 0;
    m_durMs = 0;
    m_glowOpacity = 0;
    m_pressPos = kNoPress;
    m_scaledSize = QSize(-1, -1);
    m_scaledImage = QPixmap();
    m_image = QPixmap();
    if (!d.img.isEmpty()) {
        const QByteArray bytes = QByteArray::fromBase64(d.img.toUtf8());
        if (!m_image.loadFromData(bytes))
            m_image = QPixmap();
    }
    stopGlowAnim();
}

void SoundButton::setPlaying(bool p)
{
    if (p == m_playing)
        return;
    m_playing = p;
    if (!p) {
        m_triggered = NotTriggered;
        m_dragStarted = false;
        m_posMs = 0;
        m_durMs = 0;
    }
    setProperty("playing", p);
    style()->unpolish(this);
    style()->polish(this);
    if (p)
        startGlowAnim();
    else
        stopGlowAnim();
    update();
}

void SoundButton::setPosition(qint64 posMs, qint64 durMs)
{
    m_posMs = posMs;
    m_durMs = durMs;
    update();
}

void SoundButton::setTriggerMark(quint8 mark)
{
    m_triggered = mark;
    update();
}

void SoundButton::setHasMidi(bool on)
{
    m_hasMidi = on;
    update();
}

void SoundButton::setGlowOpacity(float v)
{
    m_glowOpacity = v;
    update();
}

void SoundButton::startGlowAnim()
{
    if (m_glowAnim->state() != QAbstractAnimation::Running)
        m_glowAnim->start();
}

void SoundButton::stopGlowAnim()
{
    m_glowAnim->stop();
    m_glowOpacity = 0;
    update();
}

bool SoundButton::isGlowRunning() const { return m_glowAnim->state() == QAbstractAnimation::Running; }

// ---------------------------------------------------------------------------
// Mouse input

SoundButton::HotArea SoundButton::hotAreaAt(const QPoint& pt) const
{
    if (!hasAudio() || height() <= 54)
        return HotArea::None;
    if (QRect(0, 0, 20, 22).contains(pt))
        return HotArea::Loop;
    if (QRect(width() - 23, 0, 20, 22).contains(pt))
        return HotArea::Trim;
    return HotArea::None;
}

void SoundButton::toggleLoopFromBadge()
{
    m_data.loop = !m_data.loop;
    m_triggered = TriggeredByPress;
    QPointer<SoundButton> self(this);
    emit editRequested(m_data.id + QStringLiteral(":loop"));
    if (self)
        update();
}

void SoundButton::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    VX_LOG(QStringLiteral("[SoundButton] press id=") + m_data.id);
    m_pressPos = e->position().toPoint();
    m_dragStarted = false;
    m_triggered = NotTriggered;
    if (!hasAudio())
        return; // an empty pad offers assignment on release (a click)

    switch (hotAreaAt(m_pressPos)) {
    case HotArea::Loop:
        toggleLoopFromBadge();
        return;
    case HotArea::Trim:
        m_triggered = TriggeredByPress;
        emit editRequested(m_data.id + QStringLiteral(":trim"));
        return;
    case HotArea::None:
        break;
    }

    const qint64 now = MonoClock::ms();
    if (m_hasLastPress && now - m_lastPressMs < kDebounceMs) {
        QWidget::mousePressEvent(e);
        return;
    }
    m_lastPressMs = now;
    m_hasLastPress = true;
    m_triggered = TriggeredByPress;
    QPointer<SoundButton> self(this);
    emit playRequested(m_data.id);
    if (self && m_data.rapid)
        startRepeat();
}

void SoundButton::startRepeat()
{
    if (!m_repeatTimer) {
        m_repeatTimer = new QTimer(this);
        connect(m_repeatTimer, &QTimer::timeout, this, &SoundButton::repeatTick);
    }
    m_repeatTimer->setInterval(kRepeatMs);
    m_repeatTimer->start();
}

// The release may never reach the pad: it can land on a menu or a dialog
// opened meanwhile, or the pad may be hidden. Every repeat first checks that
// the left button is still held on this pad.
void SoundButton::repeatTick()
{
    if (!hasAudio() || !m_data.rapid || !leftHeldHere()) {
        stopRepeat();
        return;
    }
    emit playRequested(m_data.id);
}

bool SoundButton::leftHeldHere() const
{
    if (!isVisible() || !(QGuiApplication::mouseButtons() & Qt::LeftButton))
        return false;
    if (QApplication::activePopupWidget())
        return false;
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != window())
        return false;
    return isActiveWindow();
}

void SoundButton::stopRepeat()
{
    if (m_repeatTimer)
        m_repeatTimer->stop();
}

bool SoundButton::isRepeating() const { return m_repeatTimer && m_repeatTimer->isActive(); }

void SoundButton::hideEvent(QHideEvent* e)
{
    stopRepeat();
    QPushButton::hideEvent(e);
}

void SoundButton::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        const bool assignClick = !hasAudio() && m_pressPos != kNoPress && rect().contains(e->position().toPoint());
        m_pressPos = kNoPress;
        stopRepeat();
        QWidget::mouseReleaseEvent(e);
        if (assignClick)
            emit assignRequested(m_data.id);
    } else if (e->button() == Qt::RightButton) {
        m_rightDrag = false;
        if (m_menuPending) {
            m_menuPending = false;
            showContextMenu(m_menuPos);
        }
    }
}

void SoundButton::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    VX_LOG(QStringLiteral("[SoundButton] dblclick id=") + m_data.id);
    // A double click on the loop badge is two toggles, as two clicks would be;
    // one on the trim badge already asked for the trim editor. Neither plays.
    switch (hotAreaAt(e->position().toPoint())) {
    case HotArea::Loop:
        toggleLoopFromBadge();
        return;
    case HotArea::Trim:
        return;
    case HotArea::None:
        break;
    }
    const qint64 now = MonoClock::ms();
    if (!hasAudio() || m_dragStarted || (m_hasLastPress && now - m_lastPressMs < kDebounceMs))
        return;
    m_lastPressMs = now;
    m_hasLastPress = true;
    m_triggered = TriggeredByPress;
    if (MidiManager::instance()->isLearning()) {
        update();
        return;
    }
    emit playRequested(m_data.id);
}

void SoundButton::mouseMoveEvent(QMouseEvent* e)
{
    if (!(e->buttons() & Qt::RightButton) || !hasAudio())
        return;
    if ((e->position().toPoint() - m_pressPos).manhattanLength() <= 7)
        return;
    startDragOut();
}

void SoundButton::enterEvent(QEnterEvent* e)
{
    Q_UNUSED(e);
    m_hovered = true;
    update();
}

void SoundButton::leaveEvent(QEvent* e)
{
    Q_UNUSED(e);
    m_hovered = false;
    update();
}

void SoundButton::resizeEvent(QResizeEvent* e)
{
    QPushButton::resizeEvent(e);
    m_scaledSize = QSize(-1, -1);
}

// ---------------------------------------------------------------------------
// Drag and drop

QByteArray SoundButton::dragPayload(const ButtonData& d)
{
    // QJsonObject sorts its keys; the payload keeps its documented order, so the
    // object is written field by field with Qt's own value encoding.
    const QList<QPair<const char*, QJsonValue>> fields = {
        {"id", d.id},
        {"name", d.name},
        {"audioPath", d.audioPath},
        {"isLoop", d.loop},
        {"isSuperBtn", d.super},
        {"shortcutKey", d.key},
        {"fontSize", d.fontSize},
        {"bgColor", d.bgColor.isValid() ? d.bgColor.name() : QString()},
        {"textColor", d.textColor.isValid() ? d.textColor.name() : QString()},
        {"trimStart", d.trimStart},
        {"trimEnd", d.trimEnd},
        {"volume", d.volume},
    };
    QByteArray out("{");
    for (const auto& [key, value] : fields) {
        if (out.size() > 1)
            out += ',';
        QByteArray v = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        out += '"' + QByteArray(key) + "\":" + v.mid(1, v.size() - 2);
    }
    out += '}';
    return out;
}

bool SoundButton::isAudioFile(const QString& path)
{
    return FolderScanner::isAudioFile(QFileInfo(path).fileName());
}

void SoundButton::startDragOut()
{
    m_pressPos = kNoPress;
    m_dragStarted = true;
    m_rightDrag = true;
    m_menuPending = false;

    auto* mime = new QMimeData;
    mime->setData(kButtonMime, dragPayload(m_data));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    QPixmap shot(size());
    shot.fill(Qt::transparent);
    render(&shot, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    drag->setPixmap(shot.scaled(80, 80, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    drag->setHotSpot(QPoint(40, 40));

    QPointer<SoundButton> self(this);
    drag->exec(Qt::MoveAction);
    drag->deleteLater();
    if (self)
        m_rightDrag = false;
}

void SoundButton::dragEnterEvent(QDragEnterEvent* e)
{
    const QMimeData* md = e->mimeData();
    const bool ours = md->hasFormat(kButtonMime) || md->hasFormat(kMusicMime);
    if (!ours && (!md->hasUrls() || audioFiles(md->urls(), true).isEmpty())) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    m_dragOver = true;
    update();
}

void SoundButton::dragLeaveEvent(QDragLeaveEvent* e)
{
    Q_UNUSED(e);
    m_dragOver = false;
    update();
}

void SoundButton::dropEvent(QDropEvent* e)
{
    m_dragOver = false;
    const QMimeData* md = e->mimeData();
    const QString ownId = m_data.id;
    QPointer<SoundButton> self(this);

    if (md->hasFormat(kButtonMime)) {
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(md->data(kButtonMime), &err);
        if (err.error != QJsonParseError::NoError) {
            qWarning().noquote() << "SoundButton: drag payload is not valid JSON:" << err.errorString();
        } else {
            const QString srcId = doc.object().value(QStringLiteral("id")).toString();
            if (!srcId.isEmpty() && srcId != ownId)
                emit buttonSwapRequested(srcId, ownId);
        }
        e->acceptProposedAction();
        if (self)
            update();
        return;
    }

    if (md->hasFormat(kMusicMime)) {
        const QString path = QString::fromUtf8(md->data(kMusicMime));
        if (!path.isEmpty()) {
            emit dropped(ownId, path);
            e->acceptProposedAction();
            if (self)
                update();
            return;
        }
    }

    const QStringList paths = md->hasUrls() ? audioFiles(md->urls(), false) : QStringList();
    if (paths.size() > 1)
        emit multiDropped(ownId, paths);
    else if (paths.size() == 1)
        emit dropped(ownId, paths.first());
    if (paths.isEmpty())
        e->ignore();
    else
        e->acceptProposedAction();
    if (self)
        update();
}

// ---------------------------------------------------------------------------
// Context menu

void SoundButton::contextMenuEvent(QContextMenuEvent* e)
{
    if (m_rightDrag) {
        e->ignore();
        return;
    }
    // X11 and Wayland ask for the menu on the right press; the menu would then
    // grab the mouse and no right-button drag could ever start. Keep the request
    // and open the menu on the release instead, unless a drag starts first.
    if (e->reason() == QContextMenuEvent::Mouse && (QGuiApplication::mouseButtons() & Qt::RightButton)) {
        m_menuPending = true;
        m_menuPos = e->globalPos();
        e->accept();
        return;
    }
    showContextMenu(e->globalPos());
}

void SoundButton::showContextMenu(const QPoint& globalPos)
{
    // The menu takes the mouse: a left button held on the pad no longer is.
    stopRepeat();
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const QString id = m_data.id;
    QPointer<SoundButton> self(this);

    QMenu menu(this);
    menu.setObjectName(QStringLiteral("contextMenu"));

    if (m_playing) {
        menu.addAction(VXIcons::modern(QString::fromLatin1(kIcoStop), tc.text, 16), QStringLiteral("Stop"), this,
                       [this, id] { emit stopRequested(id); });
    } else {
        menu.addAction(VXIcons::modern(QString::fromLatin1(kIcoPlay), tc.text, 16), QStringLiteral("Play/Stop"), this,
                       [this, id] { emit playRequested(id); });
    }

    QAction* loop = menu.addAction(checkableIcon(kIcoLoop, tc), QStringLiteral("Loop"));
    loop->setCheckable(true);
    loop->setChecked(m_data.loop);
    connect(loop, &QAction::triggered, this, [this, id](bool checked) {
        m_data.loop = checked;
        QPointer<SoundButton> guard(this);
        emit editRequested(id + QStringLiteral(":loop"));
        if (guard)
            update();
    });

    QAction* sup = menu.addAction(checkableIcon(kIcoSuper, tc), QStringLiteral("SuperButton (2×2)"));
    sup->setCheckable(true);
    sup->setChecked(m_data.super);
    connect(sup, &QAction::triggered, this, [this, id](bool checked) {
        m_data.super = checked;
        QPointer<SoundButton> guard(this);
        emit editRequested(id + QStringLiteral(":super"));
        if (guard)
            update();
    });

    menu.addSeparator();
    menu.addAction(strokeIcon(kIcoFolder, tc.text), QStringLiteral("Assign Audio"), this,
                   [this, id] { emit assignRequested(id); });
    QAction* trim = menu.addAction(strokeIcon(kScissorsPaths, tc.text), QStringLiteral("Audio Trimming"), this,
                                   [this, id] { emit editRequested(id + QStringLiteral(":trim")); });
    trim->setEnabled(hasAudio());

    menu.addSeparator();
    struct Entry
    {
        const char* icon;
        const char* text;
        const char* action;
    };
    static const Entry edits[] = {
        {kIcoPalette, "Button Color", ":color"}, {kIcoText, "Text Color", ":txtcolor"},
        {kIcoPencil, "Rename", ":name"},         {kIcoImage, "Add Image", ":img"},
        {kIcoKeyboard, "Shortcut Key", ":key"},  {kIcoMidi, "MIDI Learn", ":midi"},
    };
    for (const Entry& en : edits) {
        const QString action = QString::fromLatin1(en.action);
        menu.addAction(strokeIcon(en.icon, tc.text), QString::fromLatin1(en.text), this,
                       [this, id, action] { emit editRequested(id + action); });
    }
    if (m_hasMidi)
        menu.addAction(strokeIcon(kIcoCross, tc.text, 2.4), QStringLiteral("Clear MIDI Assignment"), this,
                       [this, id] { emit editRequested(id + QStringLiteral(":midiclear")); });

    menu.addSeparator();
    QAction* clear = menu.addAction(strokeIcon(kIcoBin, QColor(QStringLiteral("#EF4444"))), QStringLiteral("Clear"),
                                    this, [this, id] { emit clearRequested(id); });
    clear->setProperty("danger", true);

    Modal::execMenu(&menu, globalPos);
    Q_UNUSED(self);
}

// ---------------------------------------------------------------------------
// Painting

QColor SoundButton::autoTextColor(const QColor& bg)
{
    const double lum = 0.2126 * bg.redF() + 0.7152 * bg.greenF() + 0.0722 * bg.blueF();
    return QColor(lum > 0.42 ? QStringLiteral("#111111") : QStringLiteral("#FFFFFF"));
}

bool SoundButton::isAutomaticTextColor(const QColor& text, const QColor& bg)
{
    return !text.isValid() || (bg.isValid() && text.rgb() == autoTextColor(bg).rgb());
}

void SoundButton::recolor(ButtonData& b, const QColor& bg)
{
    if (isAutomaticTextColor(b.textColor, b.bgColor))
        b.textColor = QColor();
    b.bgColor = bg;
}

QColor SoundButton::contrastColor(const QColor& bg, int alphaDark, int alphaLight)
{
    if (ThemeManager::relativeLuminance(bg) > 0.35)
        return QColor(30, 30, 30, alphaLight);
    return QColor(255, 255, 255, alphaDark);
}

SoundButton::TextLayout SoundButton::textLayout(const QRectF& r, int fontSize, bool playing)
{
    TextLayout L;
    int fs = fontSize < 1 ? 10 : fontSize;
    const double y = r.y(), rw = r.width(), rh = r.height();
    L.bottom = playing ? int(y + rh - 16) : int(y + rh - 10);
    if (rh < 48) {
        L.top = int(y + 3);
        fs = std::max(std::min(fs, int(rh) / 5), 7);
    } else {
        L.badges = true;
        L.top = int(y + 25);
        if (L.bottom - L.top > 20) {
            const int s = rh < 72 ? 14 : std::clamp(int(rw) - 12, 16, 24);
            L.noteSize = s;
            L.noteTop = L.top + std::max((L.bottom - L.top - s) / 3, 0);
            L.top = L.noteTop + s + 2;
        }
        if (rh < 72)
            fs = std::max(fs - 1, 8);
    }
    L.fontPx = fs;
    return L;
}

QString SoundButton::remainingText(qint64 remainingMs)
{
    const qint64 secs = remainingMs < 1 ? 0 : (remainingMs + 999) / 1000;
    return QStringLiteral("-%1:%2").arg(secs / 60).arg(secs % 60, 2, 10, QLatin1Char('0'));
}

QColor SoundButton::remainingColor(qint64 remainingMs, const QColor& fallback)
{
    if (remainingMs <= 2999)
        return QColor(255, 70, 70);
    if (remainingMs <= 4999)
        return QColor(255, 165, 40);
    return fallback;
}

QString SoundButton::durationText(qint64 durMs)
{
    const qint64 secs = durMs / 1000;
    return QStringLiteral("%1:%2").arg(secs / 60).arg(secs % 60, 2, 10, QLatin1Char('0'));
}

QString SoundButton::emptyHint(double rw, double rh)
{
    if (rw > 60 && rh > 45)
        return QStringLiteral("click to assign");
    if (rw > 35 && rh > 35)
        return QStringLiteral("assign");
    return QString();
}

void SoundButton::paintBadges(QPainter& p, const QRectF& r)
{
    const double x = r.x(), y = r.y(), rw = r.width();
    if (s_showLoopIcon) {
        const QRectF rc(x + 3, y + 5, 16, 16);
        if (m_data.loop)
            roundedBadge(p, rc, 4, QColor(255, 152, 0, 210), QColor(QStringLiteral("#FF9800")));
        else
            roundedBadge(p, rc, 4, QColor(0, 0, 0, 90), QColor(255, 255, 255, 30));
        p.setFont(sizedFont(font(), 9, QFont::Normal));
        p.setPen(m_data.loop ? QColor(Qt::white) : QColor(255, 255, 255, 150));
        p.drawText(rc, Qt::AlignCenter, QStringLiteral("↻"));
    }
    if (m_data.rapid) {
        const QRectF rc(x + rw / 2 - 8, y + 5, 16, 16);
        const QColor fill(255, 200, 0, 210);
        roundedBadge(p, rc, 4, fill, QColor(QStringLiteral("#FFC800")));
        p.setFont(sizedFont(font(), 10, QFont::Normal));
        p.setPen(contrastColor(fill, 255, 220));
        p.drawText(rc, Qt::AlignCenter, QStringLiteral("⚡"));
    }
    if (s_showScissorIcon) {
        const QRectF rc(x + rw - 19, y + 5, 16, 16);
        const bool trimmed = m_data.trimStart > 0 || m_data.trimEnd > 0;
        if (trimmed)
            roundedBadge(p, rc, 4, QColor(33, 150, 243, 210), QColor(QStringLiteral("#2196F3")));
        else
            roundedBadge(p, rc, 4, QColor(0, 0, 0, 90), QColor(255, 255, 255, 30));
        p.drawPixmap(rc.center() - QPointF(5, 5), scissorsIcon(trimmed));
    }
}

void SoundButton::paintProgress(QPainter& p, const QRectF& r, const QColor& base)
{
    const double x = r.x(), y = r.y(), rw = r.width(), rh = r.height();
    const double f = 1.0 - std::clamp(double(m_posMs) / double(m_durMs), 0.0, 1.0);
    const qint64 remaining = m_durMs - m_posMs;
    const int off = rh < 48 ? 10 : 14;
    const int b = int(y + rh - off);
    const QColor P = m_data.bgColor.isValid() ? m_data.bgColor.lighter(170) : ThemeManager::instance()->colors().accent;

    const QRectF track(int(x + 2), int(y + rh - off - 4), int(rw - 4), 3);
    QColor trackColor(P);
    trackColor.setAlpha(35);
    QPainterPath tp;
    tp.addRoundedRect(track, 1.5, 1.5);
    p.fillPath(tp, trackColor);
    const double fillW = track.width() * f;
    if (fillW > 0.5) {
        QLinearGradient g(track.topLeft(), track.topRight());
        g.setColorAt(0, P);
        g.setColorAt(1, P.lighter(140));
        QPainterPath fp;
        fp.addRoundedRect(QRectF(track.x(), track.y(), fillW, track.height()), 1.5, 1.5);
        p.fillPath(fp, g);
    }

    QFont tf = sizedFont(font(), 8, QFont::Bold);
    tf.setFamilies({QStringLiteral("Consolas"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    tf.setStyleHint(QFont::Monospace);
    p.setFont(tf);
    const QString text = remainingText(remaining);
    const QRectF badge(x + 2, b + 1, p.fontMetrics().horizontalAdvance(text) + 8, 12);
    QPainterPath bp;
    bp.addRoundedRect(badge, 3, 3);
    p.fillPath(bp, QColor(0, 0, 0, 150));
    p.setPen(remainingColor(remaining, contrastColor(base, 220, 200)));
    p.drawText(badge, Qt::AlignCenter, text);
}

void SoundButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const int w = width(), h = height();
    const bool audio = hasAudio();

    // The pad is opaque to Qt, which then paints nothing beneath it: the
    // corners outside the rounded frame get the grid area's background (the
    // containers above the pads are transparent over it).
    p.fillRect(rect(), tc.bg);

    const double hp = 0.5 / devicePixelRatioF();
    const QRectF r(hp, hp, w - 2 * hp, h - 2 * hp);
    const double x = r.x(), y = r.y(), rw = r.width(), rh = r.height();
    QPainterPath bgPath;
    bgPath.addRoundedRect(r, 4, 4);

    QColor base = (audio && m_data.bgColor.isValid()) ? m_data.bgColor : tc.surface;
    if (m_dragOver)
        base = base.lighter(140);
    else if (m_hovered && audio)
        base = base.lighter(112);
    {
        QLinearGradient g(QPointF(x, y), QPointF(x, y + rh));
        g.setColorAt(0, base.lighter(108));
        g.setColorAt(1, base.darker(108));
        p.fillPath(bgPath, g);
    }

    if (!m_image.isNull()) {
        if (m_scaledSize != size()) {
            m_scaledImage = m_image.scaled(size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
            m_scaledSize = size();
        }
        p.save();
        p.setClipPath(bgPath);
        p.drawPixmap(-(m_scaledImage.width() - w) / 2, -(m_scaledImage.height() - h) / 2, m_scaledImage);
        p.fillRect(rect(), QColor(0, 0, 0, m_playing ? 80 : 115));
        p.restore();
    }

    {
        QPen pen;
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        double inset = 0.5, radius = 3.5;
        if (m_dragOver || m_playing) {
            pen.setColor(m_dragOver                      ? tc.accent
                         : m_data.bgColor.isValid()      ? m_data.bgColor.lighter(160)
                                                         : tc.accent);
            pen.setWidthF(2.0);
            inset = 1.0;
            radius = 3.0;
        } else if (audio) {
            pen.setColor(m_data.bgColor.isValid() ? m_data.bgColor.darker(140) : tc.border);
            pen.setWidthF(1.0);
        } else {
            QColor c = tc.border;
            c.setAlphaF(0.5);
            pen.setColor(c);
            pen.setWidthF(1.0);
        }
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        QPainterPath border;
        border.addRoundedRect(r.adjusted(inset, inset, -inset, -inset), radius, radius);
        p.drawPath(border);
    }

    if (!audio && !m_dragOver) {
        // Muted marks, yet readable on the face's gradient: the "+" as a
        // symbol (3 : 1), the hint as small text (4.5 : 1).
        const QColor top = base.lighter(108), bottom = base.darker(108);
        p.setPen(ThemeManager::readableOn(tc.textDisabled, {top, bottom}, 3.0));
        p.setFont(sizedFont(font(), int(rh) >= 84 ? 20 : std::max(int(rh) / 4, 10), QFont::Normal));
        p.drawText(QRectF(x, y, rw, rh - 12), Qt::AlignCenter, QStringLiteral("+"));
        const QString hint = emptyHint(rw, rh);
        if (!hint.isEmpty()) {
            // Tiny antialiased strokes stay below their ink's colour: a margin.
            p.setPen(ThemeManager::readableOn(tc.textDisabled, {top, bottom}, 6.0));
            p.setFont(sizedFont(font(), int(rw) >= 80 ? 8 : int(rw) >= 70 ? 7 : 6, QFont::Normal));
            const QString elided = p.fontMetrics().elidedText(hint, Qt::ElideRight, int(rw - 4));
            p.drawText(QRect(int(x), int(y + rh - 12), int(rw), 12), Qt::AlignCenter, elided);
        }
        return;
    }

    if (m_playing) {
        QRadialGradient g(r.center(), 0.75 * std::max(rw, rh));
        QColor c0 = tc.accent, c1 = tc.accent;
        c0.setAlpha(int(140 * m_glowOpacity));
        c1.setAlpha(int(40 * m_glowOpacity));
        g.setColorAt(0, c0);
        g.setColorAt(0.6, c1);
        g.setColorAt(1.0, Qt::transparent);
        p.fillPath(bgPath, g);
        QPainterPath strip;
        strip.addRoundedRect(QRectF(x + 2, y + 1, rw - 4, 2), 1, 1);
        p.fillPath(strip, QColor(255, 255, 255, 30));
    }

    QString label;
    if (m_dragOver)
        label = QStringLiteral("Drop here");
    else if (!m_data.name.isEmpty())
        label = m_data.name;
    else if (audio)
        label = QFileInfo(m_data.audioPath).completeBaseName();

    const TextLayout L = textLayout(r, m_data.fontSize > 0 ? m_data.fontSize : s_labelPx, m_playing);
    if (L.badges)
        paintBadges(p, r);

    if (L.noteSize > 0) {
        const double s = L.noteSize;
        const double nx = x + (rw - s) / 2, ny = L.noteTop;
        QColor nc;
        if (m_data.textColor.isValid()) {
            nc = m_data.textColor;
            nc.setAlpha(180);
        } else {
            nc = contrastColor(base, 150, 110);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(nc);
        p.drawEllipse(QRectF(nx + 0.05 * s, ny + 0.62 * s, 0.36 * s, 0.28 * s));
        p.drawRect(QRectF(nx + 0.38 * s, ny + 0.1 * s, 0.07 * s, 0.58 * s));
        p.drawEllipse(QRectF(nx + 0.52 * s, ny + 0.55 * s, 0.36 * s, 0.28 * s));
        p.drawRect(QRectF(nx + 0.86 * s, ny + 0.03 * s, 0.07 * s, 0.58 * s));
        p.drawRect(QRectF(nx + 0.38 * s, ny + 0.1 * s, 0.55 * s, 0.1 * s));
        p.setBrush(Qt::NoBrush);
    }

    {
        QFont lf = sizedFont(font(), std::max(L.fontPx, 6), QFont::DemiBold);
        lf.setFamily(QStringLiteral("Segoe UI"));
        lf.setHintingPreference(QFont::PreferFullHinting);
        p.setFont(lf);
        const QColor textColor = m_data.textColor.isValid() ? m_data.textColor : contrastColor(base, 240, 210);
        const QColor shadow = textColor.lightnessF() > 0.5 ? QColor(0, 0, 0, 60) : QColor(255, 255, 255, 40);
        const QFontMetrics fm = p.fontMetrics();
        const QRect tr(int(x + 3), L.top, int(rw - 6), std::max(L.bottom - L.top, fm.height()));
        const QString elided = fm.elidedText(label, Qt::ElideRight, tr.width());
        const int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter;
        p.setPen(shadow);
        p.drawText(tr.translated(0, 1), flags, elided);
        p.setPen(textColor);
        p.drawText(tr, flags, elided);
    }

    if (m_playing && m_durMs > 0) {
        paintProgress(p, r, base);
    } else if (audio && m_durMs > 0) {
        p.setFont(sizedFont(font(), 8, QFont::Normal));
        p.setPen(contrastColor(base, 170, 150));
        p.drawText(QRect(int(x + 3), int(y + rh - 15), int(rw - 8), 14), Qt::AlignLeft | Qt::AlignVCenter,
                   durationText(m_durMs));
    }

    if (m_hasMidi && rh >= 48) {
        const QRectF rc(x + rw - 19, y + 25, 16, 16);
        roundedBadge(p, rc, 4, QColor(0, 188, 212, 210), QColor(0, 220, 240));
        p.setFont(sizedFont(font(), 9, QFont::Bold));
        p.setPen(Qt::white);
        p.drawText(rc, Qt::AlignCenter, QStringLiteral("M"));
    }

    if (!m_data.key.isEmpty())
        paintKeyBadge(p, x, y, rw, rh, base);
}

QRectF SoundButton::keyBadgeRect(const QFontMetrics& fm, double x, double y, double rw, double rh) const
{
    const int kw = fm.horizontalAdvance(m_data.key) + 8;
    return QRectF(x + rw - kw - 3, int(y + rh - 15) + 1, kw, 12);
}

namespace {
const QColor kTakenBadgeFill(0, 0, 0, 70);
} // namespace

QColor SoundButton::takenKeyInk(const QColor& base)
{
    // The badge sits low on the face, between its middle and the gradient's
    // end at base.darker(108); the key reads on the badge's wash over both.
    const QColor badgeMid = ThemeManager::blended(kTakenBadgeFill, base);
    const QColor badgeLow = ThemeManager::blended(kTakenBadgeFill, base.darker(108));
    const QColor faded = ThemeManager::blended(QColor(255, 255, 255, 120), badgeLow);
    return ThemeManager::readableOn(faded, {badgeMid, badgeLow}, kTakenKeyContrast);
}

// The key in its corner. A key that fires another pad or a tab's key is
// drawn dimmed and struck through: pressing it does not play this pad.
void SoundButton::paintKeyBadge(QPainter& p, double x, double y, double rw, double rh, const QColor& base)
{
    p.setFont(sizedFont(font(), 8, QFont::Bold));
    const QRectF rc = keyBadgeRect(p.fontMetrics(), x, y, rw, rh);
    const bool taken = !keyHolder().isEmpty();
    if (!taken) {
        roundedBadge(p, rc, 3, QColor(0, 0, 0, 140), QColor(255, 255, 255, 50));
        p.setPen(Qt::white);
        p.drawText(rc, Qt::AlignCenter, m_data.key);
        return;
    }
    roundedBadge(p, rc, 3, kTakenBadgeFill, QColor(255, 255, 255, 25));
    const QColor ink = takenKeyInk(base);
    p.setPen(ink);
    p.drawText(rc, Qt::AlignCenter, m_data.key);
    p.setPen(QPen(ink, 1.2));
    p.drawLine(QPointF(rc.left() + 2, rc.center().y()), QPointF(rc.right() - 2, rc.center().y()));
}

bool SoundButton::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip && !m_data.key.isEmpty()) {
        const QString holder = keyHolder();
        if (!holder.isEmpty()) {
            QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), takenKeyTip(m_data.key, holder), this);
            return true;
        }
    }
    return QPushButton::event(e);
}

void SoundButton::setKeyHolderLookup(KeyHolderLookup lookup)
{
    keyHolderLookup() = std::move(lookup);
}

QString SoundButton::keyHolder() const
{
    if (m_data.key.isEmpty() || !keyHolderLookup())
        return {};
    return keyHolderLookup()(m_data);
}

QString SoundButton::takenKeyTip(const QString& key, const QString& holder)
{
    return TabKeys::takenText(key, holder) + QStringLiteral(" Pressing it does not play this pad.");
}
