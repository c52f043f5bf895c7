#pragma once
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

#include "Types.h"

class QLabel;
class MediaPlayer;
class QPushButton;
class QSlider;
template <typename T>
class QFutureWatcher;
class TrimCanvas;

// The modal editor of one button's trim points, fades and volume. Shows the
// file's waveform (decoded on the global pool; the dialog opens at once with
// placeholder bars), learns the duration from a media player and previews the
// selection under the reserved id "__trim_preview__": through AudioEngine at
// gains up to 100 %, through a decoded sound on the DrumEngine above. It edits
// no session data; the caller copies the values back after acceptance.
class TrimDialog : public QDialog
{
    Q_OBJECT
public:
    static const QString kPreviewId;
    static constexpr int kTickMs = 33;
    static constexpr int kWaveformBars = 4000;
    // The canvas's words while the file's bars are read, and when none can be.
    static constexpr const char* kReadingWaveformText = "Reading the waveform…";
    static constexpr const char* kNoWaveformText = "No waveform can be shown for this file";
    // Longest stretch the preview above 100 % decodes and plays (about 5 MB
    // of PCM): the whole sound is held in memory and in the drum engine's pad
    // cache, whose budget is 20 MB.
    static constexpr double kMaxDrumPreviewSeconds = 30.0;

    TrimDialog(const ButtonData& btn, QWidget* parent = nullptr);
    ~TrimDialog() override;

    // The values to store in the button, seconds and linear gain 0..2.
    double trimStart() const;
    double trimEnd() const;
    double fadeIn() const;
    double fadeOut() const;
    double volume() const;

    // "m:ss.mmm"; 75.5 gives "1:15.500". Negative times show as zero.
    static QString formatTime(double seconds);

    // Milliseconds of a monotonic clock, for the drum-path preview clock.
    // Tests install their own; null restores the steady clock.
    using Clock = std::function<qint64()>;
    static void setClock(Clock clock);

    // State, for the caller and tests.
    TrimCanvas* canvas() const { return m_canvas; }
    double duration() const { return m_duration; }
    bool isPreviewing() const { return m_previewing; }
    bool isDrumPath() const { return m_drumPath; }
    double previewLength() const { return m_previewLength; }

    // OK and Cancel (and closing the window) end a running preview.
    void done(int r) override;

private slots:
    void onPlayPreview();
    void onStopPreview();
    void onTrimChanged(double start, double end);
    void onPositionChanged(const QString& id, qint64 posMs, qint64 durMs);
    void onPlayStopped(const QString& id);
    void onFadeInChanged(int ms);
    void onFadeOutChanged(int ms);
    void onVolumeChanged(int v);
    void onDurationChanged(qint64 ms);
    void onVolumeReleased();
    void onProgressTick();
    void onReset();
    void loadWaveform();

private:
    void updateLabels();
    double sliderGain() const;
    void showPreviewButton(bool previewing);
    void endPreviewDisplay();
    void silencePreview();
    qint64 now() const;

    ButtonData m_btn;
    TrimCanvas* m_canvas = nullptr;
    QTimer m_progressTimer;
    QSlider* m_fadeInSlider = nullptr;
    QSlider* m_fadeOutSlider = nullptr;
    QSlider* m_volumeSlider = nullptr;
    QLabel* m_startLabel = nullptr;
    QLabel* m_endLabel = nullptr;
    QLabel* m_durationLabel = nullptr;
    QLabel* m_fadeInLabel = nullptr;
    QLabel* m_fadeOutLabel = nullptr;
    QLabel* m_volumeLabel = nullptr;
    QPushButton* m_previewBtn = nullptr;
    double m_duration = 0;
    bool m_previewing = false;
    bool m_drumPath = false;
    qint64 m_previewStartMs = 0;
    double m_previewLength = 0;
    double m_previewIn = 0;
    // The drum-path decode whose result may still start the sound; a newer
    // preview, a stop or closing the dialog drops it.
    QPointer<QFutureWatcher<QByteArray>> m_pcmWatcher;
    QPointer<MediaPlayer> m_probe;
};
