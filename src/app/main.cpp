// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the real parts of Parlevox and hands them to the windows.
#include "BuildConfig.h"
#include "app/AppLogging.h"
#include "app/TextMessageTTS.h"
#include "internet/InternetWindowHost.h"
#include "internet/WebEngineBrowser.h"
#include "platform/Clock.h"
#include "platform/ConfigPaths.h"
#include "platform/DBusEchoLinkClient.h"
#include "platform/InstanceLock.h"
#include "platform/QtVoice.h"
#include "platform/SettingsStore.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QMessageBox>
#include <cstdio>

namespace {

// Start-up cannot go on: say why on standard error and in a message box, then end.
int fail(const QString& text, int status) {
    std::fprintf(stderr, "parlevox: %s\n", qPrintable(text));
    QMessageBox::critical(nullptr, QString::fromLatin1(buildconfig::ProductName), text);
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QString::fromLatin1(buildconfig::ProductName));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(buildconfig::VersionMajor)
                                                .arg(buildconfig::VersionMinor)
                                                .arg(buildconfig::VersionRevision));
    // Options are read before the screen is opened, so --help and --version work without one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Speaks EchoLink chat and station announcements aloud."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "parlevox: %s\n", qPrintable(parser.errorText()));
        return 1;
    }
    if (parser.isSet(versionOption)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (parser.isSet(helpOption)) {
        // Without an application object the parser cannot know the program's name.
        QString help = parser.helpText();
        help.replace(QLatin1String("<executable_name>"), QStringLiteral("parlevox"));
        std::fputs(qPrintable(help), stdout);
        return 0;
    }

    // Reports keep the form the program's own lines have; QT_MESSAGE_PATTERN still overrides it.
    qSetMessagePattern(QStringLiteral("parlevox: %{message}"));
    webengine::prepareEnvironment();
    QApplication app(argc, argv);
    // The windows are laid out for MS Sans Serif. Where it is missing, the usual stand-in (a wide sans) cuts
    // captions off; these are about as narrow, so every caption fits.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});

    InstanceLock lock;
    if (!lock.tryLock()) {
        if (lock.heldElsewhere()) {
            std::fprintf(stderr, "parlevox: Program is already running.\n");
            QMessageBox::information(nullptr, QString::fromLatin1(buildconfig::ProductName),
                                     QStringLiteral("Program is already running."), QMessageBox::Ok);
            return 0;
        }
        // Without a lock a second copy could not be told apart; running anyway beats not running at all.
        qCWarning(lcApp).noquote()
            << QStringLiteral("cannot make the single-instance lock (%1); going on without it").arg(lock.lastError());
    }

    QString error;
    std::unique_ptr<QtVoice> voice = QtVoice::create(&error);
    if (!voice) {
        return fail(error, 2);
    }
    std::unique_ptr<DBusEchoLinkClient> echoLink = DBusEchoLinkClient::connectToSession(&error);
    if (!echoLink) {
        return fail(error, 3);
    }

    SystemClock clock;
    SettingsStore mainSettings(ConfigPaths::mainSettingsFile());
    SettingsStore internetSettings(ConfigPaths::internetSettingsFile());
    // The internet window may be made again while no station program runs; its client then binds by itself
    // when one appears, as the main window's does.
    const auto internetEchoLink = []() -> std::unique_ptr<EchoLinkClient> {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.isConnected() ? std::make_unique<DBusEchoLinkClient>(bus) : nullptr;
    };
    InternetWindowHost internet(internetSettings, internetEchoLink, webEngineBrowserFactory());

    TextMessageTTS window({*echoLink, *voice, clock, mainSettings, internet});
    QObject::connect(&window, &TextMessageTTS::endRequested, &app, [](int status) { QCoreApplication::exit(status); });
    QObject::connect(&internet, &InternetWindowHost::closingRequested, &window, &TextMessageTTS::EchoLink_Closing);
    if (!window.Form_Load(&error)) {
        return fail(error, 3);
    }
    window.show();
    return QApplication::exec();
}
