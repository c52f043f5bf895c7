#include "EventLog.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

EventLog::EventLog(QWidget* parent) : QWidget(parent) {}
void EventLog::log(const QString&, const QString&, const QString&) {}
void EventLog::addEntry(const Entry&) {}
void EventLog::refreshTheme() {}
void EventLog::clear() {}
void EventLog::setVisible(bool visible) { QWidget::setVisible(visible); }
QString EventLog::lineText(const Entry&) { return QString(); }
QColor EventLog::statusColor(const QString&) { return QColor(); }
