#include "TrimDialog.h"

#include "MediaPlayer.h"
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QThreadPool>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>

#include "AudioEngine.h"
#include "DrumEngine.h"
#include "FileCheck.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "PcmDecode.h"
#include "PcmPlayer.h"
#include "ThemeManager.h"
#include "TrimCanvas.h"
#include "VXIcons.h"
#include "WaveformDecoder.h"

const QString TrimDialog::kPreviewId = QStringLiteral("__trim_preview__");

namespace {

TrimDialog::Clock& clockSlot()
{
    static TrimDialog::Clock c;
    return c;
}

QString filledSvg(const QString& drawing)
{
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='currentColor' "
                          "stroke='none'>%1</svg>")
        .arg(drawing);
}

// The text and icons of a button filled with a shade of the accent: white
// where it reads on the shade, else the ink the shade needs.
QColor onShade(const QColor& shade) { return ThemeManager::readableOn(Qt::white, {shade}); }
QColor onAccent() { return onShade(ThemeManager::instance()->colors().accent); }

QIcon playIcon() { return VXIcons::modern(VXIcons::ic_play(), onAccent(), 13); }

QIcon stopIcon()
{
    return VXIcons::modern(filledSvg(QStringLiteral("<rect x='5.5' y='5.5' width='13' height='13' rx='3'/>")),
                           onAccent(), 13);
}

QString msText(int ms) { return QStringLiteral("%1 ms").arg(ms); }

// Slider position of a stored gain: 0..200 %. A value that is not a number
// opens at 100 %.
int volumePercent(double volume)
{
    if (!std::isfinite(volume))
        return 100;
    if (volume <= 0)
        return 0;
    if (volume > 2.0)
        return 200;
    return int(std::floor(volume * 100.0 + 0.5));
}

int fadeMs(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return int(std::min(seconds * 1000.0, 1.0e9));
}

const char* const kDialogStyle =
    "QDialog{background:%1;color:%2;}QLabel{color:%2;background:transparent;}"
    "QGroupBox{background:%3;border:1px solid %4;border-radius:12px;  margin-top:10px;padding:12px;color:%5;"
    "font-size:11px;font-weight:700;}"
    "QGroupBox::title{subcontrol-origin:margin;left:12px;padding:0 5px;}"
    // The groove sits on the group box, which has the surface colour itself:
    // it takes the border colour so that the whole track stays visible.
    "QSlider::groove:horizontal{background:%4;height:5px;border-radius:2.5px;}"
    "QSlider::handle:horizontal{background:%6;width:16px;height:16px;  margin:-6px 0;border-radius:8px;"
    "border:2px solid %1;}"
    "QSlider::handle:horizontal:hover{background:%7;}"
    "QSlider::sub-page:horizontal{background:%6;border-radius:2.5px;}"
    "QPushButton{background:%3;color:%2;border:1px solid %4;  border-radius:9px;padding:6px 16px;font-size:12px;"
    "font-weight:600;}"
    "QPushButton:hover{background:%7;color:%2;border-color:%6;}QPushButton:pressed{background:%3;}"
    "QDialogButtonBox QPushButton[text='OK']{background:%6;color:%2;  border:1px solid %6;font-weight:700;"
    "border-radius:9px;}"
    "QDialogButtonBox QPushButton[text='Cancel']{background:transparent;border-radius:9px;}";

} // namespace

void TrimDialog::setClock(Clock clock) { clockSlot() = std::move(clock); }

qint64 TrimDialog::now() const
{
    if (const Clock& c = clockSlot())
        return c();
    return MonoClock::ms();
}

QString TrimDialog::formatTime(double seconds)
{
    // A hair of slack so that 2.675 s, stored as 2.67499999..., still reads .675.
    const double t = std::isfinite(seconds) && seconds > 0 ? seconds + 1e-9 : 0.0;
    const qint64 s = qint64(t);
    const int ms = std::clamp(int((t - double(s)) * 1000.0), 0, 999);
    return QStringLiteral("%1:%2.%3")
        .arg(s / 60)
        .arg(s % 60, 2, 10, QLatin1Char('0'))
        .arg(ms, 3, 10, QLatin1Char('0'));
}

TrimDialog::TrimDialog(const ButtonData& btn, QWidget* parent)
    : QDialog(parent)
    , m_btn(btn)
    , m_progressTimer(this)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const QString accent = tc.accent.name();

    setWindowTitle(QStringLiteral("Audio Trimming — ") + (m_btn.name.isEmpty() ? QStringLiteral("Button") : m_btn.name));
    setMinimumSize(680, 520);
    resize(860, 620);
    setSizeGripEnabled(true);
    // Muted texts stand on the dialog's ground, the group's surface and the
    // raised surface of the group's title.
    const QColor muted = ThemeManager::readableOn(tc.textMuted, {tc.bg, tc.surface, tc.surfaceAlt});
    setStyleSheet(QString::fromLatin1(kDialogStyle)
                      .arg(tc.bg.name())
                      .arg(tc.text.name())
                      .arg(tc.surface.name())
                      .arg(tc.border.name())
                      .arg(muted.name())
                      .arg(accent)
                      .arg(tc.surfaceAlt.name()));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 16, 16, 14);
    root->setSpacing(10);

    auto* pathLabel = new QLabel(m_btn.audioPath, this);
    pathLabel->setObjectName(QStringLiteral("trimPathLabel"));
    pathLabel->setWordWrap(true);
    pathLabel->setTextFormat(Qt::PlainText);
    pathLabel->setStyleSheet(QStringLiteral("color:%1;font-size:10px;").arg(muted.name()));
    root->addWidget(pathLabel);

    m_canvas = new TrimCanvas(this);
    m_canvas->setStyleSheet(QStringLiteral("border-radius:10px;"));
    m_canvas->setTrimStart(m_btn.trimStart);
    m_canvas->setTrimEnd(m_btn.trimEnd);
    m_canvas->setFadeIn(m_btn.fadeIn);
    m_canvas->setFadeOut(m_btn.fadeOut);
    connect(m_canvas, &TrimCanvas::trimChanged, this, &TrimDialog::onTrimChanged);
    root->addWidget(m_canvas, 1);

    const QString timeStyle =
        QStringLiteral("color:%1;font-size:11px;font-family:Consolas,monospace;").arg(tc.textSecondary.name());
    auto makeTimeLabel = [&](const QString& text, const char* name) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setStyleSheet(timeStyle);
        return l;
    };
    m_startLabel = makeTimeLabel(QStringLiteral("Start: 0:00.000"), "trimStartLabel");
    m_endLabel = makeTimeLabel(QStringLiteral("End: 0:00.000"), "trimEndLabel");
    m_durationLabel = makeTimeLabel(QStringLiteral("Duration: 0:00.000"), "trimDurationLabel");
    auto* times = new QHBoxLayout;
    times->addWidget(m_startLabel);
    times->addStretch();
    times->addWidget(m_endLabel);
    times->addStretch();
    times->addWidget(m_durationLabel);
    root->addLayout(times);

    auto* group = new QGroupBox(QStringLiteral("Audio Processing"), this);
    auto* form = new QFormLayout(group);
    form->setSpacing(8);
    auto makeRow = [&](const QString& label, int lo, int hi, int value, const QString& text, QSlider*& slider,
                       QLabel*& valueLabel, const char* name) {
        slider = new QSlider(Qt::Horizontal, group);
        slider->setObjectName(QLatin1String(name));
        slider->setRange(lo, hi);
        slider->setValue(value);
        slider->setFixedWidth(200);
        valueLabel = new QLabel(text, group);
        auto* row = new QHBoxLayout;
        row->addWidget(slider);
        row->addWidget(valueLabel);
        row->addStretch();
        form->addRow(label, row);
    };
    // The canvas holds the fades within the sliders' range: one value everywhere.
    const int maxFadeMs = fadeMs(TrimCanvas::kMaxFade);
    const int fadeInMs = fadeMs(m_canvas->fadeIn());
    const int fadeOutMs = fadeMs(m_canvas->fadeOut());
    const int volume = volumePercent(m_btn.volume);
    makeRow(QStringLiteral("Fade In:"), 0, maxFadeMs, fadeInMs, msText(fadeInMs), m_fadeInSlider, m_fadeInLabel,
            "fadeInSlider");
    makeRow(QStringLiteral("Fade Out:"), 0, maxFadeMs, fadeOutMs, msText(fadeOutMs), m_fadeOutSlider,
            m_fadeOutLabel, "fadeOutSlider");
    makeRow(QStringLiteral("Volume:"), 0, 200, volume, QStringLiteral("%1%").arg(volume), m_volumeSlider,
            m_volumeLabel, "volumeSlider");
    root->addWidget(group);

    auto* actions = new QHBoxLayout;
    m_previewBtn = new QPushButton(QStringLiteral("Preview"), this);
    m_previewBtn->setObjectName(QStringLiteral("trimPreviewBtn"));
    m_previewBtn->setIcon(playIcon());
    m_previewBtn->setStyleSheet(
        QStringLiteral("QPushButton{background:%1;color:%4;border:1px solid %1;  border-radius:9px;"
                       "padding:6px 18px;font-weight:700;font-size:12px;}"
                       "QPushButton:hover{background:%2;color:%5;border-color:%2;}"
                       "QPushButton:pressed{background:%3;color:%6;}")
            .arg(accent, tc.accent.lighter(120).name(), tc.accentPressed.name(), onShade(tc.accent).name(),
                 onShade(tc.accent.lighter(120)).name(), onShade(tc.accentPressed).name()));
    auto* resetBtn = new QPushButton(QStringLiteral("Reset"), this);
    resetBtn->setObjectName(QStringLiteral("trimResetBtn"));
    resetBtn->setIcon(VXIcons::modern(
        VXIcons::strokeSvg(QStringLiteral("<path d='M21 12a9 9 0 1 1-3-6.7'/><polyline points='21 3 21 8 16 8'/>"),
                           2.0),
        tc.text, 13));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = box->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("OK"));
    // Some platform themes put stock icons on dialog buttons; these have none.
    for (QAbstractButton* b : box->buttons())
        b->setIcon(QIcon());
    ok->setStyleSheet(QStringLiteral("background:%1;color:%2;border:1px solid %1;border-radius:9px;"
                                     "padding:6px 18px;font-weight:700;")
                          .arg(accent, onAccent().name()));
    actions->addWidget(m_previewBtn);
    actions->addWidget(resetBtn);
    actions->addStretch();
    actions->addWidget(box);
    root->addLayout(actions);

    connect(m_fadeInSlider, &QSlider::valueChanged, this, &TrimDialog::onFadeInChanged);
    connect(m_fadeInSlider, &QSlider::valueChanged, this, [this](int ms) { m_canvas->setFadeIn(ms / 1000.0); });
    connect(m_fadeOutSlider, &QSlider::valueChanged, this, &TrimDialog::onFadeOutChanged);
    connect(m_fadeOutSlider, &QSlider::valueChanged, this, [this](int ms) { m_canvas->setFadeOut(ms / 1000.0); });
    connect(m_canvas, &TrimCanvas::fadeInChanged, this, [this](double s) {
        const QSignalBlocker block(m_fadeInSlider);
        m_fadeInSlider->setValue(fadeMs(s));
        m_fadeInLabel->setText(msText(fadeMs(s)));
    });
    connect(m_canvas, &TrimCanvas::fadeOutChanged, this, [this](double s) {
        const QSignalBlocker block(m_fadeOutSlider);
        m_fadeOutSlider->setValue(fadeMs(s));
        m_fadeOutLabel->setText(msText(fadeMs(s)));
    });
    connect(m_volumeSlider, &QSlider::valueChanged, this, &TrimDialog::onVolumeChanged);
    connect(m_volumeSlider, &QSlider::sliderReleased, this, &TrimDialog::onVolumeReleased);
    connect(m_previewBtn, &QPushButton::clicked, this, [this] {
        if (m_previewing)
            onStopPreview();
        else
            onPlayPreview();
    });
    connect(resetBtn, &QPushButton::clicked, this, &TrimDialog::onReset);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_progressTimer.setObjectName(QStringLiteral("trimProgressTimer"));
    m_progressTimer.setInterval(kTickMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &TrimDialog::onProgressTick);

    AudioEngine* engine = AudioEngine::instance();
    connect(engine, &AudioEngine::positionChanged, this, &TrimDialog::onPositionChanged);
    connect(engine, &AudioEngine::playStopped, this, &TrimDialog::onPlayStopped);

    updateLabels();
    QTimer::singleShot(0, this, &TrimDialog::loadWaveform);
}

TrimDialog::~TrimDialog()
{
    // A preview must not outlive its controls.
    disconnect(AudioEngine::instance(), nullptr, this, nullptr);
    silencePreview();
}

double TrimDialog::trimStart() const { return m_canvas->trimStart(); }
double TrimDialog::trimEnd() const { return m_canvas->trimEnd(); }
double TrimDialog::fadeIn() const { return m_canvas->fadeIn(); }
double TrimDialog::fadeOut() const { return m_canvas->fadeOut(); }
double TrimDialog::volume() const { return sliderGain(); }

double TrimDialog::sliderGain() const { return std::clamp(m_volumeSlider->value(), 0, 200) / 100.0; }

void TrimDialog::loadWaveform()
{
    // No bars until the file's own are read: words say what is going on.
    m_canvas->setWaveform({});
    m_canvas->setPlaceholderText(QString::fromUtf8(kReadingWaveformText));

    const QString path = m_btn.audioPath;
    // The probe opens the file on this thread: a pipe would freeze the dialog.
    if (FileCheck::kindOf(path) == FileCheck::Kind::NotRegular) {
        VX_LOG(QStringLiteral("[TrimDialog] cannot open %1: not a regular file").arg(path));
        m_canvas->setPlaceholderText(QString::fromUtf8(kNoWaveformText));
        return;
    }
    auto* watcher = new QFutureWatcher<QList<WaveBar>>(this);
    connect(watcher, &QFutureWatcher<QList<WaveBar>>::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QList<WaveBar> bars = watcher->result();
        if (!bars.isEmpty())
            m_canvas->setWaveformBands(bars);
        else
            m_canvas->setPlaceholderText(QString::fromUtf8(kNoWaveformText));
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(),
                                         [path] { return WaveformDecoder::decodeBands(path, kWaveformBars); }));

    // The duration comes from a media player that is never played.
    auto* output = new MediaOutput(this);
    m_probe = new MediaPlayer(this);
    m_probe->setAudioOutput(output);
    connect(m_probe, &MediaPlayer::durationChanged, this, &TrimDialog::onDurationChanged);
    connect(m_probe, &QObject::destroyed, output, &QObject::deleteLater);
    m_probe->setSource(QUrl::fromLocalFile(path));
}

void TrimDialog::onDurationChanged(qint64 ms)
{
    // A zero report (no media yet) is not the duration; wait for the real one.
    // Only the first real report counts.
    if (ms <= 0 || m_duration > 0)
        return;
    m_duration = ms / 1000.0;
    m_canvas->setDuration(m_duration);
    if (m_canvas->trimEnd() <= 0 || m_btn.trimEnd <= 0) {
        m_canvas->setTrimEnd(m_duration);
    } else if (m_canvas->trimEnd() > m_duration) {
        // The file is shorter than the stored range (it was replaced): the
        // selection ends with the file.
        m_canvas->setTrimEnd(m_duration);
    }
    if (m_canvas->trimStart() > m_canvas->trimEnd() - TrimCanvas::kMinSelection)
        m_canvas->setTrimStart(std::max(0.0, m_canvas->trimEnd() - TrimCanvas::kMinSelection));
    updateLabels();
    if (m_probe) {
        disconnect(m_probe, nullptr, this, nullptr);
        m_probe->deleteLater();
        m_probe = nullptr;
    }
}

void TrimDialog::updateLabels()
{
    const double start = m_canvas->trimStart();
    const double end = m_canvas->trimEnd() > 0 ? m_canvas->trimEnd() : m_duration;
    m_startLabel->setText(QStringLiteral("Start: ") + formatTime(start));
    m_endLabel->setText(QStringLiteral("End: ") + formatTime(end));
    m_durationLabel->setText(QStringLiteral("Duration: ") + formatTime(end - start));
}

void TrimDialog::onTrimChanged(double, double) { updateLabels(); }

void TrimDialog::onFadeInChanged(int ms) { m_fadeInLabel->setText(msText(ms)); }

void TrimDialog::onFadeOutChanged(int ms) { m_fadeOutLabel->setText(msText(ms)); }

void TrimDialog::onVolumeChanged(int v)
{
    const double gain = std::clamp(v, 0, 200) / 100.0;
    m_volumeLabel->setText(QStringLiteral("%1%").arg(std::lround(gain * 100.0)));
    // Only the player path follows the slider live; the drum path has the gain
    // baked into its decoded sound and changes on the next preview.
    if (m_previewing && !m_drumPath && gain <= 1.0)
        AudioEngine::instance()->setButtonVolume(kPreviewId, gain);
}

void TrimDialog::onVolumeReleased()
{
    if (m_previewing && sliderGain() > 1.0)
        onPlayPreview();
}

void TrimDialog::showPreviewButton(bool previewing)
{
    m_previewBtn->setText(previewing ? QStringLiteral("Stop") : QStringLiteral("Preview"));
    m_previewBtn->setIcon(previewing ? stopIcon() : playIcon());
}

void TrimDialog::endPreviewDisplay()
{
    m_previewing = false;
    showPreviewButton(false);
    m_canvas->setProgress(0);
    m_progressTimer.stop();
}

void TrimDialog::onPlayPreview()
{
    const double gain = sliderGain();
    m_pcmWatcher = nullptr; // an older decode may no longer start anything
    AudioEngine::instance()->stop(kPreviewId);
    DrumEngine::instance()->stopById(kPreviewId);

    const double in = m_canvas->trimStart();
    const double out = m_canvas->trimEnd();
    m_previewIn = in;

    if (gain > 1.0) {
        DrumEngine::instance()->evictButton(kPreviewId);
        auto* watcher = new QFutureWatcher<QByteArray>(this);
        m_pcmWatcher = watcher;
        connect(watcher, &QFutureWatcher<QByteArray>::finished, this, [this, watcher] {
            watcher->deleteLater();
            if (m_pcmWatcher != watcher)
                return;
            m_pcmWatcher = nullptr;
            if (!m_previewing || !m_drumPath)
                return;
            QByteArray pcm = watcher->result();
            // The plain-WAV fallback of the decoder ignores the range.
            const auto maxBytes = qsizetype(kMaxDrumPreviewSeconds * PcmDecode::kRate) * PcmDecode::kBytesPerFrame;
            if (pcm.size() > maxBytes)
                pcm.truncate(maxBytes);
            if (pcm.isEmpty() && m_previewLength <= 0) {
                // Nothing decoded and no length to wait out: the preview is over.
                m_drumPath = false;
                endPreviewDisplay();
                return;
            }
            if (!pcm.isEmpty()) {
                DrumEngine::instance()->preload(kPreviewId, pcm, 1.0f);
                DrumEngine::instance()->triggerDirect(kPreviewId, 1.0f);
                // Neither a trim end nor the duration was known: the sound's
                // own length ends the preview.
                if (m_previewLength <= 0)
                    m_previewLength = double(pcm.size()) / (PcmDecode::kRate * PcmDecode::kBytesPerFrame);
            }
            m_previewStartMs = now();
        });
        // A long selection is previewed from its start for a bounded stretch:
        // decoding all of it would hold the whole sound in memory (about 53 MB
        // for five minutes) and push every other pad out of the drum engine.
        const double length = out > in ? out - in : m_duration;
        m_previewLength = std::min(length, kMaxDrumPreviewSeconds);
        const double decodeEnd = in + (length > 0 ? m_previewLength : kMaxDrumPreviewSeconds);
        const QString path = m_btn.audioPath;
        watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), &PcmPlayer::decode, path, in,
                                             decodeEnd, float(gain)));
        m_drumPath = true;
    } else {
        ButtonData copy = m_btn;
        copy.id = kPreviewId;
        copy.trimStart = in;
        copy.trimEnd = out;
        copy.volume = gain;
        // The fades that OK stores.
        copy.fadeIn = fadeIn();
        copy.fadeOut = fadeOut();
        AudioEngine::instance()->play(copy, QString(), false);
        m_drumPath = false;
    }

    m_previewStartMs = now();
    m_previewing = true;
    showPreviewButton(true);
    m_progressTimer.start();
}

void TrimDialog::onStopPreview()
{
    m_pcmWatcher = nullptr;
    AudioEngine::instance()->stop(kPreviewId);
    DrumEngine::instance()->stopById(kPreviewId);
    m_drumPath = false;
    endPreviewDisplay();
}

void TrimDialog::silencePreview()
{
    m_pcmWatcher = nullptr;
    m_progressTimer.stop();
    AudioEngine::instance()->stop(kPreviewId);
    DrumEngine* drums = DrumEngine::instance();
    drums->stopById(kPreviewId);
    // The decoded preview can be large; it is of no use once the dialog closes.
    drums->evictButton(kPreviewId);
    m_previewing = false;
    m_drumPath = false;
}

void TrimDialog::done(int r)
{
    silencePreview();
    showPreviewButton(false);
    m_canvas->setProgress(0);
    QDialog::done(r);
}

void TrimDialog::onPlayStopped(const QString& id)
{
    if (id != kPreviewId)
        return;
    endPreviewDisplay();
}

void TrimDialog::onPositionChanged(const QString& id, qint64 posMs, qint64 durMs)
{
    if (id != kPreviewId || durMs < 1)
        return;
    const double progress = double(posMs) / double(durMs);
    m_canvas->setProgress(progress);
    const double zoom = m_canvas->zoom();
    if (zoom > 1.01) {
        // Follow the playhead: bring it back to a quarter of the view.
        const double rel = (progress - m_canvas->viewStart()) * zoom;
        if (rel > 0.85 || rel < 0.1)
            m_canvas->setViewStart(progress - 0.25 / zoom);
    }
}

void TrimDialog::onProgressTick()
{
    if (!m_previewing)
        return;
    m_canvas->update();
    // The drum path reports no position: its clock runs from the moment the
    // sound was started (not while its decoding is still under way).
    if (!m_drumPath || m_previewLength <= 0 || m_pcmWatcher)
        return;
    const double f = double(now() - m_previewStartMs) / 1000.0 / m_previewLength;
    if (f >= 1.0) {
        m_drumPath = false;
        endPreviewDisplay();
        return;
    }
    if (m_duration > 0)
        m_canvas->setProgress((m_previewIn + std::max(0.0, f) * m_previewLength) / m_duration);
}

void TrimDialog::onReset()
{
    const double duration = m_canvas->duration();
    m_canvas->setTrimStart(0);
    m_canvas->setZoom(1.0);
    m_canvas->setTrimEnd(duration);
    m_canvas->setViewStart(0);
    m_canvas->setFadeIn(0);
    m_canvas->setFadeOut(0);
    emit m_canvas->trimChanged(0, duration);
    emit m_canvas->fadeInChanged(0);
    emit m_canvas->fadeOutChanged(0);
    {
        const QSignalBlocker blockIn(m_fadeInSlider);
        const QSignalBlocker blockOut(m_fadeOutSlider);
        m_fadeInSlider->setValue(0);
        m_fadeOutSlider->setValue(0);
    }
    m_fadeInLabel->setText(msText(0));
    m_fadeOutLabel->setText(msText(0));
    m_volumeSlider->setValue(100);
    updateLabels();
}
