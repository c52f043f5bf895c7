#pragma once
#include <QColor>
#include <QDateTime>
#include <QString>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

// The small panel at the foot of the right panel: what the operator did and
// what the system answered, newest at the bottom, coloured by status.
class EventLog : public QWidget
{
    Q_OBJECT
public:
    struct Entry {
        QDateTime time;
        QString source;   // "Audio", "Transport", ...
        QString text;
        QString status;   // "ok", "warn", "error" or any other word ("info")
    };

    static constexpr int kMaxLines = 200;
    // Every line's colour reads on the panel's grounds at least this well.
    static constexpr double kLineContrast = 4.5;

    explicit EventLog(QWidget* parent = nullptr);

    // Stamps the current date and time and adds the entry.
    void log(const QString& source, const QString& text, const QString& status);
    void addEntry(const Entry& entry);
    // Restyles header, title and list from the current theme; every line,
    // old ones too, takes its status's colour for that theme.
    void refreshTheme();
    void clear();

    // "[hh:mm:ss] source: text"
    static QString lineText(const Entry& entry);
    // The colour of a status: "ok" #00C853, "warn" #FF9800, "error" the
    // theme accent, anything else #777.
    static QColor statusHue(const QString& status);
    // The colour a line of the status is drawn in: its statusHue where that
    // reads on the current theme's grounds, else a shade of it that does.
    // Each line holds its status under kStatusRole.
    static QColor statusColor(const QString& status);

    QListWidget* list() const { return m_list; }
    static constexpr int kStatusRole = Qt::UserRole + 1;

signals:
    void closeRequested();

private:
    void recolourLines();

    QListWidget* m_list = nullptr;
    QPushButton* m_closeBtn = nullptr;
    QLabel* m_title = nullptr;
    QWidget* m_header = nullptr;
};
