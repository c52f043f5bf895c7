#include "ButtonGrid.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QScrollArea>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "RecordId.h"
#include "SoundButton.h"
#include "ThemeManager.h"

namespace {

// A new colour for an assigned button, with a text colour that reads on it.
// A text colour the user stored stays.
void autoColorButton(ButtonData& b)
{
    b.bgColor = ThemeManager::nextVibrantColor();
    if (!b.textColor.isValid())
        b.textColor = SoundButton::autoTextColor(b.bgColor);
}

quint64 cellKey(int row, int col) { return (quint64(quint32(row)) << 32) | quint32(col); }

} // namespace

ButtonGrid::ButtonGrid(QWidget* parent) : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setFrameShape(QFrame::NoFrame);

    m_container = new QWidget;
    m_container->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_container->setMinimumWidth(0);
    m_gridLayout = new QGridLayout(m_container);
    m_gridLayout->setContentsMargins(3, 3, 3, 3);
    m_gridLayout->setSpacing(3);
    m_scroll->setWidget(m_container);

    outer->addWidget(m_scroll);
}

// ---------------------------------------------------------------------------
// Tab data

void ButtonGrid::setTab(const TabData& tab, int buttonsPerTab)
{
    if (buttonsPerTab > 0)
        m_buttonsPerTab = buttonsPerTab;
    m_tab = tab;
    for (ButtonData& b : m_tab.buttons) {
        if (!b.audioPath.isEmpty() && !b.bgColor.isValid())
            autoColorButton(b);
    }
    rebuild();
}

void ButtonGrid::updateTabData(const TabData& tab)
{
    const int n = int(std::min(m_tab.buttons.size(), tab.buttons.size()));
    for (int i = 0; i < n; ++i) {
        if (m_tab.buttons[i].id == tab.buttons[i].id)
            m_tab.buttons[i] = tab.buttons[i];
    }
}

void ButtonGrid::updateRecord(const ButtonData& rec)
{
    const int i = indexOfId(rec.id);
    if (i >= 0)
        m_tab.buttons[i] = rec;
}

void ButtonGrid::syncFromSession(const TabData& tab)
{
    // Pads still to be made take the records as they stand when they are made.
    const qsizetype padCount = m_padsPending ? qsizetype(m_buttonsPerTab) : m_buttons.size();
    const int n = int(std::min({padCount, m_tab.buttons.size(), tab.buttons.size()}));
    for (int i = 0; i < n; ++i) {
        if (m_tab.buttons[i].id != tab.buttons[i].id)
            continue;
        m_tab.buttons[i] = tab.buttons[i];
        if (i >= m_buttons.size())
            continue;
        // A pad whose sound stays the same goes on showing it playing: its
        // light, its progress and who started it.
        SoundButton* pad = m_buttons[i];
        const bool sameSound =
            !m_tab.buttons[i].audioPath.isEmpty() && pad->buttonData().audioPath == m_tab.buttons[i].audioPath;
        const bool playing = sameSound && pad->isPlaying();
        const quint8 mark = pad->triggerMark();
        const qint64 pos = pad->positionMs();
        const qint64 dur = pad->durationMs();
        pad->setButtonData(m_tab.buttons[i]);
        if (playing) {
            pad->setPlaying(true);
            pad->setTriggerMark(mark);
            pad->setPosition(pos, dur);
        }
    }
}

void ButtonGrid::setButtonsPerTab(int n)
{
    m_buttonsPerTab = std::max(n, 1);
    rebuild();
}

void ButtonGrid::rebuild()
{
    QList<TriggerSave> saved;
    for (SoundButton* pad : std::as_const(m_buttons)) {
        if (!pad->buttonData().id.isEmpty())
            saved.append({pad->buttonData().id, pad->triggerMark(), pad->isPlaying()});
    }
    const bool hadPads = !m_buttons.isEmpty();
    // The old pads leave at once; their memory goes back at the next event
    // loop turn, since a rebuild may be asked for from inside one of their
    // own signal handlers. Only the grid's own links to a pad are cut: Qt's
    // (the style's note of the pad's end among them) must see it go.
    for (SoundButton* pad : std::as_const(m_buttons)) {
        disconnect(pad, nullptr, this, nullptr);
        pad->setParent(nullptr);
        pad->deleteLater();
    }
    m_buttons.clear();

    while (m_tab.buttons.size() < m_buttonsPerTab) {
        ButtonData b;
        b.id = RecordId::make();
        m_tab.buttons.append(b);
    }
    for (ButtonData& b : m_tab.buttons) {
        if (b.id.isEmpty())
            b.id = RecordId::make();
    }

    // Pads that carry marks, or a grid already on screen, are made at once.
    m_padsPending = m_deferPads && !hadPads && !testAttribute(Qt::WA_WState_Visible);
    if (m_padsPending)
        return;
    buildPads(saved);
}

void ButtonGrid::ensurePads()
{
    if (!m_padsPending)
        return;
    m_padsPending = false;
    buildPads({});
}

const QList<SoundButton*>& ButtonGrid::pads() const
{
    const_cast<ButtonGrid*>(this)->ensurePads();
    return m_buttons;
}

int ButtonGrid::buttonCount() const
{
    return int(pads().size());
}

void ButtonGrid::buildPads(const QList<TriggerSave>& saved)
{
    m_buttons.reserve(m_buttonsPerTab);
    for (int i = 0; i < m_buttonsPerTab; ++i) {
        auto* pad = new SoundButton(m_container);
        const ButtonData& rec = m_tab.buttons[i];
        pad->setButtonData(rec);
        for (const TriggerSave& s : saved) {
            if (s.id == rec.id) {
                pad->setTriggerMark(s.triggered);
                pad->setPlaying(s.playing);
                break;
            }
        }
        connect(pad, &SoundButton::playRequested, this, &ButtonGrid::onPlayRequested);
        connect(pad, &SoundButton::stopRequested, this, &ButtonGrid::onStopRequested);
        connect(pad, &SoundButton::editRequested, this, &ButtonGrid::onEditRequested);
        connect(pad, &SoundButton::assignRequested, this, &ButtonGrid::onAssignRequested);
        connect(pad, &SoundButton::clearRequested, this, &ButtonGrid::onClearRequested);
        connect(pad, &SoundButton::dropped, this, &ButtonGrid::onDropped);
        connect(pad, &SoundButton::multiDropped, this, &ButtonGrid::onMultiDropped);
        connect(pad, &SoundButton::buttonSwapRequested, this, &ButtonGrid::buttonSwapRequested);
        m_buttons.append(pad);
    }
    layoutButtons();
}

// ---------------------------------------------------------------------------
// Layout

void ButtonGrid::setColumns(int cols)
{
    m_columns = cols;
    layoutButtons();
}

void ButtonGrid::setRows(int rows)
{
    m_rows = rows;
    layoutButtons();
}

void ButtonGrid::filterButtons(const QString& text)
{
    m_filter = text;
    layoutButtons();
}

int ButtonGrid::autoColumns() const
{
    const int w = m_scroll->viewport()->width();
    if (w < 1)
        return 8;
    if (w < 80)
        return 1;
    return std::min(w / 40, 8);
}

bool ButtonGrid::padMatchesFilter(const SoundButton* pad) const
{
    if (m_filter.isEmpty())
        return true;
    const ButtonData& d = pad->buttonData();
    if (d.name.contains(m_filter, Qt::CaseInsensitive) || d.audioPath.contains(m_filter, Qt::CaseInsensitive))
        return true;
    return d.audioPath.isEmpty();
}

void ButtonGrid::layoutButtons()
{
    while (QLayoutItem* item = m_gridLayout->takeAt(0))
        delete item;
    for (int c = 0; c < m_gridLayout->columnCount(); ++c) {
        m_gridLayout->setColumnStretch(c, 0);
        m_gridLayout->setColumnMinimumWidth(c, 0);
    }
    for (int r = 0; r < m_gridLayout->rowCount(); ++r) {
        m_gridLayout->setRowStretch(r, 0);
        m_gridLayout->setRowMinimumHeight(r, 0);
    }

    const int n = int(m_buttons.size());
    // Fixed counts come unchecked from session files: beyond kMaxFixedCount a
    // count would only add empty layout columns by the billion (and overflow
    // the cell arithmetic), so the layout uses at most that many.
    const int fixedCols = std::min(m_columns, kMaxFixedCount);
    const int fixedRows = std::min(m_rows, kMaxFixedCount);
    int cols;
    if (fixedCols >= 1)
        cols = fixedCols;
    else if (fixedRows >= 1)
        cols = std::max(1, (n + fixedRows - 1) / fixedRows);
    else
        cols = autoColumns();
    const int rows = fixedRows >= 1 ? fixedRows : std::max(1, (n + cols - 1) / cols);
    // Pads never get narrower than their minimum: a fixed shape wider than
    // the pane scrolls sideways, so that every pad stays in reach. The
    // automatic shape always fits the width.
    const bool fixedShape = fixedCols >= 1 || fixedRows >= 1;
    m_scroll->setHorizontalScrollBarPolicy(fixedShape ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);

    int vw = m_scroll->viewport()->width();
    int vh = m_scroll->viewport()->height();
    if (vw < 1)
        vw = 600;
    if (vh < 1)
        vh = 400;
    const QMargins m = m_gridLayout->contentsMargins();
    const int cellW = (vw - m.left() - m.right() - (cols - 1) * m_gridLayout->horizontalSpacing()) / cols;
    const int cellH = (vh - m.top() - m.bottom() - (rows - 1) * m_gridLayout->verticalSpacing()) / rows;
    const int cell = std::min(std::max(std::min(cellW, cellH), 28), 120);
    m_layoutCols = cols;
    m_layoutRows = rows;
    m_cellSize = cell;

    for (int c = 0; c < cols; ++c) {
        m_gridLayout->setColumnStretch(c, 1);
        m_gridLayout->setColumnMinimumWidth(c, 0);
    }

    QSet<quint64> occupied;
    occupied.reserve(n * 2);
    int row = 0, col = 0;
    auto rowUsed = [&](int r) {
        m_gridLayout->setRowMinimumHeight(r, cell);
        m_gridLayout->setRowStretch(r, 1);
    };
    // A pad that was never shown appears with its grid: showing it here while
    // the grid is off screen would style it now, and a session's hidden
    // panes hold a thousand pads.
    const bool onScreen = m_container->isVisible();
    for (SoundButton* pad : std::as_const(m_buttons)) {
        if (!padMatchesFilter(pad))
            pad->setVisible(false);
        else if (pad->isHidden() && (onScreen || pad->testAttribute(Qt::WA_WState_ExplicitShowHide)))
            pad->setVisible(true);
        while (occupied.contains(cellKey(row, col))) {
            if (++col >= cols) {
                col = 0;
                ++row;
            }
        }
        // A super button takes 2 x 2 cells only when all four are free; otherwise
        // (last column, one column, or a cell already taken) it is one cell.
        const bool fits2x2 = pad->buttonData().super && cols >= 2 && col + 1 < cols &&
                             !occupied.contains(cellKey(row, col + 1)) &&
                             !occupied.contains(cellKey(row + 1, col)) &&
                             !occupied.contains(cellKey(row + 1, col + 1));
        if (fits2x2) {
            m_gridLayout->addWidget(pad, row, col, 2, 2);
            rowUsed(row);
            rowUsed(row + 1);
            occupied.insert(cellKey(row, col));
            occupied.insert(cellKey(row, col + 1));
            occupied.insert(cellKey(row + 1, col));
            occupied.insert(cellKey(row + 1, col + 1));
            col += 2;
        } else {
            m_gridLayout->addWidget(pad, row, col);
            rowUsed(row);
            occupied.insert(cellKey(row, col));
            col += 1;
        }
        if (col >= cols) {
            col = 0;
            ++row;
        }
    }
    m_container->update();
}

void ButtonGrid::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    ensurePads();
}

void ButtonGrid::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    QTimer::singleShot(0, this, &ButtonGrid::layoutButtons);
    if (!m_resizeTimer) {
        m_resizeTimer = new QTimer(this);
        m_resizeTimer->setSingleShot(true);
        m_resizeTimer->setInterval(30);
        connect(m_resizeTimer, &QTimer::timeout, this, &ButtonGrid::layoutButtons);
    }
    m_resizeTimer->start();
}

// ---------------------------------------------------------------------------
// Pads and play state

// Pads still to be made start stopped and unmarked: nothing to do for them.
void ButtonGrid::setAllStopped()
{
    for (SoundButton* pad : std::as_const(m_buttons)) {
        pad->stopRepeat();
        pad->setPlaying(false);
    }
}

void ButtonGrid::resetAllTriggers()
{
    for (SoundButton* pad : std::as_const(m_buttons)) {
        pad->setTriggerMark(SoundButton::NotTriggered);
        pad->setPlaying(false);
    }
}

void ButtonGrid::setButtonPlaying(const QString& id, bool playing)
{
    if (SoundButton* pad = buttonWidgetById(id))
        pad->setPlaying(playing);
}

SoundButton* ButtonGrid::buttonWidget(int index) const
{
    const QList<SoundButton*>& all = pads();
    if (index < 0 || index >= all.size())
        return nullptr;
    return all[index];
}

SoundButton* ButtonGrid::buttonWidgetById(const QString& id) const
{
    for (SoundButton* pad : pads()) {
        if (pad->buttonData().id == id)
            return pad;
    }
    return nullptr;
}

void ButtonGrid::applyTheme()
{
    for (SoundButton* pad : std::as_const(m_buttons))
        pad->update();
    m_container->update();
}

// Receivers may hand the grid a new tab while the signal is out, so they get
// a copy of the record rather than a reference into the list.
void ButtonGrid::reportChanged(int index)
{
    const ButtonData rec = m_tab.buttons[index];
    emit buttonDataChanged(rec);
}

int ButtonGrid::indexOfId(const QString& id) const
{
    for (int i = 0; i < m_tab.buttons.size(); ++i) {
        if (m_tab.buttons[i].id == id)
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Requests from the pads

void ButtonGrid::onPlayRequested(const QString& id)
{
    SoundButton* pad = buttonWidgetById(id);
    if (pad && pad->hasAudio()) {
        emit playRequested(pad->buttonData());
        return;
    }
    emit assignRequested(id);
}

void ButtonGrid::onStopRequested(const QString& id) { emit stopRequested(id); }

void ButtonGrid::onEditRequested(const QString& idAction)
{
    const int k = idAction.indexOf(QLatin1Char(':'));
    if (k >= 0)
        emit editRequested(idAction.left(k), idAction.mid(k + 1));
    else
        emit editRequested(idAction, QString());
}

void ButtonGrid::onAssignRequested(const QString& id) { emit assignRequested(id); }

void ButtonGrid::onClearRequested(const QString& id)
{
    const int i = indexOfId(id);
    if (i < 0)
        return;
    ButtonData blank;
    blank.id = m_tab.buttons[i].id;
    m_tab.buttons[i] = blank;
    if (i < m_buttons.size())
        m_buttons[i]->setButtonData(m_tab.buttons[i]);
    reportChanged(i);
}

void ButtonGrid::onDropped(const QString& id, const QString& path)
{
    const int i = indexOfId(id);
    if (i < 0)
        return;
    ButtonData& rec = m_tab.buttons[i];
    const bool hadAudio = !rec.audioPath.isEmpty();
    rec.audioPath = path;
    if (hadAudio || rec.name.isEmpty())
        rec.name = QFileInfo(path).completeBaseName();
    if (!rec.audioPath.isEmpty() && !rec.bgColor.isValid())
        autoColorButton(rec);
    if (i < m_buttons.size())
        m_buttons[i]->setButtonData(rec);
    reportChanged(i);
    emit dropped(id, path);
}

void ButtonGrid::onMultiDropped(const QString& startId, const QStringList& paths)
{
    if (paths.isEmpty() || m_tab.buttons.isEmpty())
        return;
    const int start = indexOfId(startId);
    if (start < 0)
        return;
    int assigned = 0;
    int next = 0;
    // A receiver of buttonDataChanged may hand the grid a new tab or count:
    // the bounds are read again at every step.
    for (int i = start; i < m_buttons.size() && i < m_tab.buttons.size() && next < paths.size(); ++i) {
        ButtonData& rec = m_tab.buttons[i];
        if (!rec.audioPath.isEmpty())
            continue;
        const QString& path = paths[next++];
        rec.audioPath = path;
        if (rec.name.isEmpty())
            rec.name = QFileInfo(path).completeBaseName();
        if (!rec.bgColor.isValid())
            autoColorButton(rec);
        m_buttons[i]->setButtonData(rec);
        reportChanged(i);
        ++assigned;
    }
    emit bulkAssignComplete(assigned, int(paths.size()));
}
