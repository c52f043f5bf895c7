#pragma once
#include <QColor>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

// One sound button. Passed by value between the grid, the engines and the
// main window; its JSON form is part of the session file.
struct ButtonData
{
    QString id;
    QString name;
    QString audioPath;
    QString outputDevice;
    QString key;
    QString img;            // base64 of an encoded image
    QColor bgColor;         // invalid: none set
    QColor textColor;       // invalid: none set
    int fontSize = 0;       // 0: automatic
    int midiNote = -1;
    int midiCh = -1;
    bool loop = false;
    bool super = false;
    bool rapid = false;
    double trimStart = 0;   // seconds; 0: not set
    double trimEnd = 0;     // seconds; 0: not set
    double volume = 1.0;    // 0 .. 2.0
    double fadeIn = 0;      // seconds
    double fadeOut = 0;     // seconds

    QJsonObject toJson() const;
    static ButtonData fromJson(const QJsonObject& o);
    friend bool operator==(const ButtonData&, const ButtonData&) = default;
};

// One tab: a grid of buttons with its own settings.
struct TabData
{
    QString id;
    QString name;
    QColor color;
    QString soundCard;      // output device id; empty: the global device
    double fadeMs = 100;
    double volume = 1.0;    // 0 .. 1.0
    bool useTabPb = false;
    bool pb_as = false;
    bool pb_rs = true;
    bool pb_cts = true;
    QList<ButtonData> buttons;
    QString stopKey;
    int stopMidi = -1;
    QString volUpKey;
    QString volDnKey;
    int volCC = -1;

    QJsonObject toJson() const;
    static TabData fromJson(const QJsonObject& o);
    friend bool operator==(const TabData&, const TabData&) = default;
};

// The whole set of tabs plus the global playback rules and the grid layout.
struct Session
{
    int activeTab = 0;
    double globalVolume = 0.85;
    QString filePath;       // never written to the file
    bool autoStop = false;
    bool restart = true;
    bool crossTabStop = true;
    QList<TabData> tabs;
    int buttonsPerTab = 36;
    int gridCols = 0;
    int gridRows = 0;
    int layoutMode = 1;     // panes shown: 1, 2 or 4

    QJsonObject toJson() const;
    static Session fromJson(const QJsonObject& o);
    friend bool operator==(const Session&, const Session&) = default;
};

Q_DECLARE_METATYPE(ButtonData)
Q_DECLARE_METATYPE(TabData)
Q_DECLARE_METATYPE(Session)

// A volume as the session keeps it: clamped to 0 .. max, and anything not
// above 0 (NaN included) is 0. Tab volumes take max 1.0, button volumes 2.0.
double clampVolume(double v, double max);

// How many buttons each tab shows for a session's buttonsPerTab: 24, 36, 48
// or 72 as stored, any other count 36.
int shownButtonsPerTab(int buttonsPerTab);

// Registers ButtonData, Session and QList<TabData> with Qt's meta-type system.
void registerSessionTypes();
