// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TextMessageTTS.h"

#include "BuildConfig.h"
#include "app/AppLogging.h"
#include "app/MainLayout.h"
#include "app/MainSettings.h"
#include "app/SpeechHold.h"
#include "chat/IncomingChat.h"
#include "chat/OutgoingChat.h"
#include "clock/StatusRefresh.h"
#include "clock/TransmitToggle.h"
#include "platform/Clock.h"
#include "platform/EchoLinkClient.h"
#include "platform/InternetOptions.h"
#include "platform/SettingsStore.h"
#include "stations/CallsignConnection.h"
#include "stations/ConnectedStations.h"
#include "stations/ConnectionAnnouncements.h"
#include "stations/FavouriteStations.h"
#include "stations/StatusKeys.h"
#include "ui/Controls.h"
#include "ui/TransmitState.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString caption(const QString& ownCallsign) {
    return QString::fromLatin1(buildconfig::ProductName) + QStringLiteral("    ") + ownCallsign +
           QStringLiteral("   v%1.%2").arg(buildconfig::VersionMajor).arg(buildconfig::VersionMinor);
}

const QString NotAvailableNote = QStringLiteral("   (EchoLink not available)");

} // namespace

TextMessageTTS::TextMessageTTS(Services services, QWidget* parent)
    : QWidget(parent), echoLink_(services.echoLink), voice_(services.voice), clock_(services.clock),
      settings_(services.settings), internet_(services.internet) {
    setObjectName(QStringLiteral("TextMessageTTS"));
    setWindowTitle(caption(QString()));
    const MainControls ui = buildMainLayout(this);
    settingsControls_ = ui.settings;
    numStations_ = ui.window.NumStations;

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(1000);
    Timer4.setObjectName(QStringLiteral("Timer4"));
    Timer4.setInterval(30000);

    connect(ui.window.SaveIt, &QPushButton::clicked, this, &TextMessageTTS::SaveIt_Click);
    connect(ui.window.Exit, &QPushButton::clicked, this, &TextMessageTTS::Exit_Click);
    connect(ui.window.Command13, &QPushButton::clicked, this, [this] { internet_.showWindow(); });
    connect(&echoLink_, &EchoLinkClient::Closing, this, &TextMessageTTS::EchoLink_Closing);
    connect(&echoLink_, &EchoLinkClient::availabilityChanged, this, &TextMessageTTS::EchoLink_AvailabilityChanged);

    // features
    auto* transmit = new TransmitState(ui.clock.transmitLabel, this);
    hold_ = new SpeechHold(voice_, echoLink_, SpeechHold::Timing(), this);
    connect(transmit, &TransmitState::transmittingSet, hold_, &SpeechHold::setTransmitting);
    auto* status = new StatusRefresh(ui.clock.refresh, echoLink_, voice_, clock_, *transmit, QLocale::system(), this);
    connect(&Timer1, &QTimer::timeout, status, &StatusRefresh::Timer1_Timer);
    new TransmitToggle(ui.clock.transmit, echoLink_, *transmit, this);
    auto* announcements = new ConnectionAnnouncements(ui.stations.announcements, internet_, voice_, clock_,
                                                      QString::fromUtf8(buildconfig::QrzRoot), this);
    // The window is the context, so that ending the program cuts these off with the others.
    connect(&echoLink_, &EchoLinkClient::Connected, this,
            [announcements](const QString& call, const QString& name, const QString& addr) {
                announcements->Echolink_connected(call, name, addr);
            });
    connect(&echoLink_, &EchoLinkClient::Disconnected, this,
            [announcements](const QString& call) { announcements->Echolink_Disconnected(call); });
    auto* favourites = new FavouriteStations(ui.stations.favourites, echoLink_, voice_, this);
    connect(&Timer4, &QTimer::timeout, favourites, &FavouriteStations::Timer4_Timer);
    new CallsignConnection(ui.stations.callsign, echoLink_, voice_, this);
    auto* incoming = new IncomingChat(ui.chat.incoming, echoLink_, voice_, clock_, this);
    connect(&echoLink_, &EchoLinkClient::ChatTextReceived, this,
            [incoming](const QString& sText) { incoming->EchoLink_ChatTextReceived(sText); });
    new OutgoingChat(ui.chat.outgoing, echoLink_, voice_, clock_, this);
    auto* connected = new ConnectedStations(echoLink_, this);
    connected->describe(ui.stations.toggles);
    new StatusKeys(this, ui.stations.statusKeys, *connected, *transmit, voice_, this);
}

TextMessageTTS::~TextMessageTTS() = default;

bool TextMessageTTS::Form_Load(QString* error) {
    const CallResult<QString> own = echoLink_.OwnCallsign();
    if (!own) {
        if (error != nullptr) {
            *error = QStringLiteral("The EchoLink station did not give its callsign: %1").arg(own.error);
        }
        return false;
    }
    ownCallsign_ = own.value;
    setWindowTitle(caption(ownCallsign_));
    const mainsettings::Options options = mainsettings::load(this, settingsControls_, settings_);
    hold_->setEnabled(options.holdSpeech);
    position_ = options.position;
    hold_->askStation();
    internet_.navigate(QString::fromLatin1(buildconfig::AddonsSite));
    Timer1.start();
    Timer4.start();
    return true;
}

bool TextMessageTTS::SaveData() {
    return mainsettings::save(this, settingsControls_, {hold_->isEnabled(), position_}, settings_);
}

bool TextMessageTTS::saveBoth(QString* failure) {
    QStringList failed;
    if (!SaveData()) {
        failed << settings_.filePath() + QStringLiteral(": ") + settings_.lastError();
    }
    if (!internet_.SaveData2()) {
        failed << internet_.saveError();
    }
    if (!failed.isEmpty() && failure != nullptr) {
        *failure = failed.join(QStringLiteral("; "));
    }
    return failed.isEmpty();
}

void TextMessageTTS::reportSaveFailure(const QString& failure) {
    const QString text =
        QStringLiteral("The settings could not be saved (%1). Nothing was changed in the file.").arg(failure);
    qCWarning(lcSettings).noquote() << text;
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(buildconfig::ProductName), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TextMessageTTS::SaveIt_Click() {
    QString failure;
    if (!saveBoth(&failure)) {
        reportSaveFailure(failure);
    }
}

void TextMessageTTS::Exit_Click() {
    QString failure;
    if (!saveBoth(&failure)) {
        // Ending now would lose the user's changes; say so and stay open. The close box still ends.
        reportSaveFailure(failure);
        return;
    }
    endProgram();
}

void TextMessageTTS::EchoLink_Closing() {
    if (ending_) {
        return;
    }
    QString failure;
    if (!saveBoth(&failure)) {
        qCWarning(lcSettings).noquote()
            << QStringLiteral("the station is closing and the settings could not be saved (%1)").arg(failure);
    }
    endProgram();
}

// The program goes on without the station: logs, settings and timers stay, calls fail at once, and the
// station client binds again by itself when a station program answers. Many users cannot see the
// caption, so the change is spoken too.
void TextMessageTTS::EchoLink_AvailabilityChanged(bool available) {
    if (ending_) {
        return;
    }
    QLabel* count = numStations_;
    if (!available) {
        qCInfo(lcBus) << "EchoLink is not available; waiting for the station program to come back";
        setWindowTitle(caption(ownCallsign_) + NotAvailableNote);
        controls::setLabelValue(count, QStringLiteral("?"));
        count->setAccessibleName(QStringLiteral("Number of stations connected: not known, EchoLink is not available"));
        voice_.speak(QStringLiteral("EchoLink is not available."));
        return;
    }
    // The station that answers now may be another one, with another callsign.
    const CallResult<QString> own = echoLink_.OwnCallsign();
    if (own) {
        ownCallsign_ = own.value;
    }
    qCInfo(lcBus) << "EchoLink is available again";
    setWindowTitle(caption(ownCallsign_));
    voice_.speak(QStringLiteral("EchoLink is back."));
}

void TextMessageTTS::closeEvent(QCloseEvent* event) {
    event->accept();
    endProgram();
}

void TextMessageTTS::endProgram() {
    if (ending_) {
        return;
    }
    // Ending stops every handler at once: no tick, no station event, no further save.
    ending_ = true;
    Timer1.stop();
    Timer4.stop();
    echoLink_.disconnect(this);
    Q_EMIT endRequested(0);
}
