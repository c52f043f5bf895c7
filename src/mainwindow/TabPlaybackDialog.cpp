#include "TabPlaybackDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "OutputChoices.h"
#include "OutputChooser.h"
#include "ScreenFit.h"
#include "ThemeManager.h"

namespace {

const char* const kDialogSS =
    "QDialog{background:%1;}QLabel{color:%2;background:transparent;}"
    "QCheckBox{color:%2;spacing:12px;font-size:11px;background:transparent;}"
    "QGroupBox{color:%6;border:1px solid %3;border-radius:6px;margin-top:16px;padding:12px 10px 10px 10px;"
    "font-size:10px;font-weight:700;}"
    "QGroupBox::title{subcontrol-origin:margin;left:10px;padding:0 5px;}"
    "QComboBox{background:%4;color:%2;border:1px solid %3;border-radius:5px;padding:4px 8px;font-size:11px;}"
    "QComboBox QAbstractItemView{background:%4;color:%2;border:1px solid %3;}"
    "QPushButton{background:%4;color:%2;border:1px solid %3;border-radius:6px;padding:6px 18px;font-size:11px;}"
    "QPushButton:hover{background:%7;}"
    "QPushButton#applyBtn{background:%5;color:%9;border-color:%8;font-weight:700;}"
    "QPushButton#applyBtn:hover{background:%8;color:%10;}";

constexpr int kDeviceChars = 40;

QLabel* plainLabel(const QString& text, const QString& style, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setText(text);
    l->setStyleSheet(style);
    return l;
}

// A user's text in a widget that reads "&" as a shortcut marker.
QString literal(const QString& text)
{
    QString out = text;
    return out.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The dialog's texts stand on its surface, on the groups' shading from the
// surface to the window ground and on the raised surface of their titles:
// each ink reads on all of them.
QString inkOn(const QColor& ink)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    return ThemeManager::readableOn(ink, {tc.surface, tc.bg, tc.surfaceAlt}).name();
}

QString mutedInk()
{
    return inkOn(ThemeManager::instance()->colors().textMuted);
}

// A tab's own colour as the ink of its name.
QString tabColorName(const TabData& t)
{
    return inkOn(t.color.isValid() ? t.color : ThemeManager::instance()->colors().accent);
}

} // namespace

QString TabPlaybackDialog::rulesText(const TabData& t)
{
    if (!t.useTabPb)
        return QStringLiteral("Global");
    QStringList on;
    if (t.pb_as)
        on << QStringLiteral("AS");
    if (t.pb_rs)
        on << QStringLiteral("RS");
    if (t.pb_cts)
        on << QStringLiteral("CTS");
    return on.isEmpty() ? QStringLiteral("Custom (none)") : on.join(QStringLiteral(" + "));
}

QList<TabPlaybackDialog::OutputCell> TabPlaybackDialog::outputCells(const QList<TabData>& tabs,
                                                                     const QList<OutputChoices::Output>& listed)
{
    const QString defaultText = QStringLiteral("Default");
    // The listed outputs, then each output a tab names that is not listed,
    // by its id: all named apart from each other and from "Default".
    QList<OutputChoices::Output> outputs = listed;
    const qsizetype listedCount = outputs.size();
    QHash<QString, qsizetype> at;
    for (qsizetype i = 0; i < outputs.size(); ++i)
        at.insert(QString::fromUtf8(outputs.at(i).id), i);
    for (const TabData& t : tabs) {
        if (t.soundCard.isEmpty() || at.contains(t.soundCard))
            continue;
        at.insert(t.soundCard, outputs.size());
        outputs.append({t.soundCard, t.soundCard.toUtf8()});
    }
    // As long as the device chooser's rows, which read apart at that length.
    const QStringList names = OutputChoices::names(outputs, kDeviceChars, {defaultText});
    QList<OutputCell> cells;
    for (const TabData& t : tabs) {
        if (t.soundCard.isEmpty()) {
            cells.append({defaultText, QString()});
            continue;
        }
        const qsizetype i = at.value(t.soundCard);
        if (i < listedCount)
            cells.append({names.at(i), OutputChoices::toolTip(outputs.at(i))});
        else
            cells.append({OutputChoices::notConnected(names.at(i)), OutputChoices::notConnected(t.soundCard)});
    }
    return cells;
}

QString TabPlaybackDialog::outputText(const QString& soundCard, const QList<OutputChoices::Output>& listed)
{
    TabData t;
    t.soundCard = soundCard;
    return outputCells({t}, listed).first().text;
}

QString TabPlaybackDialog::deviceItemText(const QString& description)
{
    return OutputChoices::cut(description, kDeviceChars);
}

TabPlaybackDialog::TabPlaybackDialog(const Session& session, int tabIdx, QWidget* parent) : QDialog(parent)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const TabData& tab = session.tabs[tabIdx];
    m_globalAutoStop = session.autoStop;
    m_globalRestart = session.restart;
    m_globalCrossTab = session.crossTabStop;

    setWindowFlags(windowFlags() | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Playback Settings — %1").arg(tab.name));
    setMinimumWidth(720);
    setStyleSheet(QString::fromLatin1(kDialogSS)
                      .arg(tc.surface.name(), tc.text.name(), tc.border.name(), tc.surfaceAlt.name(),
                           tc.accent.name(), mutedInk(), tc.surfaceAlt.lighter(115).name(),
                           tc.accentPressed.name(), ThemeManager::readableOn(Qt::white, {tc.accent}).name(),
                           ThemeManager::readableOn(Qt::white, {tc.accentPressed}).name()));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 16, 16, 16);
    root->setSpacing(10);

    // Title: the name is the user's text, shown as typed inside the markup.
    auto* title = new QLabel(this);
    title->setTextFormat(Qt::RichText);
    title->setText(QStringLiteral("<span style='color:%1;font-size:14px;font-weight:700;'>● %2</span>&nbsp;&nbsp;"
                                  "<span style='color:%3;font-size:11px;'>per-tab playback &amp; output "
                                  "settings</span>")
                       .arg(tabColorName(tab), tab.name.toHtmlEscaped(), mutedInk()));
    root->addWidget(title);

    // Overview of every tab, ⌈n/2⌉ on the left.
    auto* overview = new QGroupBox(QStringLiteral("All Tabs Overview"), this);
    auto* columns = new QHBoxLayout(overview);
    columns->setSpacing(18);
    const int n = int(session.tabs.size());
    const int left = (n + 1) / 2;
    const QList<OutputCell> outputs = outputCells(session.tabs, OutputChoices::outputs());
    for (int side = 0; side < 2; ++side) {
        if (side == 1) {
            auto* line = new QFrame(overview);
            line->setFrameShape(QFrame::VLine);
            line->setStyleSheet(QStringLiteral("background:%1;color:%1;").arg(tc.border.name()));
            columns->addWidget(line);
        }
        m_overview[side] = new QGridLayout;
        fillOverview(m_overview[side], session, outputs, side == 0 ? 0 : left, side == 0 ? left : n, tabIdx);
        columns->addLayout(m_overview[side]);
    }
    root->addWidget(overview);

    // Rules.
    auto* rules = new QGroupBox(QStringLiteral("Playback Behavior — %1").arg(literal(tab.name)), this);
    auto* rulesCol = new QVBoxLayout(rules);
    rulesCol->setSpacing(8);
    const QString toggleSS = ThemeManager::instance()->modernToggleQss();
    auto toggle = [&](const QString& text) {
        auto* box = new QCheckBox(text, rules);
        box->setObjectName(QStringLiteral("toggleSwitch"));
        box->setStyleSheet(toggleSS);
        rulesCol->addWidget(box);
        return box;
    };
    m_override = toggle(QStringLiteral("Use custom settings for this tab (override global)"));
    m_override->setChecked(tab.useTabPb);
    auto* rule = new QFrame(rules);
    rule->setFrameShape(QFrame::HLine);
    rule->setStyleSheet(QStringLiteral("color:%1;").arg(tc.text.name()));
    rulesCol->addWidget(rule);
    const QString noteSS = QStringLiteral("color:%1;font-size:10px;padding-left:22px;").arg(mutedInk());
    const QString ruleTexts[3][2] = {
        {QStringLiteral("AS — Auto-Stop"), QStringLiteral("Playing a button stops other buttons in the same tab.")},
        {QStringLiteral("RS — Restart on Re-Click"),
         QStringLiteral("Re-clicking a playing button restarts from the beginning.")},
        {QStringLiteral("CTS — Cross-Tab Stop"),
         QStringLiteral("Playing in %1 stops whatever plays in other tabs.").arg(tab.name)}};
    const bool start[3] = {tab.useTabPb ? tab.pb_as : session.autoStop, tab.useTabPb ? tab.pb_rs : session.restart,
                           tab.useTabPb ? tab.pb_cts : session.crossTabStop};
    for (int i = 0; i < 3; ++i) {
        m_rules[i] = toggle(ruleTexts[i][0]);
        m_rules[i]->setChecked(start[i]);
        QLabel* note = plainLabel(ruleTexts[i][1], noteSS, rules);
        rulesCol->addWidget(note);
        m_ruleNotes.append(note);
    }
    setRulesEnabled(tab.useTabPb);
    connect(m_override, &QCheckBox::toggled, this, [this](bool on) {
        setRulesEnabled(on);
        if (on) {
            m_rules[0]->setChecked(m_globalAutoStop);
            m_rules[1]->setChecked(m_globalRestart);
            m_rules[2]->setChecked(m_globalCrossTab);
        }
    });
    root->addWidget(rules);

    // Output device.
    auto* output = new QGroupBox(QStringLiteral("Audio Output — %1").arg(literal(tab.name)), this);
    auto* form = new QFormLayout(output);
    form->setSpacing(8);
    const QString speaker = QStringLiteral("🔊  ");
    m_device = new OutputChooser(output, speaker);
    m_device->addItem(speaker + QStringLiteral("Default Output (follows toolbar)"), QString());
    m_device->addOutputs(OutputChoices::outputs(), kDeviceChars);
    int selected = tab.soundCard.isEmpty() ? 0 : m_device->findData(tab.soundCard);
    if (selected < 0) {
        // The tab's device is not plugged in now: it stays listed, and chosen,
        // so the tab keeps it unless the user picks another.
        m_device->addItem(speaker + OutputChoices::notConnected(deviceItemText(tab.soundCard)), tab.soundCard);
        selected = m_device->count() - 1;
        m_device->setItemData(selected, OutputChoices::notConnected(tab.soundCard), OutputChooser::WholeNameRole);
    }
    m_device->setCurrentIndex(selected);
    ScreenFit::showAllEntries(m_device);
    form->addRow(QStringLiteral("Device:"), m_device);
    form->addRow(plainLabel(QStringLiteral("Each tab can play through a different audio device."),
                            QStringLiteral("color:%1;font-size:10px;").arg(mutedInk()), output));
    root->addWidget(output);

    // Buttons.
    auto* buttons = new QHBoxLayout;
    m_useGlobal = new QPushButton(QStringLiteral("Use Global"), this);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_apply = new QPushButton(QStringLiteral("Apply"), this);
    m_apply->setObjectName(QStringLiteral("applyBtn"));
    m_apply->setDefault(true);
    buttons->addWidget(m_useGlobal);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_apply);
    root->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_useGlobal, &QPushButton::clicked, this, [this] {
        m_outcome = UseGlobal;
        accept();
    });
    connect(m_apply, &QPushButton::clicked, this, [this] {
        m_outcome = Applied;
        accept();
    });
}

void TabPlaybackDialog::fillOverview(QGridLayout* grid, const Session& session, const QList<OutputCell>& outputs,
                                     int first, int end, int edited)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const QString muted = mutedInk();
    const QString headSS =
        QStringLiteral("color:%1;font-size:9px;font-weight:700;letter-spacing:0.5px;").arg(muted);
    const QString heads[3] = {QStringLiteral("TAB"), QStringLiteral("PLAYBACK"), QStringLiteral("OUTPUT")};
    for (int c = 0; c < 3; ++c)
        grid->addWidget(plainLabel(heads[c], headSS, nullptr), 0, c);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    const QString accent = inkOn(tc.accent);
    for (int i = first; i < end; ++i) {
        const TabData& t = session.tabs[i];
        const int row = i - first + 1;
        const bool isEdited = i == edited;
        grid->addWidget(plainLabel(QStringLiteral("● %1%2").arg(isEdited ? QStringLiteral("▶ ") : QString(), t.name),
                                   QStringLiteral("color:%1;font-size:11px;%2")
                                       .arg(tabColorName(t), isEdited ? QStringLiteral("font-weight:700;") : QString()),
                                   nullptr),
                        row, 0);
        grid->addWidget(plainLabel(rulesText(t),
                                   QStringLiteral("color:%1;font-size:10px;")
                                       .arg(t.useTabPb ? accent : muted),
                                   nullptr),
                        row, 1);
        QLabel* output = plainLabel(outputs.at(i).text, QStringLiteral("color:%1;font-size:10px;").arg(muted), nullptr);
        output->setToolTip(outputs.at(i).tip);
        grid->addWidget(output, row, 2);
    }
}

void TabPlaybackDialog::setRulesEnabled(bool on)
{
    for (QCheckBox* box : m_rules)
        box->setEnabled(on);
    for (QLabel* note : std::as_const(m_ruleNotes))
        note->setEnabled(on);
}

bool TabPlaybackDialog::overrideRules() const { return m_override->isChecked(); }
bool TabPlaybackDialog::autoStop() const { return m_rules[0]->isChecked(); }
bool TabPlaybackDialog::restart() const { return m_rules[1]->isChecked(); }
bool TabPlaybackDialog::crossTabStop() const { return m_rules[2]->isChecked(); }
QString TabPlaybackDialog::device() const { return m_device->currentData().toString(); }
