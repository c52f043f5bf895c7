#pragma once
#include <QDialog>
#include <QList>
#include <QString>

#include "OutputChoices.h"
#include "OutputChooser.h"
#include "Types.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;

// One tab's own playback rules and output device, with an overview of every
// tab's rules and device. It edits nothing itself: the caller reads the
// outcome and the chosen values after it closes.
class TabPlaybackDialog : public QDialog
{
    Q_OBJECT
public:
    enum Outcome { Cancelled, UseGlobal, Applied };

    // tabIdx must be a tab of the session.
    TabPlaybackDialog(const Session& session, int tabIdx, QWidget* parent = nullptr);

    Outcome outcome() const { return m_outcome; }
    bool overrideRules() const;
    bool autoStop() const;
    bool restart() const;
    bool crossTabStop() const;
    QString device() const;

    // The overview's texts for one tab.
    static QString rulesText(const TabData& t);
    // The OUTPUT column names each output as the choosers do, within a few
    // characters: no two alike, whole in the tip (its description and id).
    // An output not listed goes by its id and reads "(not connected)", as
    // the device chooser lists it. The cells follow the tabs' order.
    struct OutputCell
    {
        QString text;
        QString tip;
    };
    static QList<OutputCell> outputCells(const QList<TabData>& tabs, const QList<OutputChoices::Output>& listed);
    // One tab's cell text, its output alone among the listed ones.
    static QString outputText(const QString& soundCard, const QList<OutputChoices::Output>& listed = {});
    // A device description as the chooser lists it.
    static QString deviceItemText(const QString& description);

    // Widgets, for the caller's tests.
    QCheckBox* overrideBox() const { return m_override; }
    QCheckBox* ruleBox(int i) const { return m_rules[i]; }
    OutputChooser* deviceCombo() const { return m_device; }
    QPushButton* useGlobalButton() const { return m_useGlobal; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* applyButton() const { return m_apply; }
    // The overview's two grids: 0 left, 1 right.
    QGridLayout* overviewGrid(int side) const { return m_overview[side]; }

private:
    void fillOverview(QGridLayout* grid, const Session& session, const QList<OutputCell>& outputs, int first,
                      int end, int edited);
    void setRulesEnabled(bool on);

    bool m_globalAutoStop = false;
    bool m_globalRestart = true;
    bool m_globalCrossTab = true;
    Outcome m_outcome = Cancelled;
    QCheckBox* m_override = nullptr;
    QCheckBox* m_rules[3] = {nullptr, nullptr, nullptr};
    QList<QLabel*> m_ruleNotes;
    OutputChooser* m_device = nullptr;
    QPushButton* m_useGlobal = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_apply = nullptr;
    QGridLayout* m_overview[2] = {nullptr, nullptr};
};
