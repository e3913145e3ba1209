// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/StatusKeys.h"

#include "platform/Voice.h"
#include "stations/ConnectedStations.h"
#include "stations/StationRules.h"
#include "ui/TransmitState.h"

#include <QLabel>
#include <QShortcut>
#include <QWidget>

QString StatusKeys::statusText(const QString& time, const QString& count, const QStringList& connected,
                               bool transmitting) {
    bool known = false;
    const int n = count.toInt(&known);
    QString text = QStringLiteral("Time %1. ").arg(time);
    if (!known) {
        text += QStringLiteral("Number of stations not known");
    } else {
        text += n == 1 ? QStringLiteral("1 station connected") : QStringLiteral("%1 stations connected").arg(n);
    }
    if (known && n > 0 && !connected.isEmpty()) {
        QStringList spelled;
        for (const QString& call : connected) {
            spelled << stations::splitCall(call).trimmed();
        }
        text += QStringLiteral(": ") + spelled.join(QStringLiteral(", "));
    }
    text += transmitting ? QStringLiteral(". Transmitting.") : QStringLiteral(". Receiving.");
    return text;
}

StatusKeys::StatusKeys(QWidget* window, const Widgets& widgets, const ConnectedStations& stations,
                       const TransmitState& transmit, Voice& voice, QObject* parent)
    : QObject(parent), w_(widgets), stations_(stations), transmit_(transmit), voice_(voice) {
    auto* status = new QShortcut(speakStatusKey(), window);
    status->setObjectName(QStringLiteral("SpeakStatusKey"));
    connect(status, &QShortcut::activated, this, &StatusKeys::speakStatus);
    auto* stop = new QShortcut(stopSpeechKey(), window);
    stop->setObjectName(QStringLiteral("StopSpeechKey"));
    connect(stop, &QShortcut::activated, this, &StatusKeys::stopSpeech);
}

void StatusKeys::speakStatus() {
    voice_.speak(statusText(w_.time->text(), w_.count->text(), stations_.callsigns(), transmit_.TransmitFlag() != 0));
}

void StatusKeys::stopSpeech() {
    voice_.silence();
}
