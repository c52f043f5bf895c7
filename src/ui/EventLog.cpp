#include "EventLog.h"

#include "ThemeManager.h"

#include <QFont>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

EventLog::EventLog(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("eventLog"));
    setMaximumHeight(160);
    setMinimumHeight(100);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_header = new QWidget(this);
    m_header->setObjectName(QStringLiteral("eventLogHdr"));
    m_header->setFixedHeight(26);
    auto* hdrLayout = new QHBoxLayout(m_header);
    hdrLayout->setContentsMargins(8, 0, 4, 0);

    m_title = new QLabel(QStringLiteral("Event Log"), m_header);
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(10);
    titleFont.setWeight(QFont::Bold);
    m_title->setFont(titleFont);
    hdrLayout->addWidget(m_title);
    hdrLayout->addStretch();

    m_closeBtn = new QPushButton(QStringLiteral("✕"), m_header);
    m_closeBtn->setFixedSize(18, 18);
    m_closeBtn->setFlat(true);
    m_closeBtn->setStyleSheet(QStringLiteral("QPushButton { border:none; font-size:11px; background:transparent; }"
                                             "QPushButton:hover { color:#E31B23; }"));
    connect(m_closeBtn, &QPushButton::clicked, this, &EventLog::closeRequested);
    hdrLayout->addWidget(m_closeBtn);
    layout->addWidget(m_header);

    m_list = new QListWidget(this);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setSpacing(0);
    m_list->setUniformItemSizes(true);
    m_list->setObjectName(QStringLiteral("eventLogList"));
    layout->addWidget(m_list);

    refreshTheme();
    connect(ThemeManager::instance(), &ThemeManager::themeChanged, this, &EventLog::refreshTheme);
}

void EventLog::log(const QString& source, const QString& text, const QString& status)
{
    addEntry(Entry{QDateTime::currentDateTime(), source, text, status});
}

QString EventLog::lineText(const Entry& entry)
{
    return QStringLiteral("[%1] %2: %3")
        .arg(entry.time.toString(QStringLiteral("hh:mm:ss")), entry.source, entry.text);
}

QColor EventLog::statusHue(const QString& status)
{
    if (status == QLatin1String("ok"))
        return QColor(0x00, 0xC8, 0x53);
    if (status == QLatin1String("warn"))
        return QColor(0xFF, 0x98, 0x00);
    if (status == QLatin1String("error"))
        return ThemeManager::instance()->colors().accent;
    return QColor(0x77, 0x77, 0x77);
}

QColor EventLog::statusColor(const QString& status)
{
    // The lines lie on the window ground, and on the hover wash under the
    // pointer. A colour that does not read there (green and orange on the
    // light presets, grey on the dark ones) is shaded, keeping its hue, just
    // far enough to read as text.
    const ThemeColors& c = ThemeManager::instance()->colors();
    return ThemeManager::readableOn(statusHue(status), {c.bg, c.surfaceHover}, kLineContrast);
}

void EventLog::addEntry(const Entry& entry)
{
    while (m_list->count() > kMaxLines - 1)
        delete m_list->takeItem(0);
    const QString text = lineText(entry);
    auto* item = new QListWidgetItem(text, m_list);
    // The line keeps its status, so that a later theme draws it in that
    // status's shade for its own grounds.
    item->setData(kStatusRole, entry.status);
    item->setForeground(statusColor(entry.status));
    // A line wider than the panel is cut; its tip holds it whole, wrapped
    // (as rich text) rather than running off the screen.
    item->setToolTip(Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal));
    m_list->scrollToBottom();
}

void EventLog::refreshTheme()
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    m_header->setStyleSheet(QStringLiteral("QWidget#eventLogHdr{background:%1;border-top:1px solid %2;}"
                                           "QWidget#eventLogHdr QLabel{color:%3;background:transparent;}")
                                .arg(c.surfaceAlt.name(), c.border.name(), c.textSecondary.name()));
    // The item rule carries no text colour: each line keeps its own status colour.
    m_list->setStyleSheet(QStringLiteral("QListWidget#eventLogList{background:%1;border:none;"
                                         "font-family:Consolas,monospace;font-size:10px;}"
                                         "QListWidget#eventLogList::item{padding:1px 8px;border-bottom:1px solid %2;}"
                                         "QListWidget#eventLogList::item:selected{background:transparent;}")
                              .arg(c.bg.name(), c.border.name()));
    m_title->setStyleSheet(QStringLiteral("color:%1;letter-spacing:0.5px;").arg(c.textSecondary.name()));
    recolourLines();
    update();
}

// A colour that read on the old grounds can fade into the new ones (green on
// a dark ground, then on a light one): every line takes its status's shade
// for the theme now in use.
void EventLog::recolourLines()
{
    QHash<QString, QColor> shades;
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        const QString status = item->data(kStatusRole).toString();
        auto it = shades.constFind(status);
        if (it == shades.constEnd())
            it = shades.insert(status, statusColor(status));
        item->setForeground(*it);
    }
}

void EventLog::clear()
{
    m_list->clear();
}
