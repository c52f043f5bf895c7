#include "ToastManager.h"

#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QTimer>

ToastManager* ToastManager::instance()
{
    static ToastManager* s = new ToastManager(QCoreApplication::instance());
    return s;
}

ToastManager::ToastManager(QObject* parent) : QObject(parent) {}

void ToastManager::show(QWidget*, const QString&, Type, int) {}
void ToastManager::pump() {}
ToastManager::Type ToastManager::normalizedType(int type)
{
    return unsigned(type) > 5u ? Info : Type(type);
}
void ToastManager::cardGone(QObject*) {}

ToastWidget::ToastWidget(QWidget* parent, const QString&, Type, int ms) : QWidget(parent), m_ms(ms) {}
void ToastWidget::animateIn() {}
void ToastWidget::animateOut() {}
void ToastWidget::reposition() {}
float ToastWidget::opacity() const { return 1.0f; }
void ToastWidget::setOpacity(float) {}
void ToastWidget::paintEvent(QPaintEvent*) {}
QPropertyAnimation* ToastWidget::fadeAnimation() const { return m_anim.data(); }
