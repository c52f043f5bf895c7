#pragma once
#include <QByteArray>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>
#include <QRectF>
#include <QSize>
#include <QStringList>
#include <functional>

#include "Types.h"

class QPropertyAnimation;
class QTimer;

// One pad of a grid. Paints itself completely from its own copy of a
// ButtonData record and turns mouse gestures into requests carrying the
// button's id. It plays nothing and stores nothing: the grid forwards the
// requests and the main window feeds the play state and position back.
class SoundButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(float glowOpacity READ glowOpacity WRITE setGlowOpacity)

public:
    // Who started the current play: nothing, a press on the pad, the main window.
    enum TriggerMark : quint8 { NotTriggered = 0, TriggeredByPress = 1, TriggeredByWindow = 2 };

    // Where the label goes and what decorations fit, for a pad of a given inner size.
    struct TextLayout
    {
        bool badges = false;      // loop/rapid/trim/MIDI badges are drawn
        int top = 0;              // label rectangle top
        int bottom = 0;           // label rectangle bottom
        int fontPx = 10;          // label pixel size before the 6 px floor
        int noteSize = 0;         // music-note icon size, 0 when none
        int noteTop = 0;          // music-note icon top
    };

    explicit SoundButton(QWidget* parent = nullptr);
    ~SoundButton() override;

    void setButtonData(const ButtonData& d);
    const ButtonData& buttonData() const { return m_data; }
    bool hasAudio() const { return !m_data.audioPath.isEmpty(); }

    void setPlaying(bool p);
    bool isPlaying() const { return m_playing; }
    void setPosition(qint64 posMs, qint64 durMs);
    qint64 positionMs() const { return m_posMs; }
    qint64 durationMs() const { return m_durMs; }

    quint8 triggerMark() const { return m_triggered; }
    void setTriggerMark(quint8 mark);          // repaints
    bool hasMidi() const { return m_hasMidi; }
    void setHasMidi(bool on);                  // repaints
    bool isDragOver() const { return m_dragOver; }

    float glowOpacity() const { return m_glowOpacity; }
    void setGlowOpacity(float v);
    void startGlowAnim();
    void stopGlowAnim();
    bool isGlowRunning() const;

    void showContextMenu(const QPoint& globalPos);

    // A rapid pad repeats its play request while the left button is held on
    // it; a stop of the pad, its tab or everything ends the repeat.
    void stopRepeat();
    bool isRepeating() const;

    // Re-reads "appearance/showLoopIcon", "appearance/showScissorIcon" and
    // "appearance/btnFontSize".
    static void refreshIconSettingsCache();
    static bool showLoopIcon() { return s_showLoopIcon; }
    // The label size of buttons without their own, in px; 0 is automatic.
    static int labelSizePx() { return s_labelPx; }
    static bool showScissorIcon() { return s_showScissorIcon; }

    // Who a pad's key fires when it is not the pad itself: another pad (the
    // later one, or the current tab's own) or a tab's key. The window answers
    // for the record a pad shows, as "button "Kick" on tab 'Drums'" or
    // empty when the key fires the pad (or it has none). Without an answer
    // every key is the pad's own.
    using KeyHolderLookup = std::function<QString(const ButtonData&)>;
    static void setKeyHolderLookup(KeyHolderLookup lookup);
    // Who takes this pad's key, from the lookup: empty when the key is its own.
    QString keyHolder() const;
    // The key badge's tool tip for a key another holder takes.
    static QString takenKeyTip(const QString& key, const QString& holder);

    // The press debounce measures on MonoClock::current(), which tests may replace.
    static constexpr qint64 kDebounceMs = 5;
    static constexpr int kRepeatMs = 125;

    // The drag payload of a button ("application/x-tarvello-button").
    static QByteArray dragPayload(const ButtonData& d);
    // True when the file name's suffix is one of the accepted audio types.
    static bool isAudioFile(const QString& path);

    // Painting rules, public so that their arithmetic can be checked alone.
    static QColor contrastColor(const QColor& bg, int alphaDark, int alphaLight);
    // The ink of a key that plays something else, on a pad of colour base:
    // dimmed into its badge, yet at kTakenKeyContrast or more against the
    // badge over the pad.
    static QColor takenKeyInk(const QColor& base);
    static constexpr double kTakenKeyContrast = 3.0;
    // The text colour stored with an automatic background: "#111111" on a
    // light one, "#FFFFFF" on a dark one.
    static QColor autoTextColor(const QColor& bg);
    // Gives the record a new background. A text colour that only followed the
    // old background is dropped, so the pad draws the one that reads on the
    // new one; a text colour the user chose stays.
    static void recolor(ButtonData& b, const QColor& bg);
    // A text colour the user never chose: none, or the automatic one of bg.
    static bool isAutomaticTextColor(const QColor& text, const QColor& bg);
    static TextLayout textLayout(const QRectF& r, int fontSize, bool playing);
    static QString remainingText(qint64 remainingMs);
    static QColor remainingColor(qint64 remainingMs, const QColor& fallback);
    static QString durationText(qint64 durMs);
    // The hint under an empty pad's "+": "click to assign", "assign" or "".
    static QString emptyHint(double rw, double rh);

signals:
    void playRequested(const QString& id);
    void stopRequested(const QString& id);
    void editRequested(const QString& idAction);
    void assignRequested(const QString& id);
    void clearRequested(const QString& id);
    void dropped(const QString& id, const QString& path);
    void buttonSwapRequested(const QString& srcId, const QString& ownId);
    void multiDropped(const QString& id, const QStringList& paths);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    enum class HotArea { None, Loop, Trim };
    HotArea hotAreaAt(const QPoint& p) const;
    void toggleLoopFromBadge();
    void startRepeat();
    void repeatTick();
    bool leftHeldHere() const;
    void startDragOut();
    void paintBadges(class QPainter& p, const QRectF& r);
    void paintProgress(class QPainter& p, const QRectF& r, const QColor& base);
    void paintKeyBadge(class QPainter& p, double x, double y, double rw, double rh, const QColor& base);
    QRectF keyBadgeRect(const class QFontMetrics& fm, double x, double y, double rw, double rh) const;

    ButtonData m_data;
    bool m_playing = false;
    bool m_dragStarted = false;
    bool m_rightDrag = false;
    bool m_hovered = false;
    bool m_dragOver = false;
    bool m_hasMidi = false;
    float m_glowOpacity = 0;
    qint64 m_posMs = 0;
    qint64 m_durMs = 0;
    qint64 m_lastPressMs = 0;
    bool m_hasLastPress = false;        // no press accepted yet
    bool m_menuPending = false;         // a right press asked for the menu; open it on release
    QPoint m_menuPos;
    QPoint m_pressPos{-9999, -9999};
    QSize m_scaledSize{-1, -1};
    QPixmap m_scaledImage;
    QPixmap m_image;
    QPropertyAnimation* m_glowAnim = nullptr;
    QTimer* m_repeatTimer = nullptr;
    quint8 m_triggered = NotTriggered;

    static bool s_showLoopIcon;
    static int s_labelPx;
    static bool s_showScissorIcon;
    static bool s_iconCacheLoaded;
};
