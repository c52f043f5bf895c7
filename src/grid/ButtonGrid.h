#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "Types.h"

class QGridLayout;
class QScrollArea;
class QTimer;
class SoundButton;

// The grid of sound buttons of one tab: keeps its own copy of the tab, owns one
// pad per record, lays them out in square-ish cells (2 x 2 for super buttons)
// and turns the pads' gestures into requests for the main window.
class ButtonGrid : public QWidget
{
    Q_OBJECT
public:
    explicit ButtonGrid(QWidget* parent = nullptr);

    // Takes the tab's records and builds its pads; with buttonsPerTab > 0 the
    // pad count changes first, so the pads are built once.
    void setTab(const TabData& tab, int buttonsPerTab = 0);
    const TabData& tab() const { return m_tab; }
    void updateTabData(const TabData& tab);
    // Replaces the first record with rec's id (nothing when the grid holds
    // none); the pad is left to the caller.
    void updateRecord(const ButtonData& rec);
    void syncFromSession(const TabData& tab);

    void setButtonsPerTab(int n);
    // With deferral on, a grid that has never been shown and has no pads yet
    // keeps only its records: the pads are made when the grid first shows or
    // when anything asks for one. A window full of hidden tabs starts without
    // making and styling a thousand pads nobody sees yet.
    void setDeferPads(bool defer) { m_deferPads = defer; }
    bool padsPending() const { return m_padsPending; }
    void ensurePads();
    int buttonsPerTab() const { return m_buttonsPerTab; }
    int buttonCount() const;

    // Stored as given (0 or less: automatic); the layout uses at most kMaxFixedCount.
    void setColumns(int cols);
    void setRows(int rows);
    static constexpr int kMaxFixedCount = 1000;
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }

    void filterButtons(const QString& text);
    QString filter() const { return m_filter; }

    void layoutButtons();
    int autoColumns() const;
    // The column and row counts the last layout used.
    int layoutColumns() const { return m_layoutCols; }
    int layoutRows() const { return m_layoutRows; }
    // The cell size (px) the last layout gave every row.
    int cellSize() const { return m_cellSize; }

    void setAllStopped();
    void resetAllTriggers();
    void setButtonPlaying(const QString& id, bool playing);
    SoundButton* buttonWidget(int index) const;
    SoundButton* buttonWidgetById(const QString& id) const;
    QScrollArea* scrollArea() const { return m_scroll; }
    QGridLayout* gridLayout() const { return m_gridLayout; }

    void applyTheme();

signals:
    void playRequested(const ButtonData& btn);
    void stopRequested(const QString& buttonId);
    void editRequested(const QString& buttonId, const QString& action);
    void assignRequested(const QString& buttonId);
    void clearRequested(const QString& buttonId);
    void dropped(const QString& buttonId, const QString& filePath);
    void bulkAssignComplete(int assigned, int total);
    void buttonDataChanged(const ButtonData& btn);
    void buttonSwapRequested(const QString& srcId, const QString& destId);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;

private slots:
    void onPlayRequested(const QString& id);
    void onStopRequested(const QString& id);
    void onEditRequested(const QString& idAction);
    void onAssignRequested(const QString& id);
    void onClearRequested(const QString& id);
    void onDropped(const QString& id, const QString& path);
    void onMultiDropped(const QString& startId, const QStringList& paths);

private:
    void rebuild();
    // A pad's marks kept across a rebuild.
    struct TriggerSave
    {
        QString id;
        quint8 triggered = 0;
        bool playing = false;
    };
    void buildPads(const QList<TriggerSave>& saved);
    // The pads, made first if they are still pending.
    const QList<SoundButton*>& pads() const;
    int indexOfId(const QString& id) const;   // first record with the id, else -1
    void reportChanged(int index);
    bool padMatchesFilter(const SoundButton* pad) const;

    TabData m_tab;
    QList<SoundButton*> m_buttons;
    QGridLayout* m_gridLayout = nullptr;
    QWidget* m_container = nullptr;
    QScrollArea* m_scroll = nullptr;
    int m_columns = 0;
    int m_rows = 0;
    int m_buttonsPerTab = 36;
    QString m_filter;
    QTimer* m_resizeTimer = nullptr;
    int m_layoutCols = 0;
    int m_layoutRows = 0;
    int m_cellSize = 0;
    bool m_deferPads = false;
    bool m_padsPending = false;
};
