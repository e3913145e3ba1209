// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class EchoLinkClient;
class QAbstractButton;
class QLineEdit;

// The stations connected now, as the station program reported their connects and drops, and the "Con/Disc"
// buttons that tell screen readers, in their accessible description, whether the station in their callsign
// box is one of them ("connected" / "not connected"), kept current as stations come and go and as the box
// changes. The station program reports no list: stations connected before Parlevox started are not known
// until learn() is told of them.
class ConnectedStations : public QObject {
    Q_OBJECT
public:
    static QString connectedText() { return QStringLiteral("connected"); }
    static QString notConnectedText() { return QStringLiteral("not connected"); }

    struct Toggle {
        QLineEdit* callsign = nullptr;
        QAbstractButton* button = nullptr;
    };

    explicit ConnectedStations(EchoLinkClient& echoLink, QObject* parent = nullptr);

    // The main window's six: the five favourites and "Connect to Callsign".
    void describe(const QList<Toggle>& toggles);
    // In the order they connected; case as the station reported it.
    QStringList callsigns() const { return connected_; }
    bool isConnected(const QString& callsign) const;
    // What a look-up (IsConnected) found out.
    void learn(const QString& callsign, bool connected);

Q_SIGNALS:
    void changed();

private:
    void connected(const QString& callsign);
    void disconnected(const QString& callsign);
    void availabilityChanged(bool available);
    void refresh();
    void refresh(const Toggle& toggle);

    QStringList connected_;
    QList<Toggle> toggles_;
};
