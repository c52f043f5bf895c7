#pragma once
#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

#include "ThemeManager.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QStackedWidget;
class QVBoxLayout;
class QAudioDevice;

// The one window in which the user changes the program's settings. Every
// control writes its key the moment it changes, acts at once where the change
// has a live effect, then emits settingsChanged(); closing the dialog undoes
// and commits nothing. The main window makes one on the stack per opening.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    enum Page { Appearance = 0, Audio = 1, Midi = 2, Shortcuts = 3, Advanced = 4 };

    explicit SettingsDialog(QWidget* parent = nullptr);
    ~SettingsDialog() override;

    void showPage(Page p);
    // Every page reads its values while it is built; nothing to do here.
    void loadCurrentValues() {}
    // The toggle-switch look for an on/off check box (nothing without a style).
    void applyToggleStyle(QCheckBox* box);
    void applyAccent(const QString& hex);

    // What "Apply && Restart App" does last: start the program again, detached,
    // and quit. Tests put their own functions here; null ones restore Qt's.
    struct RestartSeam
    {
        std::function<bool(const QString& program, const QStringList& arguments)> start;
        std::function<void()> quit;
    };
    static void setRestartSeam(RestartSeam seam);
    // Delays of the restart chain after "Restart Now": the engines stop, the
    // new process starts, the program quits. Each step runs from a single-shot
    // timer owned by the application and named kRestartTimerName.
    static constexpr int kRestartStopMs = 400;
    static constexpr int kRestartStartMs = 300;
    static constexpr int kRestartQuitMs = 200;
    static constexpr const char* kRestartTimerName = "settingsRestartStep";

    // "%.1f" in the template replaced by samples / rate * 1000 ms, one decimal.
    static QString latencyText(const QString& labelTemplate, int samples, int rate);
    // The audio page's latency line: what a press over a playing sound waits
    // for on the sampler, from the queue its output opened with (keptFrames)
    // and the queue now, at the sampler's rate. keptFrames 0: not running.
    static QString pressLatencyText(int keptFrames, int nowFrames);
    static constexpr int kLatencyRefreshMs = 1000;
    // A device description as the output list shows it when no other output
    // shares it: more than 35 characters are cut to 32 and "...".
    static QString shortDeviceName(const QString& description);
    // A MIDI note as a name with its octave: 60 is C4, 0 is C-1.
    static QString midiNoteName(int note);
    // Bytes of every file below root, and of settingsFile when it is a file.
    static qint64 dataSize(const QString& root, const QString& settingsFile);
    // "%1 B" up to 1023 bytes, whole "%1 KB" below 1 MB, whole "%1 MB" above.
    static QString formatSize(qint64 bytes);

signals:
    void settingsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class SettingsBenchAccess;

    void buildAppearancePage();
    void buildAudioPage();
    void buildMidiPage();
    void buildShortcutsPage();
    void buildAdvancedPage();
    // The sections of the Appearance page, in page order.
    void buildThemePresetsSection(QVBoxLayout* v, const ThemeColors& c);
    void buildAccentSection(QVBoxLayout* v, const ThemeColors& c);
    void buildFontSection(QVBoxLayout* v, const ThemeColors& c);
    void buildButtonIconsSection(QVBoxLayout* v);
    // The sections of the Audio page, in page order.
    void buildAudioEngineSection(QVBoxLayout* v, const ThemeColors& c);
    void buildAudioSamplerSection(QVBoxLayout* v, const ThemeColors& c);
    void buildAudioOutputSection(QVBoxLayout* v, const ThemeColors& c);
    void buildAudioBufferSection(QVBoxLayout* v, const ThemeColors& c, int rate);
    void buildAudioPreloadSection(QVBoxLayout* v, const ThemeColors& c);
    void buildAudioApplySection(QVBoxLayout* v, const ThemeColors& c);
    // The sections of the MIDI page, in page order. The devices section gives
    // back its list refill, the monitor section its note and controller
    // handlers: the page connects them to the manager last.
    std::function<void()> buildMidiDevicesSection(QVBoxLayout* v, QWidget* page, const ThemeColors& c);
    void buildMidiMonitorSection(QVBoxLayout* v, const ThemeColors& c, std::function<void(int, int, int)>& onNote,
                                 std::function<void(int, int, int)>& onCc);
    void buildMidiButtonsSection(QVBoxLayout* v, const ThemeColors& c, const QString& rowSS,
                                 const QString& smallMutedSS, const QString& placeholderSS);
    void buildMidiTabsSection(QVBoxLayout* v, const ThemeColors& c, const QString& rowSS, const QString& smallMutedSS,
                              const QString& placeholderSS);
    // The sections of the Advanced page, in page order.
    void buildAutoSaveSection(QVBoxLayout* v, const ThemeColors& c);
    void buildEventLogSection(QVBoxLayout* v);
    void buildDownloadFolderSection(QVBoxLayout* v, const ThemeColors& c);
    void buildCacheSection(QVBoxLayout* v);
    void buildVolumeResetSection(QVBoxLayout* v, const ThemeColors& c);
    void buildSettingsResetSection(QVBoxLayout* v);
    void refreshApplyState(class QPushButton* apply, class QPropertyAnimation* pulse,
                           class QGraphicsDropShadowEffect* glow);
    void onRestartClicked();
    // Lists, number fields and sliders leave the wheel to the page.
    void keepWheelOffValues();
    // Clears the store; false, with the store as it was, when it cannot be written.
    bool resetAllSettings();

    QString toggleQss;
    QListWidget* navList = nullptr;
    QStackedWidget* pageStack = nullptr;
    QComboBox* fontCombo = nullptr;
    QComboBox* btnFontCombo = nullptr;
    QComboBox* deviceCombo = nullptr;
    QComboBox* bufferCombo = nullptr;
    QCheckBox* preloadCheck = nullptr;
    QComboBox* autoSaveCombo = nullptr;
    QCheckBox* showLogCheck = nullptr;

    // The stored output device as the Audio page found it, and whether that
    // device was among the outputs then; "Apply && Restart App" keeps a
    // missing one unless the user chose another row since.
    // The colours the Appearance page was built with (its apply button keeps them).
    ThemeColors appearanceColors;
    QString storedDevice;
    bool storedDeviceMissing = false;
    bool deviceChosen = false;
};

// A themed modal question, centred over parent; the button pressed.
int themedMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                     QMessageBox::StandardButtons buttons,
                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
