#pragma once
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;
class QTimer;
class ToastWidget;

// Short notices over the top right corner of a window. Requests are queued and
// shown one card at a time: fade in, stay, fade out.
class ToastManager : public QObject
{
    Q_OBJECT
public:
    enum Type {
        Success = 0,
        Info = 1,
        Warning = 2,
        Error = 3,
        Highlight = 4,
        Playback = 5,
    };
    Q_ENUM(Type)

    struct Pending {
        QPointer<QWidget> parent;
        QString text;
        Type type = Info;
        int ms = 0;
    };

    // Gap between the end of one card and the start of the next queued one.
    static constexpr int kNextDelayMs = 80;

    static ToastManager* instance();
    // The program uses instance(); a free-standing manager is meant for tests.
    explicit ToastManager(QObject* parent = nullptr);

    // Queues a toast over parent, held for ms milliseconds between its fades.
    // A text already on screen or already waiting is dropped.
    void show(QWidget* parent, const QString& text, Type type = Info, int ms = 2800);
    // Shows the next waiting toast when none is showing.
    void pump();

    // Any value outside Success..Playback (negative ones too) is Info.
    static Type normalizedType(int type);

    // Inspection, for the main window and for tests.
    ToastWidget* current() const;
    const QList<Pending>& queue() const { return m_queue; }
    bool isBusy() const { return m_busyCard != nullptr; }
    // The single-shot timer that pumps the queue kNextDelayMs after a card ended.
    QTimer* nextTimer() const { return m_nextTimer; }

private:
    void cardGone(QObject* card);

    QList<Pending> m_queue;
    QPointer<ToastWidget> m_current;
    QObject* m_busyCard = nullptr;   // the card on screen, until it ends; compared only
    QTimer* m_nextTimer = nullptr;
};

// One toast card: a translucent, click-through top-level window that deletes
// itself after it has faded out.
class ToastWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(float opacity READ opacity WRITE setOpacity)
public:
    using Type = ToastManager::Type;

    static constexpr int kFadeInMs = 200;
    static constexpr int kFadeOutMs = 300;
    // How often a card on screen looks whether a modal box is up over its
    // window (while one is, the card stays above it and its time stands)
    // and places itself again, clear of a marked widget shown meanwhile.
    static constexpr int kModalCheckMs = 150;

    ToastWidget(QWidget* parent, const QString& text, Type type, int ms);

    void animateIn();
    void animateOut();
    // Over the top right corner of the parent, below every widget marked
    // with keepClearOf that shows in the parent's window.
    void reposition();

    // A widget that cards never cover while it shows, such as a bar whose
    // button a notice names: a card that would touch it is placed below it.
    // The mark goes with the widget.
    static void keepClearOf(QWidget* widget);
    // Room left between such a widget and a card placed below it.
    static constexpr int kClearGap = 6;

    float opacity() const;
    void setOpacity(float value);

    // Inspection, for tests: the running fade (null between fades) and the
    // hold timer (started when the fade-in ends).
    QPropertyAnimation* fadeAnimation() const;
    QTimer* holdTimer() const { return m_holdTimer; }
    QTimer* modalCheckTimer() const { return m_modalCheck; }
    // True while a modal box over the window holds the card's time.
    bool isHeldByModal() const { return m_heldByModal; }
    QLabel* textLabel() const { return m_textLabel; }
    QLabel* iconLabel() const { return m_iconLabel; }
    int holdMs() const { return m_ms; }

signals:
    void finished();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void holdEnded();
    void checkModal();

    QGraphicsOpacityEffect* m_effect = nullptr;
    QLabel* m_textLabel = nullptr;
    QLabel* m_iconLabel = nullptr;
    int m_ms = 0;
    QPointer<QPropertyAnimation> m_anim;
    QTimer* m_holdTimer = nullptr;
    QTimer* m_modalCheck = nullptr;
    bool m_heldByModal = false;
    bool m_fadingOut = false;
};

inline ToastWidget* ToastManager::current() const { return m_current.data(); }
