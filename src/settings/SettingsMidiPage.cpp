// MIDI: the input devices with a click to open one, a live monitor of notes
// and controllers, and the button and per-tab assignments with removal.
#include "SettingsDialog.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <memory>

#include "MidiManager.h"
#include "SessionManager.h"
#include "SettingsPageKit.h"
#include "VXIcons.h"

using namespace SettingsPageKit;

namespace {

constexpr int kMonitorFrameMs = 33;

const char* const kNoteNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

const char* const kConnectorSvg =
    "<circle cx='12' cy='12' r='9'/><circle cx='8' cy='10' r='1' fill='currentColor' stroke='none'/>"
    "<circle cx='12' cy='8' r='1' fill='currentColor' stroke='none'/>"
    "<circle cx='16' cy='10' r='1' fill='currentColor' stroke='none'/>"
    "<circle cx='9.5' cy='15' r='1' fill='currentColor' stroke='none'/>"
    "<circle cx='14.5' cy='15' r='1' fill='currentColor' stroke='none'/>";
const char* const kRemoveSvg = "<line x1='18' y1='6' x2='6' y2='18'/><line x1='6' y1='6' x2='18' y2='18'/>";

// A label that shows its text as it is: names from devices, sessions and
// files never turn into markup.
QLabel* plainLabel(const QString& text = QString())
{
    auto* l = new QLabel(text);
    l->setTextFormat(Qt::PlainText);
    return l;
}

// Takes every item out of the box's layout; the widgets go later, since a
// rebuild may run inside the click of a button of the row being removed.
void emptyBox(QWidget* box)
{
    QLayout* layout = box->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget())
            w->deleteLater();
        delete item;
    }
}

QScrollArea* rowsArea(QWidget* box, const ThemeColors& c)
{
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);
    auto* area = new QScrollArea;
    area->setWidget(box);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::StyledPanel);
    area->setFixedHeight(140);
    area->setStyleSheet(QStringLiteral("QScrollArea{background:%1;border:1px solid %2;border-radius:4px;}"
                                       "QScrollArea:focus{border-color:%3;}QScrollArea>QWidget>QWidget{background:%1;}")
                            .arg(c.surfaceAlt.name(), c.border.name(), c.accent.name()));
    return area;
}

// An assignment row: its text, taking the spare width, and room after it
// for the row's remove buttons.
QWidget* assignRow(const QString& rowSS, const QString& text)
{
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("assignRow"));
    row->setStyleSheet(rowSS);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(8, 3, 6, 3);
    h->setSpacing(6);
    auto* label = plainLabel(text);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    h->addWidget(label, 1);
    return row;
}

// Ends a list just filled: a placeholder line when it shows no row, then
// the stretch that keeps the rows at the top.
void endRows(QWidget* box, int shown, const QString& noneText, const QString& placeholderSS)
{
    auto* rows = static_cast<QVBoxLayout*>(box->layout());
    if (shown == 0) {
        auto* none = new QLabel(noneText);
        none->setStyleSheet(placeholderSS);
        rows->addWidget(none);
    }
    rows->addStretch();
}

// The refresh button under a list, at the right.
QPushButton* addRefreshButton(QVBoxLayout* layout)
{
    auto* refresh = new QPushButton(QStringLiteral("⟳  Refresh"));
    refresh->setObjectName(QStringLiteral("tgBtn"));
    refresh->setFixedHeight(24);
    layout->addWidget(refresh, 0, Qt::AlignRight);
    return refresh;
}

// The icon of an assignment row's remove buttons, in the text colour of now.
QIcon removeIcon()
{
    return VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kRemoveSvg), 2.4),
                           ThemeManager::instance()->colors().text, 11);
}

} // namespace

QString SettingsDialog::midiNoteName(int note)
{
    // Any int: the pitch class is taken in 0..11, the octave follows.
    const int pitch = ((note % 12) + 12) % 12;
    const int octave = (note - pitch) / 12 - 1;
    return QString::fromLatin1(kNoteNames[pitch]) + QString::number(octave);
}

void SettingsDialog::buildMidiPage()
{
    const ThemeColors c = ThemeManager::instance()->colors();
    MidiManager* midi = MidiManager::instance();
    auto* page = new QWidget;
    QVBoxLayout* v = pageLayout(page, 14);

    const QString rowSS =
        QStringLiteral("QWidget#assignRow{background:%1;border-bottom:1px solid %2;}QLabel{color:%3;font-size:10px;"
                       "font-family:Consolas,monospace;background:transparent;}QPushButton{background:%4;color:%5;"
                       "border:none;border-radius:3px;font-size:9px;font-weight:700;padding:1px 6px;min-width:44px;"
                       "max-height:18px;}QPushButton:hover{background:%6;}QPushButton:pressed{background:%7;}")
            .arg(c.surfaceAlt.name(), c.border.name(), readableInk(c, c.textMuted).name(), c.danger.name(), c.surface.name(),
                 c.danger.lighter(120).name(), c.danger.darker(120).name());
    const QString smallMutedSS = QStringLiteral("color:%1;font-size:10px;").arg(readableInk(c, c.textMuted).name());
    const QString placeholderSS = QStringLiteral("color:%1;font-size:10px;padding:8px;").arg(readableInk(c, c.textMuted).name());

    const std::function<void()> fillDeviceList = buildMidiDevicesSection(v, page, c);
    std::function<void(int, int, int)> showNote;
    std::function<void(int, int, int)> showCc;
    buildMidiMonitorSection(v, c, showNote, showCc);

    // How to learn.
    QGroupBox* learnGroup = makeGroup(QStringLiteral("MIDI Mappings"));
    auto* learnLayout = new QVBoxLayout(learnGroup);
    auto* learn = wrappedLabel(QStringLiteral("MIDI Learn: Right-click any sound button -> \"MIDI Learn\"\nthen press a key "
                                            "or pad on your controller.\nMappings are saved automatically in the "
                                            "program's settings (not in the session file) and kept for every "
                                            "session."),
                               QStringLiteral("color:%1;font-size:11px;").arg(readableInk(c, c.textMuted).name()));
    learn->setObjectName(QStringLiteral("midiLearnNote"));
    learnLayout->addWidget(learn);
    v->addWidget(learnGroup);

    buildMidiButtonsSection(v, c, rowSS, smallMutedSS, placeholderSS);
    buildMidiTabsSection(v, c, rowSS, smallMutedSS, placeholderSS);

    v->addStretch();
    pageStack->addWidget(scrollPage(page));
    connect(midi, &MidiManager::noteReceived, page, showNote);
    connect(midi, &MidiManager::ccReceived, page, showCc);
    connect(midi, &MidiManager::devicesChanged, page, fillDeviceList);
}

// Input devices and the connection line.
std::function<void()> SettingsDialog::buildMidiDevicesSection(QVBoxLayout* v, QWidget* page, const ThemeColors& c)
{
    MidiManager* midi = MidiManager::instance();
    QGroupBox* devGroup = makeGroup(QStringLiteral("MIDI Input Device"));
    auto* devLayout = new QVBoxLayout(devGroup);
    devLayout->setSpacing(8);
    auto* statusRow = new QHBoxLayout;
    auto* statusDot = new QLabel(QStringLiteral("●"));
    statusDot->setObjectName(QStringLiteral("midiStatusDot"));
    statusDot->setFixedSize(14, 14);
    auto* statusLine = plainLabel();
    statusLine->setObjectName(QStringLiteral("midiStatusLine"));
    statusLine->setStyleSheet(QStringLiteral("color:%1;font-size:11px;").arg(readableInk(c, c.textMuted).name()));
    statusRow->addWidget(statusDot, 0);
    statusRow->addWidget(statusLine, 1);
    devLayout->addLayout(statusRow);
    auto updateStatus = [midi, statusDot, statusLine] {
        const ThemeColors now = ThemeManager::instance()->colors();
        if (midi->connected()) {
            statusDot->setStyleSheet(QStringLiteral("color:%1;font-size:10px;").arg(now.success.name()));
            statusLine->setText(QStringLiteral("Connected: %1").arg(midi->currentDevice()));
            statusLine->setStyleSheet(QStringLiteral("color:%1;font-size:11px;").arg(now.success.name()));
        } else {
            statusDot->setStyleSheet(QStringLiteral("color:%1;font-size:10px;").arg(readableInk(now, now.textDisabled).name()));
            statusLine->setText(QStringLiteral("No device connected — select a device below"));
            statusLine->setStyleSheet(
                QStringLiteral("color:%1;font-size:11px;font-style:italic;").arg(readableInk(now, now.textMuted).name()));
        }
    };
    updateStatus();

    auto* devices = new QListWidget;
    devices->setObjectName(QStringLiteral("midiDeviceList"));
    devices->setFrameShape(QFrame::NoFrame);
    devices->setFixedHeight(110);
    devices->setStyleSheet(
        QStringLiteral("QListWidget{background:%1;border:1px solid %2;border-radius:6px;outline:none;}"
                       "QListWidget::item{padding:8px 12px;color:%3;font-size:11px;border-radius:4px;}"
                       "QListWidget::item:selected{background:%4;color:%6;}"
                       "QListWidget::item:hover:!selected{background:%5;}QListWidget:focus{border-color:%4;}")
            .arg(c.surfaceAlt.name(), c.border.name(), c.text.name(), c.accent.name(), c.surfaceHover.name(),
                 ThemeManager::readableOn(Qt::white, {c.accent}).name()));
    auto fillDeviceList = [midi, devices, updateStatus] {
        devices->clear();
        const QStringList names = midi->inputDevices();
        const QString current = midi->currentDevice();
        const ThemeColors now = ThemeManager::instance()->colors();
        if (names.isEmpty()) {
            auto* item = new QListWidgetItem(QStringLiteral("  No MIDI devices detected"));
            item->setForeground(QBrush(readableInk(now, now.textDisabled)));
            item->setFlags(Qt::NoItemFlags);
            devices->addItem(item);
        }
        const QIcon icon = VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kConnectorSvg), 2.0), now.text, 14);
        for (const QString& name : names) {
            auto* item = new QListWidgetItem(icon, name);
            item->setData(Qt::UserRole, name);
            devices->addItem(item);
            if (name == current) {
                item->setSelected(true);
                item->setText(name + QStringLiteral("  ✓"));
            }
        }
        updateStatus();
    };
    fillDeviceList();
    devLayout->addWidget(devices);
    auto* devBottom = new QHBoxLayout;
    auto* clickHint = new QLabel(QStringLiteral("Click a device to connect automatically"));
    clickHint->setStyleSheet(QStringLiteral("color:%1;font-size:10px;").arg(readableInk(c, c.textDisabled).name()));
    devBottom->addWidget(clickHint, 1);
    auto* refreshDevices = new QPushButton(QStringLiteral("Refresh Device List"));
    refreshDevices->setObjectName(QStringLiteral("tgBtn"));
    refreshDevices->setFixedHeight(28);
    devBottom->addWidget(refreshDevices);
    devLayout->addLayout(devBottom);
    connect(devices, &QListWidget::itemClicked, page, [midi, fillDeviceList](QListWidgetItem* item) {
        const QString name = item ? item->data(Qt::UserRole).toString() : QString();
        if (name.isEmpty())
            return;
        // A row may name a device unplugged since the list was filled: the
        // manager opens nothing then.
        midi->openInput(name);
        fillDeviceList();
    });
    connect(refreshDevices, &QPushButton::clicked, page, fillDeviceList);
    v->addWidget(devGroup);
    return fillDeviceList;
}

// Activity monitor.
void SettingsDialog::buildMidiMonitorSection(QVBoxLayout* v, const ThemeColors& c,
                                             std::function<void(int, int, int)>& onNote,
                                             std::function<void(int, int, int)>& onCc)
{
    QGroupBox* monGroup = makeGroup(QStringLiteral("MIDI Activity Monitor"));
    auto* monLayout = new QVBoxLayout(monGroup);
    monLayout->setSpacing(6);
    const QString idleSS = QStringLiteral("color:%1;font-size:18px;").arg(readableInk(c, c.textDisabled).name());
    const QString noteSS = QStringLiteral("color:%1;font-size:18px;").arg(c.success.name());
    const QString ccSS = QStringLiteral("color:%1;font-size:18px;").arg(c.warning.name());
    auto* monRow = new QHBoxLayout;
    auto* monDot = new QLabel(QStringLiteral("●"));
    monDot->setObjectName(QStringLiteral("midiMonitorDot"));
    monDot->setStyleSheet(idleSS);
    monDot->setFixedSize(20, 20);
    auto* monLine = new QLabel(QStringLiteral("No MIDI received"));
    monLine->setObjectName(QStringLiteral("midiMonitorLine"));
    monLine->setStyleSheet(
        QStringLiteral("color:%1;font-size:11px;font-family:Consolas,monospace;").arg(readableInk(c, c.textMuted).name()));
    monRow->addWidget(monDot, 0);
    monRow->addWidget(monLine, 1);
    monLayout->addLayout(monRow);
    auto* cells = new QGridLayout;
    cells->setSpacing(8);
    std::array<QLabel*, 4> values = {};
    const char* captions[4] = {"CHANNEL", "NOTE", "VELOCITY", "CC"};
    for (int i = 0; i < 4; ++i) {
        auto* caption = new QLabel(QString::fromLatin1(captions[i]));
        caption->setStyleSheet(QStringLiteral("color:%1;font-size:9px;font-weight:700;letter-spacing:0.5px;")
                                   .arg(readableInk(c, c.textDisabled).name()));
        auto* value = new QLabel(QStringLiteral("—"));
        value->setObjectName(QStringLiteral("midiCell%1").arg(i));
        value->setAlignment(Qt::AlignCenter);
        value->setFixedHeight(36);
        value->setStyleSheet(QStringLiteral("background:%1;color:%2;border:1px solid %3;border-radius:4px;"
                                            "font-size:13px;font-family:Consolas,monospace;font-weight:700;"
                                            "padding:4px;")
                                 .arg(c.surfaceAlt.name(), c.text.name(), c.border.name()));
        cells->addWidget(caption, 0, i);
        cells->addWidget(value, 1, i);
        values[i] = value;
    }
    monLayout->addLayout(cells);
    v->addWidget(monGroup);
    // Each message starts its own reset of the dot; none is restarted.
    // A style sheet costs a restyle: it is set only when the look changes,
    // so a fader's stream of controller messages stays cheap.
    auto setLook = [monDot](const QString& look) {
        if (monDot->styleSheet() != look)
            monDot->setStyleSheet(look);
    };
    auto flash = [monDot, idleSS, setLook](const QString& look) {
        setLook(look);
        auto* reset = new QTimer(monDot);
        reset->setObjectName(QStringLiteral("midiDotReset"));
        reset->setSingleShot(true);
        reset->setInterval(200);
        connect(reset, &QTimer::timeout, monDot, [setLook, reset, idleSS] {
            setLook(idleSS);
            reset->deleteLater();
        });
        reset->start();
    };
    // The texts of the last message reach the labels at most once a frame: a
    // text change relayouts the page, and a fader sends a stream of
    // controller messages that must not hold up the presses behind them.
    struct Shown
    {
        QString cells[4];
        QString line;
    };
    auto pending = std::make_shared<Shown>();
    auto* flush = new QTimer(monDot);
    flush->setObjectName(QStringLiteral("midiMonitorFlush"));
    flush->setSingleShot(true);
    flush->setInterval(kMonitorFrameMs);
    connect(flush, &QTimer::timeout, monDot, [pending, values, monLine] {
        for (int i = 0; i < 4; ++i)
            if (values[i]->text() != pending->cells[i])
                values[i]->setText(pending->cells[i]);
        monLine->setText(pending->line);
    });
    auto show = [pending, flush](const QString& ch, const QString& note, const QString& vel, const QString& cc,
                                 const QString& line) {
        *pending = Shown{{ch, note, vel, cc}, line};
        if (!flush->isActive())
            flush->start();
    };
    auto showNote = [=](int channel, int note, int velocity) {
        flash(noteSS);
        const QString name = midiNoteName(note);
        show(QString::number(channel), QStringLiteral("%1\n(%2)").arg(note).arg(name), QString::number(velocity),
             QStringLiteral("—"),
             velocity <= 0 ? QStringLiteral("Note OFF — Ch%1  %2").arg(channel).arg(name)
                           : QStringLiteral("Note ON — Ch%1  %2  vel:%3").arg(channel).arg(name).arg(velocity));
    };
    auto showCc = [=](int channel, int cc, int value) {
        flash(ccSS);
        show(QString::number(channel), QStringLiteral("—"), QString::number(value), QString::number(cc),
             QStringLiteral("CC %1 = %2  on Ch%3").arg(cc).arg(value).arg(channel));
    };
    onNote = showNote;
    onCc = showCc;
}

// Sound buttons with a mapping.
void SettingsDialog::buildMidiButtonsSection(QVBoxLayout* v, const ThemeColors& c, const QString& rowSS,
                                             const QString& smallMutedSS, const QString& placeholderSS)
{
    MidiManager* midi = MidiManager::instance();
    QGroupBox* btnGroup = makeGroup(QStringLiteral("Cart Button MIDI Mappings"));
    auto* btnLayout = new QVBoxLayout(btnGroup);
    btnLayout->setSpacing(4);
    auto* btnNote = wrappedLabel(QStringLiteral("Every sound button currently mapped to a MIDI note. Remove an assignment "
                                              "here, or right-click the button itself → \"Clear MIDI Assignment\"."),
                                 smallMutedSS);
    btnLayout->addWidget(btnNote);
    auto* btnBox = new QWidget;
    btnBox->setObjectName(QStringLiteral("midiButtonRows"));
    btnLayout->addWidget(rowsArea(btnBox, c));
    auto rebuildButtonRows = [this, midi, btnBox, rowSS, placeholderSS] {
        emptyBox(btnBox);
        QHash<QString, QString> labels;
        for (const TabData& t : SessionManager::instance()->session().tabs) {
            for (const ButtonData& b : t.buttons) {
                QString label = b.name;
                if (label.isEmpty())
                    label = QFileInfo(b.audioPath).completeBaseName();
                if (label.isEmpty())
                    label = b.id;
                labels.insert(b.id, label);
            }
        }
        int shown = 0;
        for (const MidiMapping& m : midi->allMappings()) {
            const QString id = m.buttonId;
            if (id.isEmpty() || id.startsWith(QLatin1String("__")) || !labels.contains(id))
                continue;
            QWidget* row = assignRow(
                rowSS, QStringLiteral("\"%1\"  —  Note %2 / Ch %3").arg(labels.value(id)).arg(m.number).arg(m.channel));
            auto* remove = new QPushButton(removeIcon(), QStringLiteral("Remove"));
            connect(remove, &QPushButton::clicked, btnBox, [this, midi, id] {
                midi->removeMapping(id);
                emit settingsChanged();
            });
            row->layout()->addWidget(remove);
            btnBox->layout()->addWidget(row);
            ++shown;
        }
        endRows(btnBox, shown, QStringLiteral("  No sound buttons with MIDI assignments"), placeholderSS);
    };
    rebuildButtonRows();
    connect(addRefreshButton(btnLayout), &QPushButton::clicked, btnBox, rebuildButtonRows);
    connect(this, &SettingsDialog::settingsChanged, btnBox, rebuildButtonRows);
    connect(midi, &MidiManager::mappingChanged, btnBox, rebuildButtonRows);
    v->addWidget(btnGroup);
}

// Per-tab stop and volume assignments, from the session.
void SettingsDialog::buildMidiTabsSection(QVBoxLayout* v, const ThemeColors& c, const QString& rowSS,
                                          const QString& smallMutedSS, const QString& placeholderSS)
{
    MidiManager* midi = MidiManager::instance();
    QGroupBox* tabGroup = makeGroup(QStringLiteral("Quick Assign — Per-Tab Controls"));
    auto* tabLayout = new QVBoxLayout(tabGroup);
    tabLayout->setSpacing(4);
    auto* tabNote = wrappedLabel(QStringLiteral("Right-click the ■ Stop or VOL slider on each tab to assign MIDI or keyboard "
                                              "shortcut.\nCurrent assignments are shown below (read-only summary):"),
                                 smallMutedSS);
    tabLayout->addWidget(tabNote);
    auto* tabBox = new QWidget;
    tabBox->setObjectName(QStringLiteral("midiTabRows"));
    tabLayout->addWidget(rowsArea(tabBox, c));
    // Clears one per-tab assignment of tab i; a stale index does nothing.
    auto removeTabAssignment = [this, midi](int i, bool stop) {
        Session& s = SessionManager::instance()->session();
        if (i < 0 || i >= s.tabs.size())
            return;
        if (stop) {
            s.tabs[i].stopMidi = -1;
            s.tabs[i].stopKey.clear();
        } else {
            s.tabs[i].volCC = -1;
        }
        midi->removeMapping((stop ? QStringLiteral("__tab_stop_%1__") : QStringLiteral("__tab_vol_%1__")).arg(i));
        SessionManager::instance()->markDirty();
        emit settingsChanged();
    };
    auto rebuildTabRows = [tabBox, rowSS, placeholderSS, removeTabAssignment] {
        emptyBox(tabBox);
        const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
        int shown = 0;
        for (int i = 0; i < tabs.size(); ++i) {
            const TabData& t = tabs[i];
            const bool hasStop = !t.stopKey.isEmpty() || t.stopMidi >= 0;
            const bool hasVol = t.volCC >= 0;
            if (!hasStop && !hasVol)
                continue;
            QString stopText = QStringLiteral("—");
            if (hasStop) {
                stopText = (t.stopKey.isEmpty() ? QString() : QStringLiteral("[") + t.stopKey + QStringLiteral("] "))
                    + (t.stopMidi >= 0 ? QStringLiteral("MIDI note %1").arg(t.stopMidi) : QString());
            }
            const QString volText = hasVol ? QStringLiteral("MIDI CC %1").arg(t.volCC) : QStringLiteral("—");
            QWidget* row =
                assignRow(rowSS, QStringLiteral("Tab %1  —  Stop: %2   Vol: %3").arg(i + 1).arg(stopText, volText));
            if (hasStop) {
                auto* b = new QPushButton(removeIcon(), QStringLiteral("Stop"));
                connect(b, &QPushButton::clicked, tabBox, [removeTabAssignment, i] { removeTabAssignment(i, true); });
                row->layout()->addWidget(b);
            }
            if (hasVol) {
                auto* b = new QPushButton(removeIcon(), QStringLiteral("Vol"));
                connect(b, &QPushButton::clicked, tabBox, [removeTabAssignment, i] { removeTabAssignment(i, false); });
                row->layout()->addWidget(b);
            }
            tabBox->layout()->addWidget(row);
            ++shown;
        }
        endRows(tabBox, shown, QStringLiteral("  No tabs with MIDI/shortcut assignments"), placeholderSS);
    };
    rebuildTabRows();
    connect(addRefreshButton(tabLayout), &QPushButton::clicked, tabBox, rebuildTabRows);
    connect(this, &SettingsDialog::settingsChanged, tabBox, rebuildTabRows);
    v->addWidget(tabGroup);
}
