#include "ShortcutsDialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ButtonKey.h"
#include "Modal.h"
#include "TabKeys.h"
#include "ThemeManager.h"

namespace {

const QStringList kAutoKeys = {
    QStringLiteral("1"),  QStringLiteral("2"),  QStringLiteral("3"),  QStringLiteral("4"),  QStringLiteral("5"),
    QStringLiteral("6"),  QStringLiteral("7"),  QStringLiteral("8"),  QStringLiteral("9"),  QStringLiteral("0"),
    QStringLiteral("Q"),  QStringLiteral("W"),  QStringLiteral("E"),  QStringLiteral("R"),  QStringLiteral("T"),
    QStringLiteral("Y"),  QStringLiteral("U"),  QStringLiteral("I"),  QStringLiteral("O"),  QStringLiteral("P"),
    QStringLiteral("A"),  QStringLiteral("S"),  QStringLiteral("D"),  QStringLiteral("F"),  QStringLiteral("G"),
    QStringLiteral("H"),  QStringLiteral("J"),  QStringLiteral("K"),  QStringLiteral("L"),  QStringLiteral("Z"),
    QStringLiteral("X"),  QStringLiteral("C"),  QStringLiteral("V"),  QStringLiteral("B"),  QStringLiteral("N"),
    QStringLiteral("M"),  QStringLiteral("F1"), QStringLiteral("F2"), QStringLiteral("F3"), QStringLiteral("F4"),
    QStringLiteral("F5"), QStringLiteral("F6"), QStringLiteral("F7"), QStringLiteral("F8"), QStringLiteral("F9"),
    QStringLiteral("F10"), QStringLiteral("F11"), QStringLiteral("F12"),
};

// The status line in its colour on a faint wash of the same colour over the
// dialog's ground; the ink is moved as far as it needs to read there.
QString statusStyle(const QColor& colour, double wash)
{
    QColor washed = colour;
    washed.setAlphaF(float(wash));
    const QColor under = ThemeManager::blended(washed, ThemeManager::instance()->colors().bg);
    return QStringLiteral("padding:7px 12px;border-radius:9px;background:rgba(%1,%2,%3,%4);color:%5;font-size:11px;")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(wash)
        .arg(ThemeManager::readableOn(colour, {under}).name());
}

QString idleStyle() { return statusStyle(QColor(0xE3, 0x1B, 0x23), 0.08); }
QString waitingStyle() { return statusStyle(QColor(0x00, 0xC8, 0x53), 0.12); }
const QString kIdleText = QStringLiteral("Click a row, then press a key to assign it.");

constexpr int kColTab = 0;
constexpr int kColName = 1;
constexpr int kColKey = 2;
constexpr int kColFile = 3;

} // namespace

const QStringList& ShortcutsDialog::autoKeys() { return kAutoKeys; }

ShortcutsDialog::ShortcutsDialog(Session& session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
    , m_work(session)
{
    setWindowTitle(QStringLiteral("Keyboard Shortcuts Manager"));
    setMinimumSize(620, 520);
    setModal(true);
    auto* root = new QVBoxLayout(this);
    root->setSpacing(8);

    m_status = new QLabel(kIdleText, this);
    m_status->setObjectName(QStringLiteral("panelHdrLbl"));
    m_status->setTextFormat(Qt::PlainText);
    // The prompt and the refusals run longer than the dialog is wide at its
    // smallest: they wrap rather than lose their ends.
    m_status->setWordWrap(true);
    m_status->setStyleSheet(idleStyle());
    root->addWidget(m_status);

    m_table = new QTableWidget(0, 4, this);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Tab"), QStringLiteral("Button Name"), QStringLiteral("Shortcut Key"), QStringLiteral("Audio File")});
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(kColTab, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kColName, QHeaderView::Stretch);
    header->setSectionResizeMode(kColKey, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kColFile, QHeaderView::Stretch);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->setFrameShape(QFrame::NoFrame);
    // The global sheet leaves tables to the palette, whose alternate rows are
    // light: both row colours come from the theme so the text stays readable.
    const ThemeColors& tc = ThemeManager::instance()->colors();
    m_table->setStyleSheet(QStringLiteral("QTableWidget{background:%1;alternate-background-color:%2;color:%3;"
                                          "gridline-color:%4;}"
                                          "QTableWidget::item:selected{background:%5;color:%6;}")
                               .arg(tc.surface.name(), tc.surfaceAlt.name(), tc.text.name(), tc.border.name(),
                                    tc.accent.name(), ThemeManager::readableOn(Qt::white, {tc.accent}).name()));
    connect(m_table, &QTableWidget::cellClicked, this, &ShortcutsDialog::onCellClicked);
    root->addWidget(m_table, 1);

    auto* row = new QHBoxLayout;
    m_autoBtn = new QPushButton(QStringLiteral("⚡ Auto-Assign Keys"), this);
    connect(m_autoBtn, &QPushButton::clicked, this, &ShortcutsDialog::onAutoAssign);
    m_clearBtn = new QPushButton(QStringLiteral("Clear All"), this);
    m_clearBtn->setObjectName(QStringLiteral("dangerBtn"));
    connect(m_clearBtn, &QPushButton::clicked, this, &ShortcutsDialog::onClearAll);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Some platform themes put stock icons on dialog buttons; these have none.
    for (QAbstractButton* b : box->buttons())
        b->setIcon(QIcon());
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    row->addWidget(m_autoBtn);
    row->addWidget(m_clearBtn);
    row->addStretch();
    row->addWidget(box);
    root->addLayout(row);

    // Whichever control has the focus, a waiting row takes the next key.
    for (QWidget* w : findChildren<QWidget*>())
        if (w->focusPolicy() != Qt::NoFocus)
            w->installEventFilter(this);

    rebuild();
}

ButtonData& ShortcutsDialog::buttonAt(int row)
{
    const Entry& e = m_rows.at(row);
    return m_work.tabs[e.tab].buttons[e.button];
}

QString ShortcutsDialog::keyAt(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return QString();
    const Entry& e = m_rows.at(row);
    return m_work.tabs.at(e.tab).buttons.at(e.button).key;
}

QString ShortcutsDialog::rowName(int row) const
{
    const QTableWidgetItem* item = m_table->item(row, kColName);
    return item ? item->text() : QString();
}

void ShortcutsDialog::setStatus(const QString& text, bool waiting)
{
    m_status->setText(text);
    m_status->setStyleSheet(waiting ? waitingStyle() : idleStyle());
}

void ShortcutsDialog::disarm()
{
    m_captureArmed = false;
    m_selectedRow = -1;
}

void ShortcutsDialog::rebuild()
{
    m_rows.clear();
    m_table->clearContents();
    m_table->setRowCount(0);
    disarm();

    // File names muted, on the table's rows and alternate rows alike.
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const QColor fileInk = ThemeManager::readableOn(tc.textMuted, {tc.surface, tc.surfaceAlt});
    for (int t = 0; t < m_work.tabs.size(); ++t) {
        const TabData& tab = m_work.tabs.at(t);
        for (int b = 0; b < tab.buttons.size(); ++b) {
            const ButtonData& btn = tab.buttons.at(b);
            if (btn.name.isEmpty() && btn.audioPath.isEmpty())
                continue;
            const int r = m_table->rowCount();
            m_table->insertRow(r);
            m_rows.append({t, b});
            const QFileInfo file(btn.audioPath);
            m_table->setItem(r, kColTab, new QTableWidgetItem(tab.name));
            m_table->setItem(r, kColName, new QTableWidgetItem(btn.name.isEmpty() ? file.completeBaseName() : btn.name));
            auto* key = new QTableWidgetItem(btn.key);
            key->setTextAlignment(Qt::AlignCenter);
            m_table->setItem(r, kColKey, key);
            auto* path = new QTableWidgetItem(btn.audioPath.isEmpty() ? QStringLiteral("--") : file.fileName());
            path->setForeground(fileInk);
            m_table->setItem(r, kColFile, path);
        }
    }
    setStatus(QStringLiteral("Click a row, then press a key to assign it. %1 assigned buttons.").arg(m_rows.size()),
              false);
}

void ShortcutsDialog::onCellClicked(int row, int)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_selectedRow = row;
    m_captureArmed = true;
    m_table->selectRow(row);
    setStatus(QStringLiteral("Press any key to assign to \"%1\"  (Backspace = clear, Escape = cancel)")
                  .arg(buttonAt(row).name),
              true);
}

bool ShortcutsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (m_captureArmed && m_selectedRow >= 0) {
        if (event->type() == QEvent::ShortcutOverride) {
            // A waiting row takes keys that would otherwise fire a shortcut.
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            auto* ke = static_cast<QKeyEvent*>(event);
            ke->accept();
            keyPressEvent(ke);
            return ke->isAccepted();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ShortcutsDialog::keyPressEvent(QKeyEvent* e)
{
    if (!m_captureArmed || m_selectedRow < 0) {
        QDialog::keyPressEvent(e);
        return;
    }
    const int k = e->key();
    if (k == Qt::Key_Escape) {
        disarm();
        setStatus(kIdleText, false);
        return;
    }
    if (k == Qt::Key_Backspace) {
        applyKeyToSelected(QString());
        return;
    }
    if (isModifierKey(k)) {
        QDialog::keyPressEvent(e);
        return;
    }
    if (const QString why = ButtonKey::refusalOf(e); !why.isEmpty()) {
        // Still waiting: the user can press another key at once.
        setStatus(why, false);
        return;
    }
    // Stored as the window plays it: the same rule decides both.
    if (const QString key = ButtonKey::ofPress(e); !key.isEmpty()) {
        // A key a tab's stop or volume key takes would fire the tab, not the
        // button; the key the button has is kept as it is.
        const QString holder = TabKeys::holderOfButtonKey(m_work.tabs, key);
        if (!holder.isEmpty() && key != buttonAt(m_selectedRow).key) {
            setStatus(TabKeys::takenText(key, holder) + QStringLiteral(" Press another key."), false);
            return;
        }
        applyKeyToSelected(key);
        return;
    }
    QDialog::keyPressEvent(e);
}

bool ShortcutsDialog::isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta
           || key == Qt::Key_AltGr || key == Qt::Key_CapsLock || key == Qt::Key_Super_L || key == Qt::Key_Super_R;
}

void ShortcutsDialog::applyKeyToSelected(const QString& key)
{
    if (m_selectedRow < 0 || m_selectedRow >= m_rows.size())
        return;
    const int selected = m_selectedRow;
    if (!key.isEmpty()) {
        for (int r = 0; r < m_rows.size(); ++r) {
            if (r == selected || buttonAt(r).key != key)
                continue;
            const int answer = Modal::question(
                this, QStringLiteral("Shortcut Key Already Assigned"),
                QStringLiteral("Key \"%1\" is already assigned to \"%2\".\n\nDo you want to remove that assignment "
                               "and assign it to \"%3\" instead?")
                    .arg(key, rowName(r), rowName(selected)),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (answer != QMessageBox::Yes) {
                disarm();
                setStatus(QStringLiteral("Kept existing assignment on \"%1\".").arg(rowName(r)), false);
                return;
            }
            buttonAt(r).key.clear();
            m_table->item(r, kColKey)->setText(QString());
        }
    }
    buttonAt(selected).key = key;
    m_table->item(selected, kColKey)->setText(key);
    disarm();
    setStatus(QStringLiteral("✓ Key \"%1\" assigned. Click another row to continue.")
                  .arg(key.isEmpty() ? QStringLiteral("cleared") : key),
              false);
}

void ShortcutsDialog::onAutoAssign()
{
    const int answer = Modal::question(
        this, QStringLiteral("Auto-Assign"),
        QStringLiteral("Auto-assign will fill all named buttons with keyboard row keys (1-0, Q-P, A-L, Z-M, F1-F12) "
                       "in order.\n\nThis will overwrite existing shortcuts. Continue?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // The rows take the keys in order, passing over those the tabs' keys
    // take (they would fire a tab, not the button); only keys passed over
    // before the rows ran out were left out.
    QStringList skipped;
    int count = 0;
    for (const QString& key : kAutoKeys) {
        if (count >= m_rows.size())
            break;
        if (const QString holder = TabKeys::holderOfButtonKey(m_work.tabs, key); !holder.isEmpty()) {
            skipped.append(QStringLiteral("%1 (%2)").arg(key, holder));
            continue;
        }
        buttonAt(count).key = key;
        m_table->item(count, kColKey)->setText(key);
        ++count;
    }
    QString done = QStringLiteral("✓ Auto-assigned %1 keys.").arg(count);
    if (!skipped.isEmpty())
        done += QStringLiteral(" Left out: %1.").arg(skipped.join(QStringLiteral(", ")));
    m_status->setText(done);
}

void ShortcutsDialog::onClearAll()
{
    const int answer = Modal::question(this, QStringLiteral("Clear All Shortcuts"),
                                       QStringLiteral("Remove all keyboard shortcut assignments?"),
                                       QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    for (int r = 0; r < m_rows.size(); ++r) {
        buttonAt(r).key.clear();
        m_table->item(r, kColKey)->setText(QString());
    }
    m_status->setText(QStringLiteral("All shortcuts cleared."));
}

void ShortcutsDialog::done(int r)
{
    if (r == QDialog::Accepted) {
        for (const Entry& e : std::as_const(m_rows)) {
            if (e.tab >= m_session.tabs.size() || e.button >= m_session.tabs.at(e.tab).buttons.size())
                continue;
            m_session.tabs[e.tab].buttons[e.button].key = m_work.tabs.at(e.tab).buttons.at(e.button).key;
        }
    }
    QDialog::done(r);
}
