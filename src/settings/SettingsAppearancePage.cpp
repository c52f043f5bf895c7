// Appearance: preset cards applied by "Apply Theme", accent swatches, the UI
// font, the button label size and the two button icon switches.
#include "SettingsDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "SettingsKeys.h"
#include "SettingsPageKit.h"
#include "ThemeManager.h"

using namespace SettingsPageKit;

namespace {

struct P
{
    const char* name;
    const char* icon;
    const char* bg;
    const char* fg;
    const char* id;
    ThemeManager::Preset preset;
};

const P kPresetCards[] = {
    {"Default", "⚡", "#1E1E1E", "#F0F0F0", "default", ThemeManager::Dark},
    {"Deep Black", "●", "#000000", "#F0F0F0", "deepblack", ThemeManager::DeepBlack},
    {"Light Blue", "🌙", "#DBEAFE", "#1E3A5F", "lightblue", ThemeManager::LightBlue},
    {"Green", "🌿", "#1A2E1A", "#A0E0A0", "green", ThemeManager::Green},
    {"Red", "🔴", "#2E1A1A", "#E08080", "red", ThemeManager::Red},
    {"Purple", "💜", "#1E1A2E", "#C0A0E0", "purple", ThemeManager::Purple},
    {"Light Classic", "☀", "#F0F0F0", "#111111", "lightclassic", ThemeManager::LightClassic},
    {"Slate", "◆", "#161922", "#F1F2F6", "slate", ThemeManager::Slate},
    {"Navy Orange", "🔶", "#101A2E", "#F4F7FC", "navyorange", ThemeManager::NavyOrange},
};

const char* const kFixedSwatches[] = {"#2196F3", "#4CAF50", "#FF9800", "#9C27B0", "#00BCD4",
                                      "#E91E63", "#FFEB3B", "#6366F1"};

struct FontEntry
{
    const char* label;
    const char* family;
};
const FontEntry kFonts[] = {
    {"Segoe UI (Default)", "Segoe UI"}, {"Arial", "Arial"}, {"Calibri", "Calibri"}, {"Consolas", "Consolas"}};

struct SizeEntry
{
    const char* label;
    int px;
};
const SizeEntry kLabelSizes[] = {{"Default (auto)", 0}, {"Small (10px)", 10}, {"Medium (12px)", 12}, {"Large (14px)", 14}};

const char* const kPendingProp = "pendingThemeId";
const char* const kLiveProp = "liveThemeId";

} // namespace

void SettingsDialog::buildAppearancePage()
{
    const ThemeColors c = ThemeManager::instance()->colors();
    appearanceColors = c;
    auto* page = new QWidget;
    QVBoxLayout* v = pageLayout(page, 14);

    buildThemePresetsSection(v, c);
    buildAccentSection(v, c);
    buildFontSection(v, c);
    buildButtonIconsSection(v);

    v->addStretch();
    pageStack->addWidget(scrollPage(page));
}

// Theme presets: chosen on a card, applied by the button below.
void SettingsDialog::buildThemePresetsSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* presets = makeGroup(QStringLiteral("Theme Presets"));
    auto* grid = new QGridLayout(presets);
    grid->setSpacing(6);
    const QString stored = SettingsKeys::readString(SettingsKeys::AppearancePreset, QStringLiteral("default"));
    setProperty(kPendingProp, stored);
    setProperty(kLiveProp, stored);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);

    auto* apply = new QPushButton(QStringLiteral("🎨  Apply Theme"));
    apply->setObjectName(QStringLiteral("applyThemeBtn"));
    apply->setFixedHeight(34);
    apply->setCursor(Qt::PointingHandCursor);
    apply->setEnabled(false);
    auto* glow = new QGraphicsDropShadowEffect(apply);
    glow->setBlurRadius(0);
    glow->setOffset(0, 0);
    glow->setColor(c.accent);
    apply->setGraphicsEffect(glow);
    auto* pulse = new QPropertyAnimation(glow, "blurRadius", apply);
    pulse->setObjectName(QStringLiteral("applyThemePulse"));
    pulse->setStartValue(6.0);
    pulse->setEndValue(22.0);
    pulse->setDuration(900);
    pulse->setEasingCurve(QEasingCurve::InOutSine);
    pulse->setLoopCount(-1);

    const int cardCount = int(std::size(kPresetCards));
    for (int i = 0; i < cardCount; ++i) {
        const P& p = kPresetCards[i];
        auto* card = new QPushButton(QString::fromUtf8(p.icon) + QStringLiteral("  ") + QString::fromUtf8(p.name));
        card->setObjectName(QStringLiteral("presetCard"));
        card->setCheckable(true);
        card->setChecked(stored == QLatin1String(p.id));
        card->setFixedHeight(36);
        card->setCursor(Qt::PointingHandCursor);
        card->setStyleSheet(
            QStringLiteral("QPushButton{background:%1;color:%2;border:2px solid %3;border-radius:10px;font-size:11px;"
                           "font-weight:600;}QPushButton:checked{border-color:%4;border-width:2px;}"
                           "QPushButton:hover{border-color:%5;}QPushButton:focus{border-style:dashed;"
                           "border-color:%2;}")
                .arg(QLatin1String(p.bg), QLatin1String(p.fg), c.border.name(), c.accent.name(),
                     c.borderStrong.name()));
        group->addButton(card, i);
        grid->addWidget(card, i / 2, i % 2);
        const QString id = QString::fromLatin1(p.id);
        connect(card, &QPushButton::clicked, this, [this, id, apply, pulse, glow] {
            setProperty(kPendingProp, id);
            refreshApplyState(apply, pulse, glow);
        });
    }
    v->addWidget(presets);

    auto* applyRow = new QHBoxLayout;
    auto* hint = wrappedLabel(
        QStringLiteral("Select a theme above, then Apply Theme to switch it instantly — no restart needed."), mutedSS(c));
    applyRow->addWidget(hint, 1);
    applyRow->addWidget(apply, 0);
    v->addLayout(applyRow);
    connect(apply, &QPushButton::clicked, this, [this, apply, pulse, glow] {
        const QString pending = property(kPendingProp).toString();
        for (const P& p : kPresetCards) {
            if (pending != QLatin1String(p.id))
                continue;
            ThemeManager::instance()->applyPreset(p.preset);
            AppSettings s;
            s.setValue(SettingsKeys::AppearancePreset, pending);
            // Start-up re-applies a stored accent over the preset, so the old
            // accent would come back over the new preset.
            s.remove(SettingsKeys::AppearanceAccent);
            s.sync();
            emit settingsChanged();
            break;
        }
        setProperty(kLiveProp, pending);
        setProperty(kPendingProp, pending);
        refreshApplyState(apply, pulse, glow);
        accept();
    });
}

// Accent swatches: the accent in force first, then the fixed colours.
void SettingsDialog::buildAccentSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* accents = makeGroup(QStringLiteral("Accent Color"));
    auto* row = new QHBoxLayout(accents);
    row->setSpacing(6);
    QStringList swatches{c.accent.name()};
    for (const char* hex : kFixedSwatches)
        swatches << QString::fromLatin1(hex);
    for (const QString& hex : std::as_const(swatches)) {
        auto* sw = new QPushButton;
        sw->setObjectName(QStringLiteral("accentSwatch"));
        sw->setFixedSize(32, 32);
        sw->setStyleSheet(QStringLiteral("QPushButton{background:%1;border:2px solid %2;border-radius:16px;}"
                                         "QPushButton:hover{border-color:%3;border-width:2px;}"
                                         "QPushButton:focus{border-color:%4;border-style:dashed;}")
                              .arg(hex, c.border.name(), c.accent.name(), c.text.name()));
        connect(sw, &QPushButton::clicked, this, [this, hex] { applyAccent(hex); });
        row->addWidget(sw);
    }
    row->addStretch();
    v->addWidget(accents);
}

// Font and button label size.
void SettingsDialog::buildFontSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* fonts = makeGroup(QStringLiteral("Font"));
    auto* form = new QFormLayout(fonts);
    form->setSpacing(8);
    fontCombo = new QComboBox;
    fontCombo->setStyleSheet(comboSS(c));
    for (const FontEntry& f : kFonts)
        fontCombo->addItem(QString::fromLatin1(f.label), QString::fromLatin1(f.family));
    const QString family = SettingsKeys::readString(SettingsKeys::AppearanceFont, QStringLiteral("Segoe UI"));
    const int fontRow = fontCombo->findData(family, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (fontRow >= 0)
        fontCombo->setCurrentIndex(fontRow);
    connect(fontCombo, &QComboBox::currentIndexChanged, this, [this] {
        const QString chosen = fontCombo->currentData().toString();
        {
            AppSettings s;
            s.setValue(SettingsKeys::AppearanceFont, chosen);
        }
        ThemeManager::instance()->setFont(chosen, 0);
        emit settingsChanged();
    });
    form->addRow(QStringLiteral("UI Font:"), fontCombo);

    // The label size of buttons that have none of their own; it opens on
    // the size the buttons show.
    btnFontCombo = new QComboBox;
    btnFontCombo->setStyleSheet(comboSS(c));
    for (const SizeEntry& e : kLabelSizes)
        btnFontCombo->addItem(QString::fromLatin1(e.label), e.px);
    const int sizeRow = btnFontCombo->findData(SettingsKeys::readInt(SettingsKeys::AppearanceBtnFontSize));
    if (sizeRow >= 0)
        btnFontCombo->setCurrentIndex(sizeRow);
    connect(btnFontCombo, &QComboBox::currentIndexChanged, this, [this] {
        {
            AppSettings s;
            s.setValue(SettingsKeys::AppearanceBtnFontSize, btnFontCombo->currentData().toInt());
        }
        emit settingsChanged();
    });
    form->addRow(QStringLiteral("Button Label Size:"), btnFontCombo);
    v->addWidget(fonts);
}

// The icons drawn on sound buttons.
void SettingsDialog::buildButtonIconsSection(QVBoxLayout* v)
{
    QGroupBox* icons = makeGroup(QStringLiteral("Button Icons"));
    auto* iconLayout = new QVBoxLayout(icons);
    iconLayout->setSpacing(8);
    auto toggleRow = [&](const QString& key, const QString& text) {
        auto* rowWidget = new QWidget;
        auto* h = new QHBoxLayout(rowWidget);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(10);
        auto* box = new QCheckBox;
        box->setObjectName(QStringLiteral("toggleSwitch"));
        box->setProperty("settingsKey", key);
        box->setChecked(SettingsKeys::readBool(key, true));
        applyToggleStyle(box);
        auto* label = new QLabel(text);
        label->setStyleSheet(QStringLiteral("font-size:12px;font-weight:500;"));
        h->addWidget(box);
        h->addWidget(label);
        h->addStretch();
        iconLayout->addWidget(rowWidget);
        connect(box, &QCheckBox::toggled, this, [this, key](bool on) {
            {
                AppSettings s;
                s.setValue(key, on);
            }
            emit settingsChanged();
        });
    };
    toggleRow(SettingsKeys::AppearanceShowLoopIcon, QStringLiteral("Show Loop icon (↻) on buttons"));
    toggleRow(SettingsKeys::AppearanceShowScissorIcon, QStringLiteral("Show Scissors/Trim icon (✂) on buttons"));
    v->addWidget(icons);
}

void SettingsDialog::refreshApplyState(QPushButton* apply, QPropertyAnimation* pulse,
                                       QGraphicsDropShadowEffect* glow)
{
    const ThemeColors& c = appearanceColors;
    const QString live = property(kLiveProp).toString();
    const QString pending = property(kPendingProp).toString();
    apply->setEnabled(pending != live);
    if (pending != live) {
        apply->setStyleSheet(
            QStringLiteral("QPushButton{background:%1;color:#ffffff;border:2px solid %1;border-radius:9px;"
                           "font-size:12px;font-weight:700;}QPushButton:hover{background:%2;}"
                           "QPushButton:pressed{background:%3;}")
                .arg(c.accent.name(), c.accent.lighter(115).name(), c.accent.darker(115).name()));
        pulse->setDirection(QAbstractAnimation::Forward);
        if (pulse->state() != QAbstractAnimation::Running)
            pulse->start();
    } else {
        apply->setStyleSheet(QStringLiteral("QPushButton{background:%1;color:%2;border:2px solid %3;"
                                            "border-radius:9px;font-size:12px;font-weight:700;}")
                                 .arg(c.surfaceAlt.name(), readableInk(c, c.textMuted).name(), c.border.name()));
        pulse->stop();
        glow->setBlurRadius(0);
    }
}

void SettingsDialog::applyAccent(const QString& hex)
{
    const QColor colour = QColor::fromString(hex);
    ThemeManager::instance()->setAccentColor(colour, colour.darker(130));
    {
        AppSettings s;
        s.setValue(SettingsKeys::AppearanceAccent, hex);
    }
    emit settingsChanged();
}
