// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeySequence>
#include <QObject>
#include <QStringList>

class ConnectedStations;
class QLabel;
class QWidget;
class TransmitState;
class Voice;

// Two keys of the main window, clear of the screen reader's own (its modifier keys and the keypad): one has
// Parlevox say the status now (time, number of stations and who is connected, transmit or receive), the
// other stops Parlevox's own speech and drops what waits to be spoken.
class StatusKeys : public QObject {
    Q_OBJECT
public:
    static QKeySequence speakStatusKey() { return QKeySequence(Qt::Key_F2); }
    static QKeySequence stopSpeechKey() { return QKeySequence(Qt::Key_F3); }

    struct Widgets {
        QLabel* time = nullptr;  // ShowTime
        QLabel* count = nullptr; // NumStations
    };

    // count: the label's text ("?" when not known). Callsigns are spelled out.
    static QString statusText(const QString& time, const QString& count, const QStringList& connected,
                              bool transmitting);

    StatusKeys(QWidget* window, const Widgets& widgets, const ConnectedStations& stations,
               const TransmitState& transmit, Voice& voice, QObject* parent = nullptr);

    void speakStatus();
    void stopSpeech();

private:
    Widgets w_;
    const ConnectedStations& stations_;
    const TransmitState& transmit_;
    Voice& voice_;
};
