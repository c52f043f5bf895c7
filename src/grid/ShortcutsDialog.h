#pragma once
#include <QDialog>
#include <QList>

#include "Types.h"

class QLabel;
class QPushButton;
class QTableWidget;

// "Keyboard Shortcuts Manager": every button of the session that has a name
// or a file, one per row; click a row, press a key. Resolves keys another
// button holds, refuses keys a tab's stop or volume key takes, fills the
// first 48 rows from a fixed key order (less the keys tabs take) and clears
// all keys. It works on its own copy of the keys and writes them into the session
// only when accepted (OK); the caller then marks the session changed.
class ShortcutsDialog : public QDialog
{
    Q_OBJECT
public:
    // Where a row's button lives in the session.
    struct Entry
    {
        int tab = -1;
        int button = -1;
    };

    // The keys Auto-Assign hands out, in order.
    static const QStringList& autoKeys();

    ShortcutsDialog(Session& session, QWidget* parent = nullptr);

    // Closing as accepted (OK) writes the edited keys into the session first;
    // any other close leaves the session as it was.
    void done(int r) override;

    // State, for tests.
    int rowCount() const { return int(m_rows.size()); }
    int selectedRow() const { return m_selectedRow; }
    bool isCaptureArmed() const { return m_captureArmed; }
    // The key the row's button will have when the dialog is accepted.
    QString keyAt(int row) const;
    QTableWidget* table() const { return m_table; }
    QLabel* statusLabel() const { return m_status; }

public slots:
    void onAutoAssign();
    void onClearAll();
    void onCellClicked(int row, int column);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void applyKeyToSelected(const QString& key);
    static bool isModifierKey(int key);
    void setStatus(const QString& text, bool waiting);
    ButtonData& buttonAt(int row);
    QString rowName(int row) const;
    void disarm();

    Session& m_session;
    Session m_work;             // the copy being edited
    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_autoBtn = nullptr;
    QPushButton* m_clearBtn = nullptr;
    int m_selectedRow = -1;
    bool m_captureArmed = false;
    QList<Entry> m_rows;
};
