// SPDX-License-Identifier: GPL-3.0-or-later
// echolink-sim: a stand-in EchoLink station on the session bus, driven by commands or by its own demo.
#include "BuildConfig.h"
#include "CommandRunner.h"
#include "DemoPlan.h"
#include "LineReader.h"
#include "Station.h"
#include "StationBusObject.h"
#include "platform/EchoLinkBus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

void writeLine(FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    // Scripts and tests follow the log as it is written.
    std::fflush(stream);
}

void fail(const QString& message) {
    writeLine(stderr, QStringLiteral("echolink-sim: ") + message);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("echolink-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(buildconfig::VersionMajor)
                                                .arg(buildconfig::VersionMinor)
                                                .arg(buildconfig::VersionRevision));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A stand-in EchoLink station: owns org.parlevox.EchoLink on the session bus, answers "
                       "a client's requests from its own state and plays the other stations from commands or "
                       "from its demo.\n\n") +
        simCommandHelp());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption callsignOption(QStringLiteral("callsign"),
                                            QStringLiteral("The station's own callsign (default N0CALL)."),
                                            QStringLiteral("CALL"), QStringLiteral("N0CALL"));
    const QCommandLineOption scriptOption(QStringLiteral("script"),
                                          QStringLiteral("Read the commands from FILE instead of stdin."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
                                        QStringLiteral("Play a lively session by itself, endlessly. Commands "
                                                       "from stdin still work."));
    const QCommandLineOption stayOption(QStringLiteral("stay"), QStringLiteral("Keep running when the input ends."));
    const QCommandLineOption paceOption(QStringLiteral("pace"),
                                        QStringLiteral("Demo: average time between events (default 3000)."),
                                        QStringLiteral("MS"), QStringLiteral("3000"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Demo: seed for a repeatable session (default random)."),
                                        QStringLiteral("N"));
    const QCommandLineOption quietOption(QStringLiteral("quiet-queries"),
                                         QStringLiteral("Do not log IsTransmitting, ConnectedCount, IsConnected, "
                                                        "OwnCallsign and IsReceiving requests."));
    parser.addOptions({callsignOption, scriptOption, demoOption, stayOption, paceOption, seedOption, quietOption});
    parser.process(app);

    const QString ownCallsign = parser.value(callsignOption).trimmed().toUpper();
    bool paceOk = false;
    const int pace = parser.value(paceOption).toInt(&paceOk);
    if (ownCallsign.isEmpty() || !paceOk || pace <= 0) {
        fail(ownCallsign.isEmpty() ? QStringLiteral("--callsign needs a callsign")
                                   : QStringLiteral("--pace needs a positive number of milliseconds"));
        return 2;
    }

    // A script is checked whole before anything happens: a typo should not surface halfway through a run.
    std::vector<SimCommand> scriptCommands;
    if (parser.isSet(scriptOption)) {
        QFile file(parser.value(scriptOption));
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
            return 2;
        }
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QString error;
            const auto command = parseSimCommand(QString::fromUtf8(lines.at(i)), &error);
            if (!command) {
                fail(QStringLiteral("%1:%2: %3").arg(file.fileName()).arg(i + 1).arg(error));
                return 2;
            }
            scriptCommands.push_back(*command);
        }
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fail(QStringLiteral("no D-Bus session bus is available (%1). Run inside a desktop session or under "
                            "dbus-run-session.")
                 .arg(bus.lastError().message()));
        return 1;
    }

    const LineSink log = [](const QString& line) { writeLine(stdout, line); };
    Station station(ownCallsign, log);
    StationBusObject busObject(station, log, !parser.isSet(quietOption));
    if (!bus.registerObject(QString::fromLatin1(EchoLinkBus::ObjectPath), &busObject,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)) {
        fail(QStringLiteral("cannot register the station object: %1").arg(bus.lastError().message()));
        return 1;
    }
    if (!bus.registerService(QString::fromLatin1(EchoLinkBus::Service))) {
        fail(QStringLiteral("the name %1 is already taken: another station program is running on this bus. "
                            "End it first.")
                 .arg(QString::fromLatin1(EchoLinkBus::Service)));
        return 1;
    }

    CommandRunner runner(station, log);
    runner.setStayAfterInput(parser.isSet(stayOption) || parser.isSet(demoOption));
    QObject::connect(&runner, &CommandRunner::finished, &app, [&](int exitCode) {
        // A round trip to the bus makes sure a Closing just sent has left before the name goes.
        bus.interface()->isServiceRegistered(QString::fromLatin1(EchoLinkBus::Service));
        QCoreApplication::exit(exitCode);
    });

    log(QStringLiteral("# echolink-sim ready: %1 on %2").arg(ownCallsign, QString::fromLatin1(EchoLinkBus::Service)));

    std::unique_ptr<DemoDirector> demo;
    if (parser.isSet(demoOption)) {
        const quint32 seed =
            parser.isSet(seedOption) ? parser.value(seedOption).toUInt() : QRandomGenerator::global()->generate();
        demo = std::make_unique<DemoDirector>(station, seed, pace);
        demo->start();
    }

    LineReader stdinReader(STDIN_FILENO);
    if (parser.isSet(scriptOption)) {
        // From the event loop, so that a script's close or quit can end it.
        QTimer::singleShot(0, &runner, [&runner, &scriptCommands] {
            for (const SimCommand& command : scriptCommands) {
                runner.enqueue(command);
            }
            runner.endOfInput();
        });
    } else {
        // The count lives in the lambda: this block ends long before the lines come in.
        QObject::connect(&stdinReader, &LineReader::lineRead, &runner,
                         [&runner, lineNumber = 0](const QString& line) mutable {
                             ++lineNumber;
                             QString error;
                             const auto command = parseSimCommand(line, &error);
                             if (command) {
                                 runner.enqueue(*command);
                             } else {
                                 fail(QStringLiteral("stdin:%1: %2").arg(lineNumber).arg(error));
                             }
                         });
        QObject::connect(&stdinReader, &LineReader::ended, &runner, &CommandRunner::endOfInput);
        stdinReader.start();
    }
    return app.exec();
}
