// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Directory.h"
#include "SimCommand.h"

#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimer>

class Station;

// Decides the demo's next event from what is connected now: stations of every kind connect and drop,
// connected stations chat ("CALL>text", now and then a "/ver/" query) and talk for a few seconds, the
// transmitter keys and unkeys.
// Pure: the same seed and the same state give the same events.
class DemoPlan {
public:
    struct Step {
        SimCommand command;
        int delayMs = 0; // wait this long before asking for the next step
    };

    DemoPlan(quint32 seed, int paceMs);

    // talker: the station being heard, empty when none is.
    Step next(const QStringList& connected, bool transmitting, const QString& talker);
    const QList<Peer>& directory() const { return directory_; }

private:
    int delay(double factor);
    QString pick(const QStringList& from);
    static QStringList talkers(const QStringList& connected);
    QString chatSender(const QStringList& connected);

    QRandomGenerator rng_;
    int paceMs_;
    QList<Peer> directory_;
};

// Plays the plan on a station, endlessly, from the event loop.
class DemoDirector : public QObject {
    Q_OBJECT
public:
    DemoDirector(Station& station, quint32 seed, int paceMs, QObject* parent = nullptr);
    void start();

private:
    void step();

    Station& station_;
    DemoPlan plan_;
    QTimer timer_;
};
