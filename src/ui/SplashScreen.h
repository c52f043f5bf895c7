#pragma once
#include <QElapsedTimer>
#include <QGradientStops>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

// The frameless start-up window: logo badge, title, tagline, status line, a
// thin animated progress bar and the version line on a painted dark card.
class SplashScreen : public QWidget
{
    Q_OBJECT
public:
    explicit SplashScreen(QWidget* parent = nullptr);

    void setStatus(const QString& text);
    // Clamped to 0..100; the repaint timer shows it.
    void setProgress(int value);
    // A null pixmap changes nothing (the red badge stays).
    void setLogoPixmap(const QPixmap& pixmap);
    // Progress 100, last repaint, finished(); hides and deletes itself 50 ms later.
    void finish();

    int progress() const { return m_progress; }
    QString statusText() const;
    QLabel* logoLabel() const { return m_logo; }
    QWidget* barArea() const { return m_bar; }
    QTimer* repaintTimer() const { return m_repaint; }
    // Single shot, 50 ms, started by finish(): hides and deletes the splash.
    QTimer* finishTimer() const { return m_finishTimer; }

    // The bar fill's gradient stops for shimmer phase t (0..1).
    static QGradientStops fillStops(double t);
    // Fixes the shimmer phase instead of the clock (negative: use the clock).
    void setShimmerPhase(double t) { m_fixedPhase = t; }

signals:
    void finished();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_logo = nullptr;
    QLabel* m_status = nullptr;
    QWidget* m_bar = nullptr;
    QTimer* m_repaint = nullptr;
    QTimer* m_finishTimer = nullptr;
    QElapsedTimer m_clock;
    int m_progress = 0;
    double m_fixedPhase = -1.0;
    bool m_finishing = false;
};
