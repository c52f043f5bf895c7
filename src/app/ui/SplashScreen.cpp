#include "SplashScreen.h"

#include <QLabel>
#include <QTimer>

SplashScreen::SplashScreen(QWidget* parent) : QWidget(parent) {}
void SplashScreen::setStatus(const QString&) {}
void SplashScreen::setProgress(int value) { m_progress = qBound(0, value, 100); }
void SplashScreen::setLogoPixmap(const QPixmap&) {}
void SplashScreen::finish() {}
QString SplashScreen::statusText() const { return QString(); }
QGradientStops SplashScreen::fillStops(double) { return {}; }
void SplashScreen::paintEvent(QPaintEvent*) {}
