// Audio: the fixed engine, the sampler, the primary output and the buffer
// size (both applied at once), pre-loading, and "Apply && Restart App".
#include "SettingsDialog.h"

#include <QAudioDevice>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMediaDevices>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "AudioEngine.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "Modal.h"
#include "OutputChoices.h"
#include "OutputChooser.h"
#include "PcmPlayer.h"
#include "ScreenFit.h"
#include "SessionManager.h"
#include "SettingsKeys.h"
#include "SettingsPageKit.h"
#include "VXIcons.h"
#include "WasapiEngine.h"

using namespace SettingsPageKit;

namespace {

// A click on the text is a click on its button.
class ClickThrough : public QObject
{
public:
    ClickThrough(QWidget* text, QAbstractButton* button) : QObject(text), m_button(button) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
            m_button->click();
        return false;
    }

private:
    QAbstractButton* m_button;
};

void clickThrough(QWidget* text, QAbstractButton* button)
{
    text->installEventFilter(new ClickThrough(text, button));
}

struct BufOpt
{
    int samples;
    const char* label;
};

const BufOpt kBufferRows[] = {
    {64, "64 samples — Ultra (%.1f ms) — high-end PCs only"},
    {128, "128 samples — %.1f ms — the usual DJ software default ⚡"},
    {256, "256 samples — %.1f ms — low latency"},
    {512, "512 samples — %.1f ms — balanced"},
    {1024, "1024 samples — %.1f ms — stable"},
    {2048, "2048 samples — %.1f ms — very stable"},
    {4096, "4096 samples — %.1f ms — maximum stability"},
};

constexpr int kFallbackRate = 44100;
// The longest output name the Primary Output chooser shows.
constexpr int kDeviceChars = 35;
constexpr int kDefaultBuffer = 128;

const char* const kSpeakerSvg =
    "<path d='M11 5 6 9H2v6h4l5 4V5z'/><path d='M15.5 8.5a5 5 0 0 1 0 7'/><path d='M18.4 5.6a9 9 0 0 1 0 12.8'/>";
const char* const kRestartSvg = "<path d='M21 12a9 9 0 1 1-3-6.7'/><polyline points='21 3 21 8 16 8'/>";

SettingsDialog::RestartSeam& restartSeam()
{
    static SettingsDialog::RestartSeam s;
    return s;
}

bool startProgram(const QString& program, const QStringList& arguments)
{
    if (restartSeam().start)
        return restartSeam().start(program, arguments);
    return QProcess::startDetached(program, arguments, QString());
}

void quitProgram()
{
    if (restartSeam().quit)
        restartSeam().quit();
    else
        QCoreApplication::quit();
}

// One step of the restart chain: a single-shot timer owned by the
// application, so the chain outlives the dialog it was started from.
void restartStep(int ms, std::function<void()> step)
{
    auto* t = new QTimer(QCoreApplication::instance());
    t->setObjectName(QString::fromLatin1(SettingsDialog::kRestartTimerName));
    t->setSingleShot(true);
    t->setInterval(ms);
    QObject::connect(t, &QTimer::timeout, t, [t, step = std::move(step)] {
        t->deleteLater();
        step();
    });
    t->start();
}

void warnNoRestart(QWidget* parent, const QString& why)
{
    themedMessageBox(parent, QMessageBox::Warning, QStringLiteral("Restart Not Possible"),
                     why + QStringLiteral("\nThe app keeps running."), QMessageBox::Ok, QMessageBox::Ok);
}

// The rate the latency figures use: the stored device's preferred rate, the
// first output's when none is stored, else 44100.
int latencyRate(const QList<QAudioDevice>& outputs, const QString& stored)
{
    for (const QAudioDevice& d : outputs) {
        if (stored.isEmpty() || QString::fromUtf8(d.id()) == stored) {
            const int rate = d.preferredFormat().sampleRate();
            return rate > 0 ? rate : kFallbackRate;
        }
    }
    return kFallbackRate;
}

// The sampler's latency line as it stands now.
QString currentPressLatency()
{
    const DirectSoundEngine* ds = DirectSoundEngine::instance();
    return SettingsDialog::pressLatencyText(ds->openedQueueFrames(), ds->queueFrames());
}

} // namespace

void SettingsDialog::setRestartSeam(RestartSeam seam)
{
    restartSeam() = std::move(seam);
}

QString SettingsDialog::latencyText(const QString& labelTemplate, int samples, int rate)
{
    QString out = labelTemplate;
    return out.replace(QLatin1String("%.1f"), QString::number(double(samples) / rate * 1000.0, 'f', 1));
}

QString SettingsDialog::pressLatencyText(int keptFrames, int nowFrames)
{
    if (keptFrames <= 0)
        return QStringLiteral("Latency: sampler not running — buttons play through the media players");
    const auto ms = [](int frames) { return QString::number(frames * 1000.0 / BufferMixer::kRate, 'f', 1); };
    return QStringLiteral("Latency: ~%1 ms for buttons while other sounds play (queued now %2 ms) @ %3 Hz")
        .arg(ms(keptFrames), ms(nowFrames))
        .arg(BufferMixer::kRate);
}

QString SettingsDialog::shortDeviceName(const QString& description)
{
    return OutputChoices::cut(description, kDeviceChars);
}

void SettingsDialog::buildAudioPage()
{
    const ThemeColors c = ThemeManager::instance()->colors();
    auto* page = new QWidget;
    QVBoxLayout* v = pageLayout(page, 14);

    buildAudioEngineSection(v, c);
    buildAudioSamplerSection(v, c);

    const QList<QAudioDevice> outputs = AudioEngine::instance()->audioDevices();
    storedDevice = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
    buildAudioOutputSection(v, c);

    const int rate = latencyRate(outputs, SettingsKeys::readString(SettingsKeys::AudioDevice, QString()));
    buildAudioBufferSection(v, c, rate);

    buildAudioPreloadSection(v, c);
    buildAudioApplySection(v, c);

    v->addStretch();
    pageStack->addWidget(scrollPage(page));
}

// The engine is fixed; every opening stores it again.
void SettingsDialog::buildAudioEngineSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* g = makeGroup(QStringLiteral("Audio Output Device"));
    auto* gl = new QVBoxLayout(g);
    gl->setSpacing(6);
    auto* label = new QLabel(QStringLiteral("⚡  Standard Audio (WASAPI Shared) — recommended"));
    label->setStyleSheet(QStringLiteral("color:%1;font-size:12px;font-weight:700;padding:4px 2px;")
                             .arg(readableInk(c, QColor(0x4a, 0xde, 0x80)).name()));
    gl->addWidget(label);
    AppSettings s;
    s.setValue(SettingsKeys::AudioPlaybackMode, QStringLiteral("standard"));
    s.setValue(SettingsKeys::AudioEngine, QStringLiteral("wasapi_shared"));
    s.sync();
    v->addWidget(g);
}

// The sampler: shown, then stored as "directsound".
void SettingsDialog::buildAudioSamplerSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* g = makeGroup(QStringLiteral("Audio Sampler"));
    auto* gl = new QVBoxLayout(g);
    gl->setSpacing(6);
    auto* intro = new QLabel(QStringLiteral("Choose the sampler engine for triggering sounds:"));
    intro->setStyleSheet(mutedSS(c));
    gl->addWidget(intro);
    const bool dsReady = DirectSoundEngine::instance()->isInitialized();
    const QString sampler = SettingsKeys::readString(
        SettingsKeys::AudioSampler, dsReady ? QStringLiteral("directsound") : QStringLiteral("drum"));
    const QString choice = QStringLiteral("🏆 DirectSound (DuplicateSoundBuffer) — Stinger-style, ~14MB RAM  [BEST]");
    const QString amber = readableInk(c, QColor(0xf5, 0x9e, 0x0b)).name();
    // A radio button cannot wrap its text: the indicator stands alone and
    // its text is a wrapped label beside it, which a click also reaches.
    auto* radio = new QRadioButton;
    radio->setChecked(sampler == QLatin1String("directsound"));
    radio->setAccessibleName(choice);
    radio->setToolTip(choice);
    radio->setStyleSheet(
        QStringLiteral("QRadioButton{background:transparent;}QRadioButton::indicator{width:18px;height:18px;"
                       "border-radius:9px;border:2px solid %1;background:%2;}QRadioButton::indicator:checked{"
                       "background:%3;border-color:%3;}QRadioButton::indicator:hover{"
                       "border-color:%3;}")
            .arg(c.border.name(), c.surfaceAlt.name(), amber));
    auto* choiceText = wrappedLabel(
        choice, QStringLiteral("color:%1;font-size:12px;font-weight:700;background:transparent;").arg(amber));
    choiceText->setObjectName(QStringLiteral("samplerChoiceText"));
    clickThrough(choiceText, radio);
    auto* choiceRow = new QHBoxLayout;
    choiceRow->setSpacing(8);
    choiceRow->addWidget(radio, 0, Qt::AlignTop);
    choiceRow->addWidget(choiceText, 1);
    gl->addLayout(choiceRow);
    auto* note = wrappedLabel(
        dsReady ? QStringLiteral("🏆 DirectSound DuplicateSoundBuffer — Zero app RAM. Hardware-mixed. Same as BSI "
                                 "Stinger. ✅ Active.")
                : QStringLiteral("🏆 DirectSound DuplicateSoundBuffer — Same as BSI Stinger. ✅ Selected."),
        noteSS(c) + QStringLiteral("padding:2px 4px;"));
    gl->addWidget(note);
    AppSettings s;
    s.setValue(SettingsKeys::AudioSampler, QStringLiteral("directsound"));
    s.sync();
    v->addWidget(g);
}

// Primary output: filled and selected before the handler is connected, so
// building writes nothing.
void SettingsDialog::buildAudioOutputSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* g = makeGroup(QStringLiteral("Output Devices"));
    auto* form = new QFormLayout(g);
    auto* chooser = new OutputChooser;
    deviceCombo = chooser;
    deviceCombo->setStyleSheet(comboSS(c));
    const QIcon speaker = VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kSpeakerSvg), 2.0), c.text, 13);
    deviceCombo->addItem(speaker, QStringLiteral("Default Output"), QString());
    chooser->addOutputs(OutputChoices::outputs(), kDeviceChars, speaker);
    ScreenFit::showAllEntries(deviceCombo);
    const int row = deviceCombo->findData(storedDevice, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (row >= 0)
        deviceCombo->setCurrentIndex(row);
    storedDeviceMissing = row < 0;
    connect(deviceCombo, &QComboBox::currentIndexChanged, this, [this] {
        deviceChosen = true;
        const QString id = deviceCombo->currentData().toString();
        {
            AppSettings s;
            s.setValue(SettingsKeys::AudioDevice, id);
        }
        AudioEngine::instance()->setDefaultDevice(id);
        // The list as it is now: the row may name an output unplugged since.
        QAudioDevice device;
        for (const QAudioDevice& d : QMediaDevices::audioOutputs()) {
            if (QString::fromUtf8(d.id()) == id) {
                device = d;
                break;
            }
        }
        DrumEngine::instance()->setDevice(device.isNull() ? QMediaDevices::defaultAudioOutput() : device);
        emit settingsChanged();
    });
    form->addRow(QStringLiteral("Primary Output:"), deviceCombo);
    v->addWidget(g);
}

// Buffer size, with latency figures at the rate taken once here.
void SettingsDialog::buildAudioBufferSection(QVBoxLayout* v, const ThemeColors& c, int rate)
{
    QGroupBox* g = makeGroup(QStringLiteral("Buffer Size"));
    auto* form = new QFormLayout(g);
    bufferCombo = new QComboBox;
    bufferCombo->setStyleSheet(comboSS(c));
    for (const BufOpt& b : kBufferRows)
        bufferCombo->addItem(latencyText(QString::fromUtf8(b.label), b.samples, rate), b.samples);
    const int stored = SettingsKeys::readInt(SettingsKeys::AudioBuffer, kDefaultBuffer);
    const int row = bufferCombo->findData(stored);
    bufferCombo->setCurrentIndex(row >= 0 ? row : 1);
    // The buffer size is the float engine's, and the rows' figures are its
    // stream's. Nothing the user fires plays through that stream: the
    // buttons and the music have streams of their own. A button pressed
    // while other sounds play waits for the sampler's queue, which follows
    // the output and not this buffer: its line says so and is read again
    // while the page lives.
    bufferCombo->setToolTip(QStringLiteral("Sizes the float engine's output stream. No button and no music plays "
                                           "through it, so you will not hear a change. The buttons keep their own "
                                           "queue (the latency line below), which this choice does not change."));
    auto* latency = new QLabel(currentPressLatency());
    latency->setObjectName(QStringLiteral("latencyLabel"));
    latency->setStyleSheet(mutedSS(c));
    latency->setWordWrap(true);
    latency->setToolTip(QStringLiteral("A button pressed while other sounds play is heard after what is already "
                                       "queued. The sampler keeps this much queued, and more for a while after a "
                                       "dropout. The buffer size above does not change it."));
    auto* refresh = new QTimer(latency);
    refresh->setObjectName(QStringLiteral("latencyRefresh"));
    refresh->setInterval(kLatencyRefreshMs);
    connect(refresh, &QTimer::timeout, latency, [latency] { latency->setText(currentPressLatency()); });
    refresh->start();
    connect(bufferCombo, &QComboBox::currentIndexChanged, this, [this, latency] {
        const int samples = bufferCombo->currentData().toInt();
        {
            AppSettings s;
            s.setValue(SettingsKeys::AudioBuffer, samples);
        }
        const QString device = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
        WasapiEngine::instance()->shutdown();
        WasapiEngine::instance()->init(device);
        latency->setText(currentPressLatency());
        emit settingsChanged();
    });
    // The note on the buffer sits under it, before the buttons' line.
    form->addRow(QStringLiteral("Buffer Size:"), bufferCombo);
    auto* note = wrappedLabel(
        QStringLiteral("⚡ Float engine stream: Lower = less latency but may crackle.  Higher = more stable.  "
                       "Applied immediately.  Buttons and music play through their own streams: their latency "
                       "does not change with it."),
        noteSS(c));
    note->setObjectName(QStringLiteral("bufferNote"));
    form->addRow(note);
    form->addRow(latency);
    v->addWidget(g);
}

// Pre-loading.
void SettingsDialog::buildAudioPreloadSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* g = makeGroup(QStringLiteral("Pre-loading"));
    auto* gl = new QVBoxLayout(g);
    preloadCheck = new QCheckBox(QStringLiteral("Pre-load audio files into memory (faster trigger)"));
    applyToggleStyle(preloadCheck);
    preloadCheck->setChecked(SettingsKeys::readBool(SettingsKeys::AudioPreload, true));
    connect(preloadCheck, &QCheckBox::toggled, this, [this](bool on) {
        {
            AppSettings s;
            s.setValue(SettingsKeys::AudioPreload, on);
        }
        emit settingsChanged();
    });
    gl->addWidget(preloadCheck);
    auto* note = wrappedLabel(QStringLiteral("Decodes audio to RAM at session load. Recommended for drums/DJ."), mutedSS(c));
    gl->addWidget(note);
    v->addWidget(g);
}

// Apply and restart, with a status line that follows every change.
void SettingsDialog::buildAudioApplySection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* g = makeGroup(QStringLiteral("Apply Settings"));
    auto* gl = new QVBoxLayout(g);
    gl->setSpacing(10);
    auto* warn = wrappedLabel(QStringLiteral("⚠️  Audio Engine and Buffer changes require an app restart to take full "
                                           "effect."), QStringLiteral("font-size:11px;color:") + c.warning.name()
                        + QStringLiteral(";background:transparent;padding:4px 0;"));
    gl->addWidget(warn);
    auto* restart = new QPushButton(QStringLiteral("Apply && Restart App"));
    restart->setObjectName(QStringLiteral("restartBtn"));
    restart->setFixedHeight(42);
    // White on the accent where it reads, else dark (light accents).
    const QColor ink = ThemeManager::readableOn(Qt::white, {c.accent});
    restart->setIcon(VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kRestartSvg), 2.0), ink, 13));
    restart->setStyleSheet(QStringLiteral("QPushButton{  background:%1;  color:%5;  border:none;  "
                                          "border-radius:8px;  font-size:13px;  font-weight:700;  "
                                          "letter-spacing:0.3px;}QPushButton:hover{background:%2;}"
                                          "QPushButton:pressed{background:%3;}"
                                          "QPushButton:focus{border:2px solid %4;}")
                               .arg(c.accent.name(), c.accent.lighter(115).name(), c.accentPressed.name(),
                                    c.text.name(), ink.name()));
    connect(restart, &QPushButton::clicked, this, &SettingsDialog::onRestartClicked);
    gl->addWidget(restart);
    auto* status = new QLabel;
    auto fillStatus = [status] {
        status->setText(
            QStringLiteral("Current: %1  |  Buffer: %2  |  Preload: %3")
                .arg(SettingsKeys::readString(SettingsKeys::AudioEngine, QStringLiteral("wasapi_shared")))
                .arg(SettingsKeys::readInt(SettingsKeys::AudioBuffer, kDefaultBuffer))
                .arg(SettingsKeys::readBool(SettingsKeys::AudioPreload, true) ? QStringLiteral("ON")
                                                                              : QStringLiteral("OFF")));
    };
    fillStatus();
    connect(this, &SettingsDialog::settingsChanged, status, fillStatus);
    status->setObjectName(QStringLiteral("audioStatusLabel"));
    status->setStyleSheet(QStringLiteral("font-size:10px;color:") + readableInk(c, c.textMuted).name()
                          + QStringLiteral(";background:transparent;"));
    gl->addWidget(status);
    v->addWidget(g);
}

void SettingsDialog::onRestartClicked()
{
    // A device missing just now stays stored unless the user chose another row.
    const QString device =
        (storedDeviceMissing && !deviceChosen) ? storedDevice : deviceCombo->currentData().toString();
    {
        AppSettings s;
        s.setValue(SettingsKeys::AudioDevice, device);
        s.setValue(SettingsKeys::AudioBuffer, bufferCombo->currentData().toInt());
        s.setValue(SettingsKeys::AudioPreload, preloadCheck->isChecked());
        s.sync();
        if (s.status() != QSettings::NoError || !s.isWritable()) {
            warnNoRestart(this, QStringLiteral("The audio settings could not be saved: the settings file cannot be "
                                               "written."));
            return;
        }
    }

    auto* ask = new QMessageBox(this);
    ask->setWindowTitle(QStringLiteral("Restart Required"));
    ask->setText(QStringLiteral("<b>Apply audio settings and restart?</b>"));
    ask->setInformativeText(
        QStringLiteral("The app will close and reopen automatically.\nYour session and all buttons will be preserved."));
    ask->setIcon(QMessageBox::Question);
    ask->setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
    ask->setDefaultButton(QMessageBox::Yes);
    ask->button(QMessageBox::Yes)->setText(QStringLiteral("  Restart Now  "));
    ask->button(QMessageBox::Cancel)->setText(QStringLiteral("  Cancel  "));
    if (Modal::execBox(ask) != QMessageBox::Yes)
        return;

    if (!SessionManager::instance()->saveSession(QString())) {
        warnNoRestart(this, QStringLiteral("The session was not saved, so the app was not restarted."));
        return;
    }

    const QString program = QCoreApplication::applicationFilePath();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    accept();
    restartStep(kRestartStopMs, [program, arguments] {
        AudioEngine::instance()->stopAll();
        WasapiEngine::instance()->stopAll();
        DrumEngine::instance()->stopAll();
        PcmPlayer::instance()->stopAll();
        restartStep(kRestartStartMs, [program, arguments] {
            if (!startProgram(program, arguments)) {
                warnNoRestart(nullptr, QStringLiteral("The app could not be started again:\n") + program);
                return;
            }
            restartStep(kRestartQuitMs, [] { quitProgram(); });
        });
    });
}
