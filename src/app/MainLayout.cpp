// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainLayout.h"

#include "ui/Controls.h"
#include "ui/Layout.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <array>
#include <utility>

namespace {

using layout::button;
using layout::frame;
using layout::place;
using layout::twips;

QCheckBox* check(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
    auto* c = place(new QCheckBox(caption), parent, name, l, t, w, h);
    c->setAccessibleName(caption);
    return c;
}

QLineEdit* entry(QWidget* parent, const char* name, const QString& accessible, int l, int t, int w, int h) {
    auto* e = place(new QLineEdit, parent, name, l, t, w, h);
    e->setAccessibleName(accessible);
    controls::settleCaret(e);
    return e;
}

// The callsign boxes: tooltip-coloured background, capitals from the first key.
QLineEdit* callsignEntry(QWidget* parent, const char* name, const QString& accessible, int l, int t, int w, int h) {
    auto* e = entry(parent, name, accessible, l, t, w, h);
    QPalette pal = e->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
    e->setPalette(pal);
    controls::makeUpperCaseEntry(e);
    return e;
}

QPlainTextEdit* log(QWidget* parent, const char* name, const QString& accessible, const QString& initial,
                    const QFont& font, int l, int t, int w, int h) {
    // Read-only and selectable from the keyboard by itself; setReadOnly() here would undo the latter.
    auto* p = place(new controls::LogView, parent, name, l, t, w, h);
    p->setAccessibleName(accessible);
    p->setFont(font);
    p->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    p->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    p->setTabChangesFocus(true);
    if (!initial.isEmpty()) {
        p->setPlainText(initial);
    }
    return p;
}

QFont font(const char* family, double points, bool bold = false) {
    QFont f(QString::fromLatin1(family));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int l, int t, int w, int h) {
    auto* lab = place(new QLabel(text), parent, name, l, t, w, h);
    lab->setTextFormat(Qt::PlainText);
    return lab;
}

void setBackground(QWidget* w, const QColor& colour) {
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
}

// Alt+letter for every button, no letter twice. The six "Con/Disc" buttons share their caption, so they take its
// six letters in turn; the others keep clear of those.
const std::array<std::pair<const char*, char>, 17> Mnemonics{{
    {"Command4", 'C'},
    {"Command5", 'o'},
    {"Command6", 'n'},
    {"Command7", 'D'},
    {"Command8", 'i'},
    {"GetCall", 's'},
    {"TheTime", 'y'},
    {"Clear", 'l'},
    {"ClearRX", 'r'},
    {"Send", 'e'},
    {"Command1", 'H'},
    {"About", 'b'},
    {"Command13", 'w'},
    {"DisconnectAll", 'A'},
    {"TxRx", 'T'},
    {"SaveIt", 'v'},
    {"Exit", 'x'},
}};

} // namespace

MainControls buildMainLayout(QWidget* window) {
    MainControls c;
    controls::makeAccessibleWindow(window);
    window->setFixedSize(twips(9480), twips(9255));
    window->setFont(font("MS Sans Serif", 8.25));

    // Favourites: five rows of callsign box, button and "Stay Con".
    auto* frame5 = frame(window, "Frame5", QStringLiteral("Linkmates"), 120, 120, 3375, 2175);
    for (int slot = 0; slot < 5; ++slot) {
        const int top = 240 + 360 * slot;
        const QByteArray n = QByteArray::number(4 + slot);
        const QString which = QStringLiteral("favourite %1").arg(slot + 1);
        FavouriteSlot& row = c.stations.favourites.rows.at(static_cast<std::size_t>(slot));
        row.callsign = callsignEntry(frame5, "Text" + n, QStringLiteral("Callsign of ") + which, 120, top, 1095, 285);
        row.toggle = button(frame5, "Command" + n, QStringLiteral("Con/Disc"), 1320, top, 855, 255);
        row.toggle->setAccessibleName(QStringLiteral("Connect or disconnect ") + which);
        row.stayConnected = check(frame5, "Check" + n, QStringLiteral("Stay Con"), 2280, top, 975, 255);
        row.stayConnected->setAccessibleName(QStringLiteral("Stay connected to ") + which);
        c.stations.toggles.append({row.callsign, row.toggle});
    }
    const auto& rows = c.stations.favourites.rows;
    c.settings.Text4 = rows[0].callsign;
    c.settings.Text5 = rows[1].callsign;
    c.settings.Text6 = rows[2].callsign;
    c.settings.Text7 = rows[3].callsign;
    c.settings.Text8 = rows[4].callsign;

    auto* frame6 = frame(window, "Frame6", QStringLiteral("Say The Time"), 3600, 120, 1575, 1455);
    auto& refresh = c.clock.refresh;
    refresh.OnHour = check(frame6, "OnHour", QStringLiteral("On The Hour"), 120, 240, 1335, 255);
    refresh.QuarterHour = check(frame6, "QuarterHour", QStringLiteral("Quarter"), 120, 510, 1335, 255);
    refresh.HalfHour = check(frame6, "HalfHour", QStringLiteral("Half"), 120, 780, 1335, 255);
    refresh.TheTime = button(frame6, "TheTime", QStringLiteral("Say the Time"), 120, 1080, 1335, 285);
    c.settings.OnHour = refresh.OnHour;
    c.settings.QuarterHour = refresh.QuarterHour;
    c.settings.HalfHour = refresh.HalfHour;

    auto* showTime = label(window, "ShowTime", QStringLiteral("00:00:00"), 5400, 120, 1215, 375);
    showTime->setFont(font("MS Sans Serif", 13.5));
    controls::makeValueLabel(showTime, QStringLiteral("Time"));
    controls::makeFocusableValueLabel(showTime, true);
    refresh.ShowTime = showTime;
    c.stations.statusKeys.time = showTime;

    auto* frame7 = frame(window, "Frame7", QStringLiteral("Connect to Callsign"), 5280, 600, 1575, 975);
    auto& callsign = c.stations.callsign;
    callsign.callsign = callsignEntry(frame7, "Callsign", QStringLiteral("Callsign to connect"), 240, 210, 1095, 285);
    callsign.getCall = button(frame7, "GetCall", QStringLiteral("Con/Disc"), 240, 600, 1095, 255);
    callsign.getCall->setAccessibleName(QStringLiteral("Connect or disconnect callsign"));
    c.stations.toggles.append({callsign.callsign, callsign.getCall});
    c.settings.Callsign = callsign.callsign;

    auto& announcements = c.stations.announcements;
    auto* frame8 = frame(window, "Frame8", QStringLiteral("Call Connect History"), 6960, 120, 2415, 5775);
    announcements.callHistory = log(frame8, "CallHistory", QStringLiteral("Call connect history"), {},
                                    font("Times New Roman", 8.25), 120, 240, 2175, 5415);

    auto* frame1a = frame(window, "Frame1_0", QStringLiteral("Announce"), 3600, 1560, 3255, 615);
    announcements.announce = check(frame1a, "ConDisc", QStringLiteral("Stations When Con/Disc"), 120, 240, 3015, 255);
    c.settings.ConDisc = announcements.announce;

    auto& incoming = c.chat.incoming;
    auto& outgoing = c.chat.outgoing;
    const QFont verdana = font("Verdana", 8.25);
    outgoing.ReceivedText = log(window, "ReceivedText", QStringLiteral("Sent text"), QStringLiteral("Text Sent\n"),
                                verdana, 120, 2280, 6735, 825);
    outgoing.Clear = button(window, "Clear", QStringLiteral("Clear"), 6000, 3120, 855, 315);
    outgoing.Clear->setAccessibleName(QStringLiteral("Clear sent text"));
    incoming.IncomingText = log(window, "IncomingText", QStringLiteral("Incoming text"),
                                QStringLiteral("Incoming Text\n"), verdana, 120, 3480, 6735, 2340);
    outgoing.IncomingText = incoming.IncomingText;
    outgoing.ClearRX = button(window, "ClearRX", QStringLiteral("Clear"), 6000, 5880, 855, 315);
    outgoing.ClearRX->setAccessibleName(QStringLiteral("Clear incoming text"));

    auto* frame2 = frame(window, "Frame2", QStringLiteral("Type Message And Click Send"), 120, 5880, 4935, 735);
    outgoing.TextTX = entry(frame2, "TextTX", QStringLiteral("Message to send"), 120, 270, 3855, 345);
    outgoing.TextTX->setFont(font("Verdana", 9.75));
    incoming.TextTX = outgoing.TextTX;
    outgoing.Send = button(frame2, "Send", QStringLiteral("Send"), 4080, 270, 735, 345);

    announcements.clearHistory =
        button(window, "Command1", QStringLiteral("Clear Call Connect History"), 7080, 5880, 2175, 255);
    outgoing.About = button(window, "About", QStringLiteral("About"), 6000, 6240, 855, 375);
    auto* frame11 = frame(window, "Frame11", QStringLiteral("Internet"), 6960, 6240, 2415, 855);
    // Command13 (a kept name, as are the others here): shows the internet window.
    c.window.Command13 = button(frame11, "Command13", QStringLiteral("Show Internet Options"), 120, 300, 2175, 375);

    auto* frame1b = frame(window, "Frame1_1", QString(), 120, 6600, 4935, 495, QStringLiteral("Time stamps"));
    outgoing.Check1 = check(frame1b, "Check1", QStringLiteral("Send Text With Time Stamp"), 120, 150, 2535, 255);
    incoming.Check2 = check(frame1b, "Check2", QStringLiteral("Time Stamp Incoming"), 2760, 150, 2055, 255);
    auto* frame4 = frame(window, "Frame4", QString(), 5160, 6600, 1695, 495, QStringLiteral("Announce text"));
    incoming.Check3 = check(frame4, "Check3", QStringLiteral("Announce Text"), 120, 150, 1455, 255);
    c.settings.Check1 = outgoing.Check1;
    c.settings.Check2 = incoming.Check2;
    c.settings.Check3 = incoming.Check3;

    auto* frame3 =
        frame(window, "Frame3", QStringLiteral("Text Filter              Filter Text Messages Containing The Words  "),
              120, 7080, 6735, 1095, QStringLiteral("Text filter: filter text messages containing the words"));
    auto* line = place(new QFrame, frame3, "Line1", 960, 120, 360, 15);
    line->setFrameShape(QFrame::HLine);
    const std::array<int, 4> lefts{120, 1800, 3480, 5160};
    for (int i = 0; i < 8; ++i) {
        incoming.FilterText.at(static_cast<std::size_t>(i)) =
            entry(frame3, "FilterText" + QByteArray::number(i + 1), QStringLiteral("Filter word %1").arg(i + 1),
                  lefts.at(static_cast<std::size_t>(i % 4)), i < 4 ? 240 : 600, 1455, 285);
    }
    const auto& filters = incoming.FilterText;
    c.settings.FilterText1 = filters[0];
    c.settings.FilterText2 = filters[1];
    c.settings.FilterText3 = filters[2];
    c.settings.FilterText4 = filters[3];
    c.settings.FilterText5 = filters[4];
    c.settings.FilterText6 = filters[5];
    c.settings.FilterText7 = filters[6];
    c.settings.FilterText8 = filters[7];

    auto* frame12 = frame(window, "Frame12", QStringLiteral("Last Connected Node"), 6960, 7200, 2415, 615);
    auto* label2 = label(frame12, "Label2", QStringLiteral("None"), 120, 240, 2175, 255);
    label2->setFont(font("MS Sans Serif", 9.75, true));
    controls::makeValueLabel(label2, QStringLiteral("Last connected node"));
    controls::makeFocusableValueLabel(label2);
    announcements.lastConnectedNode = label2;

    callsign.disconnectAll = button(window, "DisconnectAll", QStringLiteral("Disconnect All"), 6960, 7920, 2415, 255);

    auto* frame10 = frame(window, "Frame10", QStringLiteral("TX / RX"), 120, 8160, 1575, 975);
    auto* label1 = label(frame10, "Label1", QStringLiteral("  Receiving       Mode"), 120, 240, 1335, 615);
    label1->setFont(font("MS Sans Serif", 9.75, true));
    label1->setWordWrap(true);
    setBackground(label1, QColor(0, 255, 0));
    controls::makeValueLabel(label1, QStringLiteral("Transmit state"));
    controls::makeFocusableValueLabel(label1);
    c.clock.transmitLabel = label1;

    auto* txrx = button(window, "TxRx", QStringLiteral("Transmit / Receive"), 1800, 8280, 3615, 855);
    txrx->setFont(font("MS Sans Serif", 9.75, true));
    controls::makeToggleButton(txrx);
    c.clock.transmit.TxRx = txrx;

    auto* frame9 = frame(window, "Frame9", QStringLiteral("Connected Nodes"), 5520, 8160, 3855, 615);
    label(frame9, "Label3", QStringLiteral("Number of stations connected"), 120, 240, 2775, 255);
    auto* num = label(frame9, "NumStations", QStringLiteral("0"), 2940, 240, 735, 255);
    controls::makeValueLabel(num, QStringLiteral("Number of stations connected"));
    controls::makeFocusableValueLabel(num);
    refresh.NumStations = num;
    c.clock.transmit.NumStations = num;
    c.stations.statusKeys.count = num;
    c.window.NumStations = num;

    c.window.SaveIt = button(window, "SaveIt", QStringLiteral("Save"), 5520, 8880, 1815, 255);
    c.window.Exit = button(window, "Exit", QStringLiteral("Exit / Save"), 7440, 8880, 1935, 255);

    // Tab order follows the layout: top-left to bottom-right, group by group.
    layout::setTabOrder(window,
                        {"Text4",        "Command4",      "Check4",       "Text5",       "Command5",    "Check5",
                         "Text6",        "Command6",      "Check6",       "Text7",       "Command7",    "Check7",
                         "Text8",        "Command8",      "Check8",       "OnHour",      "QuarterHour", "HalfHour",
                         "TheTime",      "Callsign",      "GetCall",      "ConDisc",     "CallHistory", "Command1",
                         "ReceivedText", "Clear",         "IncomingText", "ClearRX",     "TextTX",      "Send",
                         "Check1",       "Check2",        "Check3",       "About",       "Command13",   "FilterText1",
                         "FilterText2",  "FilterText3",   "FilterText4",  "FilterText5", "FilterText6", "FilterText7",
                         "FilterText8",  "DisconnectAll", "TxRx",         "SaveIt",      "Exit",        "ShowTime",
                         "Label1",       "NumStations",   "Label2"});

    for (const auto& [name, letter] : Mnemonics) {
        controls::setMnemonic(static_cast<QAbstractButton*>(layout::named(window, name)), QChar::fromLatin1(letter));
    }
    return c;
}
