#include "GridHeader.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "Modal.h"
#include "ScreenFit.h"
#include "ThemeFollow.h"
#include "MenuHeading.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

// The longest name the device chooser shows.
constexpr int kDeviceChars = 30;

const char* const kSpeakerPaths =
    "<path d='M11 5 6 9H2v6h4l5 4V5z'/><path d='M15.5 8.5a5 5 0 0 1 0 7'/><path d='M18.4 5.6a9 9 0 0 1 0 12.8'/>";
const char* const kStopSquare =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24'>"
    "<rect x='5' y='5' width='14' height='14' rx='2.5' fill='currentColor'/></svg>";
// An outlined cog: hub, ring and eight teeth.
const char* const kGearPaths =
    "<circle cx='12' cy='12' r='2.6'/><circle cx='12' cy='12' r='6.2'/>"
    "<path d='M12 2.5v3.3M12 18.2v3.3M2.5 12h3.3M18.2 12h3.3M5.3 5.3l2.3 2.3M16.4 16.4l2.3 2.3"
    "M5.3 18.7l2.3-2.3M16.4 7.6l2.3-2.3'/>";

// The pane's title: a name longer than its room ends in "…", and the whole
// name is then in the tool tip. The label's text stays the whole name.
class PaneTitleLabel : public QLabel
{
public:
    using QLabel::QLabel;

    bool isElided() const { return fontMetrics().horizontalAdvance(text()) > contentsRect().width(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QStyleOption opt;
        opt.initFrom(this);
        style()->drawPrimitive(QStyle::PE_Widget, &opt, &p, this);
        const QRect r = contentsRect();
        style()->drawItemText(&p, r, int(alignment()) | Qt::TextSingleLine, palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideRight, r.width()), foregroundRole());
        // Every paint follows a new name or a new width: the tip follows both.
        setToolTip(isElided() ? text() : QString());
    }
};

struct FadePreset
{
    const char* label;
    double ms;
};

const QList<FadePreset>& fadeOpts()
{
    static const QList<FadePreset> opts = {
        {"No fade", 0},  {"0.1s", 100},  {"0.2s", 200}, {"0.3s", 300},  {"0.4s", 400}, {"0.5s", 500},
        {"1s", 1000},    {"1.5s", 1500}, {"2s", 2000},  {"2.5s", 2500}, {"3s", 3000},
    };
    return opts;
}

// "rgba(r,g,b,...)" style sheets of the Stop Tab button take the accent's three
// channels and its name, filled in that order.
QString withAccent(QString tmpl)
{
    const QColor a = ThemeManager::instance()->colors().accent;
    return tmpl.arg(a.red()).arg(a.green()).arg(a.blue()).arg(a.name());
}

// The Stop button's look while its tab is silent.
QString idleStopSheet()
{
    return withAccent(QStringLiteral(
        "QPushButton{background:rgba(%1,%2,%3,0.12);color:%4;border:1px solid rgba(%1,%2,%3,0.7);border-radius:5px;"
        "padding:0;}QPushButton:hover{background:rgba(%1,%2,%3,0.30);border-color:%4;}"
        "QPushButton:pressed{background:rgba(%1,%2,%3,0.45);}"));
}

QString speakerSvg() { return VXIcons::strokeSvg(QString::fromLatin1(kSpeakerPaths), 2.0); }

QString colorOrAccent(const QColor& c)
{
    return c.isValid() ? c.name() : ThemeManager::instance()->colors().accent.name();
}

} // namespace

void GridHeader::setDeviceLister(DeviceLister lister) { OutputChoices::setLister(std::move(lister)); }

QList<GridHeader::AudioOutput> GridHeader::outputDevices() { return OutputChoices::outputs(); }

QString GridHeader::deviceItemText(const QString& description)
{
    return OutputChoices::cut(description, kDeviceChars);
}

GridHeader::GridHeader(const QString& tabName, const QColor& tabColor, QWidget* parent)
    : QWidget(parent), m_tabColor(tabColor)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    setObjectName(QStringLiteral("gridHeader"));
    setMinimumHeight(40);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 2, 0, 0);
    outer->setSpacing(0);

    auto* bar = new QWidget(this);
    bar->setFixedHeight(sc(36));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setStyleSheet(QStringLiteral("QWidget{background:transparent;}"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(sc(4), sc(2), sc(4), sc(2));
    row->setSpacing(sc(4));

    m_dot = new QLabel(bar);
    m_dot->setFixedSize(sc(12), sc(12));
    // Qt style sheets know no box-shadow: it would only add a warning per polish.
    m_dot->setStyleSheet(QStringLiteral("background:%1;border-radius:6px;").arg(colorOrAccent(m_tabColor)));
    row->addWidget(m_dot, 0);

    m_nameLabel = new PaneTitleLabel(tabName, bar);
    m_nameLabel->setObjectName(QStringLiteral("gridHeaderName"));
    m_nameLabel->setMinimumWidth(sc(40));
    m_nameLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_nameLabel->setTextFormat(Qt::PlainText);
    m_nameLabel->setStyleSheet(QStringLiteral("color:%1;font-size:12px;font-weight:700;letter-spacing:0.1px;")
                                   .arg(tc.text.name()));
    row->addWidget(m_nameLabel, 1);

    m_stopBtn = new QPushButton(bar);
    m_stopBtn->setFixedSize(sc(26), sc(26));
    followTheme(m_stopBtn, [btn = m_stopBtn](const ThemeColors& c) {
        btn->setIcon(VXIcons::svgIconRawColored(QString::fromLatin1(kStopSquare), c.accent, 14, 14));
    });
    m_stopBtn->setIconSize(QSize(14, 14));
    m_stopBtn->setText(QString());
    m_stopBtn->setStyleSheet(idleStopSheet());
    m_stopBtn->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_stopBtn, &QPushButton::clicked, this, &GridHeader::stopClicked);
    connect(m_stopBtn, &QWidget::customContextMenuRequested, this, &GridHeader::showStopMenu);
    row->addWidget(m_stopBtn, 0);

    m_volWrap = new QWidget(bar);
    m_volWrap->setObjectName(QStringLiteral("volWrap"));
    m_volWrap->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto* volRow = new QHBoxLayout(m_volWrap);
    volRow->setContentsMargins(sc(3), sc(2), sc(3), sc(2));
    volRow->setSpacing(sc(3));
    auto* speaker = new QLabel(m_volWrap);
    followTheme(speaker, [speaker](const ThemeColors& c) {
        speaker->setPixmap(VXIcons::modernPixmap(speakerSvg(), c.text, 14));
        speaker->setStyleSheet(QStringLiteral("color:%1;font-size:9px;").arg(c.textSecondary.name()));
    });
    speaker->setFixedWidth(sc(14));
    volRow->addWidget(speaker);

    m_volSlider = new QSlider(Qt::Horizontal, m_volWrap);
    m_volSlider->setRange(0, 100);
    m_volSlider->setValue(100);
    m_volSlider->setMinimumWidth(sc(30));
    m_volSlider->setMaximumWidth(sc(58));
    m_volSlider->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_volSlider->setFixedHeight(sc(14));
    followTheme(m_volSlider, [slider = m_volSlider](const ThemeColors& c) {
        slider->setStyleSheet(
            QStringLiteral("QSlider::groove:horizontal{height:3px;border-radius:1px;background:%1;}"
                           "QSlider::handle:horizontal{width:11px;height:11px;margin:-4px 0;border-radius:5px;"
                           "background:%2;border:2px solid %3;}"
                           "QSlider::sub-page:horizontal{background:%2;border-radius:1px;}")
                .arg(c.border.name(), c.accent.name(), c.surface.name()));
    });
    m_volSlider->setContextMenuPolicy(Qt::CustomContextMenu);
    volRow->addWidget(m_volSlider);

    m_volLabel = new QLabel(QStringLiteral("100%"), m_volWrap);
    followTheme(m_volLabel, [label = m_volLabel](const ThemeColors& c) {
        label->setStyleSheet(
            QStringLiteral("color:%1;font-size:9px;font-weight:600;min-width:28px;").arg(c.textSecondary.name()));
    });
    m_volLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    volRow->addWidget(m_volLabel);
    connect(m_volSlider, &QSlider::valueChanged, this, [this](int v) {
        m_volLabel->setText(QStringLiteral("%1%").arg(v));
        emit volumeChanged(v / 100.0);
    });
    connect(m_volSlider, &QWidget::customContextMenuRequested, this, &GridHeader::showVolumeMenu);
    row->addWidget(m_volWrap, 0);

    m_fadeBtn = new QPushButton(bar);
    m_fadeBtn->setObjectName(QStringLiteral("gridHeaderBtn"));
    m_fadeBtn->setFixedHeight(sc(20));
    m_fadeBtn->setMinimumWidth(sc(52));
    m_fadeBtn->setMaximumWidth(sc(100));
    m_fadeBtn->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    updateFadeLabel();
    connect(m_fadeBtn, &QPushButton::clicked, this, &GridHeader::onFadeBtnClicked);
    row->addWidget(m_fadeBtn);

    m_deviceCombo = new OutputChooser(bar);
    m_deviceCombo->setObjectName(QStringLiteral("gridHeaderCombo"));
    m_deviceCombo->setFixedHeight(sc(20));
    m_deviceCombo->setMinimumWidth(sc(60));
    m_deviceCombo->setMaximumWidth(sc(160));
    m_deviceCombo->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_deviceCombo->view()->setFrameShape(QFrame::NoFrame);
    m_deviceCombo->addItem(QStringLiteral("Default"), QString());
    m_deviceCombo->addOutputs(OutputChoices::outputs(), kDeviceChars);
    ScreenFit::showAllEntries(m_deviceCombo);
    followTheme(m_deviceCombo, [combo = m_deviceCombo](const ThemeColors& c) {
        const QIcon speakerIcon = VXIcons::modern(speakerSvg(), c.text, 13);
        for (int i = 0; i < combo->count(); ++i)
            combo->setItemIcon(i, speakerIcon);
    });
    connect(m_deviceCombo, &QComboBox::currentIndexChanged, this,
            [this](int) { emit deviceChanged(m_deviceCombo->currentData().toString()); });
    row->addWidget(m_deviceCombo);

    m_tabCombo = new QComboBox(bar);
    m_tabCombo->setObjectName(QStringLiteral("gridHeaderCombo"));
    m_tabCombo->setFixedHeight(sc(20));
    m_tabCombo->setMinimumWidth(sc(50));
    m_tabCombo->setMaximumWidth(sc(120));
    m_tabCombo->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(m_tabCombo, &QComboBox::currentIndexChanged, this, &GridHeader::tabSwitchRequested);
    row->addWidget(m_tabCombo);

    m_gearBtn = new QPushButton(bar);
    m_gearBtn->setObjectName(QStringLiteral("gridHeaderGearBtn"));
    m_gearBtn->setFixedSize(sc(28), sc(28));
    m_gearBtn->setToolTip(QStringLiteral("Playback Settings (AS / RS / CTS)"));
    m_gearBtn->setCursor(Qt::PointingHandCursor);
    styleGearButton();
    connect(m_gearBtn, &QPushButton::clicked, this, &GridHeader::playbackSettingsRequested);
    row->addWidget(m_gearBtn);

    outer->addWidget(bar);
    setFixedHeight(sc(36));
    setMinimumWidth(0);
}

void GridHeader::styleGearButton()
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    m_gearBtn->setIcon(VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kGearPaths), 2.0), tc.text, 18));
    m_gearBtn->setIconSize(QSize(18, 18));
    m_gearBtn->setStyleSheet(QStringLiteral("QPushButton#gridHeaderGearBtn{  background:%1;  border:1px solid %2;  "
                                            "border-radius:6px;  padding:0;}QPushButton#gridHeaderGearBtn:hover{  "
                                            "background:%3;  border-color:%4;}QPushButton#gridHeaderGearBtn:pressed{"
                                            "  background:%4;}")
                                 .arg(tc.surfaceAlt.name(), tc.border.name(), tc.surfaceHover.name(),
                                      tc.accent.name()));
}

void GridHeader::setTabName(const QString& name) { m_nameLabel->setText(name); }

void GridHeader::setTabList(const QStringList& names, int current)
{
    const bool was = m_tabCombo->blockSignals(true);
    m_tabCombo->clear();
    m_tabCombo->addItems(names);
    // Clamped by hand: an empty list must not reach qBound with max below min.
    m_tabCombo->setCurrentIndex(names.isEmpty() ? -1 : std::clamp(current, 0, int(names.size()) - 1));
    m_tabCombo->setVisible(names.size() >= 2);
    m_tabCombo->blockSignals(was);
}

void GridHeader::setCurrentDevice(const QString& deviceId)
{
    const bool was = m_deviceCombo->blockSignals(true);
    int found = 0;
    for (int i = 0; i < m_deviceCombo->count(); ++i) {
        if (m_deviceCombo->itemData(i).toString() == deviceId) {
            found = i;
            break;
        }
    }
    m_deviceCombo->setCurrentIndex(found);
    m_deviceCombo->blockSignals(was);
}

void GridHeader::setTabColor(const QColor& color)
{
    m_tabColor = color;
    m_dot->setStyleSheet(QStringLiteral("background:%1;border-radius:5px;border:none;").arg(colorOrAccent(color)));
}

void GridHeader::setPlaying(bool playing)
{
    if (playing) {
        m_stopBtn->setStyleSheet(withAccent(QStringLiteral(
            "QPushButton{background:rgba(%1,%2,%3,0.35);color:%4;border:1px solid %4;border-radius:5px;font-size:8px;"
            "padding:0;}QPushButton:hover{background:rgba(%1,%2,%3,0.55);}")));
    } else {
        m_stopBtn->setStyleSheet(withAccent(QStringLiteral(
            "QPushButton{background:rgba(%1,%2,%3,0.12);color:%4;border:1px solid rgba(%1,%2,%3,0.7);"
            "border-radius:5px;font-size:8px;padding:0;}QPushButton:hover{background:rgba(%1,%2,%3,0.30);}")));
    }
}

void GridHeader::setFadeMs(double ms)
{
    m_fadeMs = ms;
    updateFadeLabel();
}

double GridHeader::volume() const { return m_volSlider->value() / 100.0; }

void GridHeader::updateFadeLabel()
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const bool hasFade = m_fadeMs > 0;
    m_fadeBtn->setText(hasFade ? QStringLiteral("%1s  ▾").arg(m_fadeMs / 1000.0, 0, 'g', 2)
                               : QStringLiteral("No fade  ▾"));
    m_fadeBtn->setStyleSheet(
        QStringLiteral("QPushButton{  background:%1;color:%2;  border:1px solid %3;border-radius:4px;  "
                       "font-size:9px;padding:0 6px 0 5px;text-align:left;}QPushButton:hover{background:%4;"
                       "border-color:%5;color:%6;}QPushButton:pressed{background:%1;}")
            .arg(tc.surface.name(), (hasFade ? tc.text : tc.textSecondary).name(), (hasFade ? tc.accent : tc.border).name(),
                 tc.surfaceAlt.name(), tc.borderStrong.name(), tc.text.name()));
}

void GridHeader::onFadeBtnClicked()
{
    QMenu menu(this);
    menu.setStyleSheet(vxMenuSS() + QStringLiteral("QMenu::item:checked{color:%1;font-weight:700;}")
                                        .arg(ThemeManager::instance()->colors().accent.name()));
    for (const FadePreset& opt : fadeOpts()) {
        QAction* a = menu.addAction(QString::fromUtf8(opt.label));
        a->setCheckable(true);
        a->setChecked(std::abs(opt.ms - m_fadeMs) < 1.0);
        const double ms = opt.ms;
        connect(a, &QAction::triggered, this, [this, ms] {
            m_fadeMs = ms;
            updateFadeLabel();
            emit fadeChanged(ms);
        });
    }
    Modal::execMenu(&menu, m_fadeBtn->mapToGlobal(QPoint(0, m_fadeBtn->height() + 6)));
}

void GridHeader::showStopMenu(const QPoint& pos)
{
    QMenu menu(this);
    menu.setStyleSheet(vxMenuSS());
    vxMenuHeading(&menu, QStringLiteral("Tab Stop — Assign Trigger"));
    menu.addAction(QStringLiteral("Assign Keyboard Shortcut"), this, [this] {
        bool ok = false;
        const QString key = Modal::getText(window(), QStringLiteral("Assign Keyboard Shortcut"),
                                           QStringLiteral("Enter shortcut key for Stop Tab\n(e.g. Shift+F1, Alt+1, Alt+S):"),
                                           m_stopKey, &ok);
        if (!ok)
            return;
        m_stopKey = key.trimmed();
        emit stopShortcutChanged(m_stopKey);
    });
    menu.addAction(QStringLiteral("MIDI Learn — Stop Tab"), this, [this] {
        emit midiLearnRequested(QStringLiteral("__tab_stop__"));
        QToolTip::showText(m_stopBtn->mapToGlobal(QPoint(0, -24)), QStringLiteral("Press a MIDI note/pad to assign..."),
                           m_stopBtn, QRect(), 3000);
    });
    if (!m_stopKey.isEmpty() || m_stopMidiNote >= 0) {
        menu.addSeparator();
        if (!m_stopKey.isEmpty()) {
            menu.addAction(QStringLiteral("Clear shortcut  [%1]").arg(m_stopKey), this, [this] {
                m_stopKey.clear();
                emit stopShortcutChanged(QString());
            });
        }
        if (m_stopMidiNote >= 0) {
            menu.addAction(QStringLiteral("Clear MIDI  [note %1]").arg(m_stopMidiNote), this, [this] {
                m_stopMidiNote = -1;
                emit stopMidiNoteChanged(-1);
            });
        }
    }
    Modal::execMenu(&menu, m_stopBtn->mapToGlobal(pos));
}

void GridHeader::showVolumeMenu(const QPoint& pos)
{
    QMenu menu(this);
    menu.setStyleSheet(vxMenuSS());
    vxMenuHeading(&menu, QStringLiteral("Tab Volume — Assign Trigger"));
    menu.addAction(QStringLiteral("MIDI Learn — Volume CC"), this, [this] {
        emit midiLearnRequested(QStringLiteral("__tab_vol__"));
        QToolTip::showText(m_volSlider->mapToGlobal(QPoint(0, -28)),
                           QStringLiteral("Turn a MIDI knob or fader to assign..."), m_volSlider, QRect(), 3000);
    });
    // The key prompts belong to the window, as every other prompt does: a
    // control's own style sheet would reach into a dialog it parents.
    auto askKey = [this](const QString& title, const QString& label, QString* key) {
        bool ok = false;
        const QString text = Modal::getText(window(), title, label, *key, &ok);
        if (!ok)
            return;
        *key = text.trimmed();
        emit volShortcutChanged(m_volUpKey, m_volDnKey);
    };
    menu.addAction(QStringLiteral("Assign Shortcut — Volume Up"), this, [this, askKey] {
        askKey(QStringLiteral("Volume Up Shortcut"),
               QStringLiteral("Key to increase this tab's volume\n(e.g. Ctrl+Up, Alt+PgUp):"), &m_volUpKey);
    });
    menu.addAction(QStringLiteral("Assign Shortcut — Volume Down"), this, [this, askKey] {
        askKey(QStringLiteral("Volume Down Shortcut"),
               QStringLiteral("Key to decrease this tab's volume\n(e.g. Ctrl+Down, Alt+PgDown):"), &m_volDnKey);
    });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Reset to 100%"), this, [this] { m_volSlider->setValue(100); });
    const bool hasKeys = !m_volUpKey.isEmpty() || !m_volDnKey.isEmpty();
    if (m_volCC >= 0 || hasKeys) {
        menu.addSeparator();
        if (m_volCC >= 0) {
            menu.addAction(QStringLiteral("Clear MIDI CC  [CC %1]").arg(m_volCC), this, [this] {
                m_volCC = -1;
                emit volMidiCCChanged(-1);
            });
        }
        if (hasKeys) {
            menu.addAction(QStringLiteral("Clear volume shortcuts"), this, [this] {
                m_volUpKey.clear();
                m_volDnKey.clear();
                emit volShortcutChanged(QString(), QString());
            });
        }
    }
    Modal::execMenu(&menu, m_volSlider->mapToGlobal(pos));
}

void GridHeader::applyTheme()
{
    if (!m_nameLabel || !m_stopBtn || !m_dot || !m_fadeBtn)
        return;
    const ThemeColors& tc = ThemeManager::instance()->colors();
    m_nameLabel->setStyleSheet(QStringLiteral("color:%1;font-size:11px;font-weight:600;").arg(tc.text.name()));
    // The same look a new header has, in the new accent.
    m_stopBtn->setStyleSheet(idleStopSheet());
    m_dot->setStyleSheet(QStringLiteral("background:%1;border-radius:5px;").arg(colorOrAccent(m_tabColor)));
    if (m_gearBtn)
        styleGearButton();
    updateFadeLabel();
}
