#pragma once
#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "OutputChoices.h"
#include "OutputChooser.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

// The bar above a grid pane: the tab's colour dot and name, Stop Tab, the tab
// volume, the fade-out preset, the output device, the tab chooser and the
// playback settings button. It keeps only what the main window gives it; every
// user action leaves as a signal.
class GridHeader : public QWidget
{
    Q_OBJECT
public:
    GridHeader(const QString& tabName, const QColor& tabColor, QWidget* parent = nullptr);

    void setTabName(const QString& name);
    void setTabList(const QStringList& names, int current);
    void setCurrentDevice(const QString& deviceId);
    void setTabColor(const QColor& color);
    void setPlaying(bool playing);
    void setFadeMs(double ms);
    void updateFadeLabel();
    double volume() const;
    double fadeMs() const { return m_fadeMs; }
    void applyTheme();

    // Widgets the main window and tests reach.
    QLabel* nameLabel() const { return m_nameLabel; }
    QLabel* dot() const { return m_dot; }
    QPushButton* stopButton() const { return m_stopBtn; }
    QPushButton* gearButton() const { return m_gearBtn; }
    QPushButton* fadeButton() const { return m_fadeBtn; }
    QLabel* volumeLabel() const { return m_volLabel; }
    QComboBox* tabCombo() const { return m_tabCombo; }
    OutputChooser* deviceCombo() const { return m_deviceCombo; }

    // The text a device chooser item shows for a device description.
    static QString deviceItemText(const QString& description);

    // Where the device chooser's entries come from: the system's audio outputs
    // unless a test installs its own list (null restores the system's).
    using AudioOutput = OutputChoices::Output;
    using DeviceLister = OutputChoices::Lister;
    static void setDeviceLister(DeviceLister lister);
    // The audio outputs the device chooser lists, from the lister above.
    static QList<AudioOutput> outputDevices();

    // Written by the main window from the tab; the menus read and change them.
    double m_fadeMs = 0;
    QString m_stopKey;
    int m_stopMidiNote = -1;
    QString m_volUpKey;
    QString m_volDnKey;
    int m_volCC = -1;
    QSlider* m_volSlider = nullptr;

signals:
    void stopClicked();
    void volumeChanged(double vol);
    void fadeChanged(double ms);
    void tabSwitchRequested(int idx);
    void deviceChanged(const QString& deviceId);
    void stopShortcutChanged(const QString& key);
    void stopMidiNoteChanged(int note);
    void midiLearnRequested(const QString& target);
    void volumeMidiLearnRequested();
    void volShortcutChanged(const QString& upKey, const QString& downKey);
    void volMidiCCChanged(int cc);
    void playbackSettingsRequested();

private slots:
    void onFadeBtnClicked();

private:
    void showStopMenu(const QPoint& pos);
    void showVolumeMenu(const QPoint& pos);
    void styleGearButton();

    QLabel* m_dot = nullptr;
    QLabel* m_nameLabel = nullptr;
    QPushButton* m_stopBtn = nullptr;
    QPushButton* m_gearBtn = nullptr;
    QWidget* m_volWrap = nullptr;
    QLabel* m_volLabel = nullptr;
    QPushButton* m_fadeBtn = nullptr;
    QComboBox* m_tabCombo = nullptr;
    OutputChooser* m_deviceCombo = nullptr;
    QColor m_tabColor;
};
