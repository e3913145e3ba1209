// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station: an EchoLink station that logs in to the directory, takes and makes connections over UDP
// and offers its controls on the session bus (org.parlevox.EchoLink), where Parlevox finds it.
#include "BuildConfig.h"
#include "DirectoryClient.h"
#include "MicSource.h"
#include "Node.h"
#include "Setup.h"
#include "SoundDevices.h"
#include "SoundOutput.h"
#include "StationBus.h"
#include "StationLogging.h"
#include "StationSettings.h"
#include "UdpTransport.h"
#include "platform/EchoLinkBus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSocket[2] = {-1, -1};
volatile std::sig_atomic_t endingStarted = 0;

// Only async-signal-safe calls here: the event loop reads the signal number from the socket.
extern "C" void onEndSignal(int signal) {
    if (endingStarted != 0) {
        ::_exit(1); // asked again while signing off: the user wants out now
    }
    endingStarted = 1;
    const int savedErrno = errno;
    const char number = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[1], &number, 1);
    errno = savedErrno;
}

bool installSignalHandlers() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

void writeLine(FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    // The user, and tests, follow the log as it is written.
    std::fflush(stream);
}

void say(const QString& line) {
    writeLine(stdout, line);
}

void warn(const QString& line) {
    writeLine(stderr, QStringLiteral("parlevox-station: ") + line);
}

void soundNotice(const QString& line) {
    qCWarning(lcSound).noquote() << line;
}

QString addressText(const QHostAddress& address) {
    return address == QHostAddress(QHostAddress::AnyIPv4) ? QStringLiteral("all addresses") : address.toString();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Reports read like the station's other lines on standard error; QT_MESSAGE_PATTERN still overrides it.
    qSetMessagePattern(QStringLiteral("parlevox-station: %{message}"));
    QCoreApplication::setApplicationName(QStringLiteral("parlevox-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(buildconfig::VersionMajor)
                                                .arg(buildconfig::VersionMinor)
                                                .arg(buildconfig::VersionRevision));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("An EchoLink station: logs in to the EchoLink directory, connects to other stations over "
                       "UDP ports 5198 and 5199 and offers its controls on the session bus as "
                       "org.parlevox.EchoLink, where Parlevox finds it. Settings: [STATION] in %1.")
            .arg(defaultSettingsPath()));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(
        QStringLiteral("config"),
        QStringLiteral("Read the settings from FILE instead of %1.").arg(defaultSettingsPath()),
        QStringLiteral("FILE"));
    const QCommandLineOption bindOption(QStringLiteral("bind"),
                                        QStringLiteral("Use only this local IPv4 address (instead of BIND)."),
                                        QStringLiteral("ADDR"));
    const QCommandLineOption directoryOption(
        QStringLiteral("directory"),
        QStringLiteral("Directory servers to use, separated by commas (instead of DIRECTORY)."),
        QStringLiteral("HOSTS"));
    const QCommandLineOption noAudioOption(
        QStringLiteral("no-audio"),
        QStringLiteral("Use no sound devices: voice heard is dropped and transmitting sends nothing."));
    const QCommandLineOption listDevicesOption(
        QStringLiteral("list-devices"),
        QStringLiteral("Print the sound outputs and inputs (names for AUDIOOUT and AUDIOIN) and exit."));
    const QCommandLineOption setupOption(
        QStringLiteral("setup"),
        QStringLiteral("Ask for callsign, password, name, location and information, write the settings file and "
                       "check the login with the directory; then exit."));
    parser.addOptions({configOption, bindOption, directoryOption, noAudioOption, listDevicesOption, setupOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        warn(QStringLiteral("unexpected argument %1; see --help").arg(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(listDevicesOption)) {
        const QByteArray text = sound::deviceListText().toUtf8();
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return 0;
    }

    const QString path = parser.isSet(configOption) ? parser.value(configOption) : defaultSettingsPath();
    if (parser.isSet(setupOption)) {
        Setup::Options options;
        options.path = path;
        options.directoryOverride = parser.value(directoryOption);
        Setup setup(options, stdin, stdout);
        return setup.run();
    }
    const SettingsLoad load = loadStationSettings(path, parser.value(bindOption), parser.value(directoryOption));
    for (const QString& warning : load.warnings) {
        warn(warning);
    }
    if (!load.settings) {
        warn(load.error);
        if (!QFileInfo::exists(path)) {
            warn(QStringLiteral("parlevox-station --setup asks for them and writes the file."));
        }
        return 2;
    }
    const StationSettings& settings = *load.settings;

    if (!installSignalHandlers()) {
        warn(QStringLiteral("cannot watch for signals: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        warn(QStringLiteral("no D-Bus session bus is available (%1). The station offers its controls there; run it "
                            "in your desktop session or under dbus-run-session.")
                 .arg(bus.lastError().message()));
        return 1;
    }

    UdpTransport transport;
    const QHostAddress directoryBind =
        settings.bind == QHostAddress(QHostAddress::AnyIPv4) ? QHostAddress() : settings.bind;
    DirectoryClient directory(settings.directoryServers, settings.callsign, settings.password, settings.location,
                              directoryBind);
    // The sound devices are opened only while voice comes or goes, so an idle station leaves them alone.
    std::unique_ptr<AudioSource> source;
    std::unique_ptr<AudioSink> sink;
    if (parser.isSet(noAudioOption)) {
        source = std::make_unique<NullAudioSource>();
        sink = std::make_unique<NullAudioSink>();
    } else {
        auto mic = std::make_unique<MicSource>(MicSource::Options{settings.audioIn, settings.txGainDb});
        QObject::connect(mic.get(), &MicSource::notice, &app, soundNotice);
        SoundOutput::Options output;
        output.device = settings.audioOut;
        output.gainDb = settings.rxGainDb;
        auto speaker = std::make_unique<SoundOutput>(output);
        QObject::connect(speaker.get(), &SoundOutput::notice, &app, soundNotice);
        source = std::move(mic);
        sink = std::move(speaker);
    }
    Node node(NodeConfig{settings.callsign, settings.name, settings.info, settings.maxConnections, settings.accept},
              transport, directory, *source, *sink);
    StationBus busObject(node);
    QObject::connect(&node, &Node::notice, &app, [](const QString& line) { qCInfo(lcNode).noquote() << line; });
    QObject::connect(&directory, &DirectoryClient::notice, &app,
                     [](const QString& line) { qCWarning(lcDirectory).noquote() << line; });

    // The name before the ports: a second copy on this bus must say so, not that the ports are in use.
    if (!bus.registerObject(QString::fromLatin1(EchoLinkBus::ObjectPath), &busObject,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)) {
        warn(QStringLiteral("cannot register the station object: %1").arg(bus.lastError().message()));
        return 1;
    }
    if (!bus.registerService(QString::fromLatin1(EchoLinkBus::Service))) {
        warn(QStringLiteral("the name %1 is already taken: another station program is running on this bus")
                 .arg(QString::fromLatin1(EchoLinkBus::Service)));
        return 1;
    }
    QString why;
    if (!transport.bind(settings.bind, &why)) {
        warn(QStringLiteral("cannot open UDP ports 5198 and 5199 on %1: %2. Is another EchoLink program running on "
                            "this machine? Only one can use these ports on an address; --bind picks another.")
                 .arg(addressText(settings.bind), why));
        return 1;
    }

    bool ending = false;
    el::DirectoryStatus status = el::DirectoryStatus::Online;
    // Busy while every place is taken, so the directory shows we cannot take more.
    auto updateStatus = [&] {
        const auto wanted =
            node.connectedCount() >= settings.maxConnections ? el::DirectoryStatus::Busy : el::DirectoryStatus::Online;
        if (!ending && wanted != status) {
            status = wanted;
            directory.setStatus(status);
        }
    };
    QObject::connect(&node, &Node::connected, &app,
                     [&](const QString& callsign, const QString& name, const QString& address) {
                         say(QStringLiteral("connected: %1 (%2) at %3").arg(callsign, name, address));
                         QMetaObject::invokeMethod(&app, updateStatus, Qt::QueuedConnection);
                     });
    QObject::connect(&node, &Node::disconnected, &app, [&](const QString& callsign) {
        say(QStringLiteral("disconnected: %1").arg(callsign));
        QMetaObject::invokeMethod(&app, updateStatus, Qt::QueuedConnection);
    });
    // The directory client reports failures itself; a login that works is said once, and again after failures.
    bool loggedIn = false;
    QObject::connect(&directory, &Directory::loginFinished, &app, [&](bool accepted) {
        if (accepted && !loggedIn) {
            warn(QStringLiteral("logged in to the directory as %1").arg(settings.callsign));
        }
        loggedIn = accepted;
    });

    auto end = [&](const QString& reason) {
        if (ending) {
            return;
        }
        ending = true;
        endingStarted = 1;
        warn(reason + QStringLiteral("; signing off"));
        busObject.close();
        node.shutdown();
        auto quit = [&] {
            if (bus.isConnected()) {
                // A round trip makes sure Closing has left before the name goes.
                QDBusMessage ping = QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
                bus.call(ping, QDBus::Block, 2000);
            }
            QCoreApplication::exit(0);
        };
        directory.logOff(3000, quit);
        QTimer::singleShot(5000, &app, quit); // in case the directory never says it is done
    };

    QSocketNotifier signalNotifier(signalSocket[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char number = 0;
        while (::read(signalSocket[0], &number, 1) == 1) {
            const char* name = number == SIGTERM ? "SIGTERM" : number == SIGINT ? "SIGINT" : "SIGHUP";
            end(QStringLiteral("got %1").arg(QLatin1String(name)));
        }
    });
    QTimer busWatch;
    QObject::connect(&busWatch, &QTimer::timeout, &app, [&] {
        if (!bus.isConnected()) {
            end(QStringLiteral("the session bus went away"));
        }
    });
    busWatch.start(2000);

    directory.setStatus(el::DirectoryStatus::Online);
    say(QStringLiteral("parlevox-station ready: %1 on %2 (UDP 5198 and 5199), directory %3")
            .arg(settings.callsign, addressText(settings.bind), settings.directoryServers.join(QStringLiteral(", "))));
    return app.exec();
}
