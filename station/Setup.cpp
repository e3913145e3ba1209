// SPDX-License-Identifier: GPL-3.0-or-later
#include "Setup.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTime>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

// The reader skips lines over 1024 bytes; KEY= comes before the value.
constexpr qsizetype MaxAnswerBytes = 1000;
constexpr int MaxLocation = static_cast<int>(el::MaxDescription);
// A login reply is judged by its first line; anything longer is not a directory we can talk to.
constexpr qsizetype MaxReply = 1024;
constexpr qsizetype MaxReplyShown = 80;
constexpr int LogoffTimeoutMs = 3000;

// Echo stays off only while the password is typed; a signal then must not leave the terminal silent.
struct termios savedTerminal {};
int echoOffFd = -1;

extern "C" void restoreEchoAndEnd(int signal) {
    if (echoOffFd >= 0) {
        ::tcsetattr(echoOffFd, TCSANOW, &savedTerminal);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class EchoOff {
public:
    explicit EchoOff(int fd) {
        if (::tcgetattr(fd, &savedTerminal) != 0) {
            return;
        }
        struct sigaction action {};
        action.sa_handler = restoreEchoAndEnd;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < SignalCount; ++i) {
            ::sigaction(Signals[i], &action, &previous_[i]);
        }
        struct termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        echoOffFd = fd;
        // TCSANOW: answers typed ahead stay in the queue.
        ::tcsetattr(fd, TCSANOW, &quiet);
    }
    ~EchoOff() {
        if (echoOffFd < 0) {
            return;
        }
        ::tcsetattr(echoOffFd, TCSANOW, &savedTerminal);
        echoOffFd = -1;
        for (int i = 0; i < SignalCount; ++i) {
            ::sigaction(Signals[i], &previous_[i], nullptr);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    static constexpr int SignalCount = 4;
    static constexpr int Signals[SignalCount] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction previous_[SignalCount] {};
};

// Control characters and bytes that are not UTF-8 would end up in the file and in packets to other stations.
QString plainTextProblem(const QString& text) {
    for (const QChar c : text) {
        if (c == QChar::ReplacementCharacter || (!c.isPrint() && c != QLatin1Char(' '))) {
            return QStringLiteral("That holds control characters or bytes that are not text; please type it again.");
        }
    }
    return {};
}

QString notEmpty(const QString& text) {
    return text.isEmpty() ? QStringLiteral("Please enter something: it is sent to the stations you talk to.")
                          : QString();
}

// The reply's first line, safe to show.
QString firstLine(const QByteArray& reply) {
    QString out;
    for (const char ch : reply) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n' || out.size() >= MaxReplyShown) {
            break;
        }
        out += (c >= 0x20 && c < 0x7f) ? QChar(char16_t(c)) : QChar(u'?');
    }
    return out;
}

// One exchange with one server: the reply up to its first line end, the server closing, MaxReply bytes or the
// deadline. Empty with *why set when there was no answer.
QByteArray exchange(const QString& server, quint16 port, const QHostAddress& bind, const QByteArray& request,
                    int timeoutMs, QString* why) {
    QTcpSocket socket;
    socket.setReadBufferSize(MaxReply);
    if (!bind.isNull() && bind != QHostAddress(QHostAddress::AnyIPv4) && !socket.bind(bind)) {
        *why = QStringLiteral("%1: cannot use the local address %2: %3")
                   .arg(server, bind.toString(), socket.errorString());
        return {};
    }
    const QDeadlineTimer deadline(timeoutMs);
    const auto left = [&] { return static_cast<int>(qMax<qint64>(1, deadline.remainingTime())); };
    socket.connectToHost(server, port);
    if (!socket.waitForConnected(left())) {
        *why = QStringLiteral("%1: %2").arg(server, socket.errorString());
        return {};
    }
    socket.write(request);
    QByteArray reply;
    while (reply.size() < MaxReply && !reply.contains('\n') && !reply.contains('\r')) {
        if (socket.bytesAvailable() == 0 && (deadline.hasExpired() || !socket.waitForReadyRead(left()))) {
            break;
        }
        reply += socket.read(MaxReply - reply.size());
    }
    if (reply.isEmpty()) {
        *why = socket.state() == QAbstractSocket::ConnectedState
                   ? QStringLiteral("%1 did not answer within %2 s").arg(server).arg(timeoutMs / 1000)
                   : QStringLiteral("%1 closed the connection without answering").arg(server);
    }
    return reply;
}

} // namespace

Setup::Setup(Options options, std::FILE* in, std::FILE* out)
    : options_(std::move(options)), in_(in), out_(out), terminal_(::isatty(::fileno(in)) == 1) {}

void Setup::say(const QString& text) {
    sayPrompt(text + QLatin1Char('\n'));
}

void Setup::sayPrompt(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
    std::fflush(out_);
}

std::optional<QByteArray> Setup::readLine(bool* tooLong) {
    QByteArray line;
    *tooLong = false;
    int c = 0;
    while ((c = std::fgetc(in_)) != EOF && c != '\n') {
        if (line.size() < MaxAnswerBytes) {
            line += static_cast<char>(c);
        } else {
            *tooLong = true; // read on to the line end, keep nothing more
        }
    }
    if (c == EOF && line.isEmpty() && !*tooLong) {
        return std::nullopt;
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

template <typename Check>
Setup::Read Setup::ask(const QString& prompt, const QString& fallback, bool secret, Check check, QString* answer) {
    for (;;) {
        std::optional<QByteArray> line;
        bool tooLong = false;
        {
            std::optional<EchoOff> quiet;
            if (secret && terminal_) {
                quiet.emplace(::fileno(in_));
            }
            sayPrompt(prompt);
            line = readLine(&tooLong);
        }
        if (secret && terminal_) {
            say({}); // the Enter was not echoed either
        }
        if (!line) {
            return Read::Ended;
        }
        QString text = QString::fromUtf8(*line);
        if (!secret) {
            text = text.trimmed();
        }
        if (text.isEmpty() && line->isEmpty()) {
            text = fallback;
        }
        QString problem =
            tooLong ? QStringLiteral("That is longer than %1 bytes; please keep it shorter.").arg(MaxAnswerBytes)
                    : plainTextProblem(text);
        if (problem.isEmpty()) {
            problem = check(text);
        }
        if (problem.isEmpty()) {
            *answer = text;
            return Read::Answer;
        }
        say(problem);
    }
}

bool Setup::loadCurrent(StationSettings* settings, bool* haveCurrent) {
    *haveCurrent = QFileInfo::exists(options_.path);
    if (!*haveCurrent) {
        return true;
    }
    SettingsLoad load = loadStationSettings(options_.path);
    for (const QString& warning : std::as_const(load.warnings)) {
        say(QStringLiteral("Note: ") + warning);
    }
    if (!load.settings) {
        // A missing or bad CALLSIGN is what setup is for; the other keys are still worth keeping. The copy
        // is private (QTemporaryFile makes it 0600) and holds a stand-in callsign the reader takes.
        QFile original(options_.path);
        QTemporaryFile copy;
        if (original.open(QIODevice::ReadOnly) && copy.open()) {
            copy.write(original.read(qint64(64) * 1024) + "\n[STATION]\nCALLSIGN=N0CALL\n");
            copy.flush();
            load = loadStationSettings(copy.fileName());
        }
        if (!load.settings) {
            say(QStringLiteral("Cannot read %1 (%2); nothing was changed.").arg(options_.path, original.errorString()));
            return false;
        }
        load.settings->callsign.clear();
        load.settings->file = options_.path;
    }
    *settings = *load.settings;
    return true;
}

int Setup::run() {
    std::optional<QStringList> servers;
    if (!options_.directoryOverride.isEmpty()) {
        servers = parseDirectoryServers(options_.directoryOverride);
        if (!servers) {
            say(QStringLiteral("--directory %1 is not a comma-separated list of host names")
                    .arg(options_.directoryOverride));
            return 2;
        }
    }
    StationSettings s;
    bool haveCurrent = false;
    if (!loadCurrent(&s, &haveCurrent)) {
        return 1;
    }
    say(QStringLiteral("Setting up parlevox-station. The settings go to %1.").arg(options_.path));
    if (haveCurrent) {
        say(QStringLiteral("Press Enter alone to keep the value in brackets."));
    }
    const auto current = [](const QString& value) {
        return value.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(value);
    };

    QString call;
    QString password;
    QString name;
    QString location;
    QString info;
    const auto checkCall = [](const QString& text) {
        if (text.isEmpty()) {
            return QStringLiteral("A callsign is needed: the one EchoLink validated for you.");
        }
        return plausibleCallsign(text.toUpper())
                   ? QString()
                   : QStringLiteral("%1 is not a callsign: 3 to 15 letters, digits, - or /; a conference may have "
                                    "a * at either end.")
                         .arg(text);
    };
    const auto checkPassword = [](const QString& text) {
        if (text.isEmpty()) {
            return QStringLiteral("The directory needs your EchoLink password.");
        }
        if (text != text.trimmed()) {
            return QStringLiteral("The settings file cannot keep spaces at the start or end of a password.");
        }
        return QString();
    };
    const auto checkLocation = [](const QString& text) {
        if (text.size() > MaxLocation) {
            return QStringLiteral("That is %1 characters; the directory shows only %2.")
                .arg(text.size())
                .arg(MaxLocation);
        }
        return QString();
    };
    const QString keepPassword = s.password.isEmpty() ? QString() : QStringLiteral(" [keep current]");
    const QString hidden = terminal_ ? QStringLiteral(" (not shown as you type)") : QString();
    const bool answered =
        ask(QStringLiteral("Callsign%1: ").arg(current(s.callsign)), s.callsign, false, checkCall, &call) ==
            Read::Answer &&
        ask(QStringLiteral("EchoLink password%1%2: ").arg(hidden, keepPassword), s.password, true, checkPassword,
            &password) == Read::Answer &&
        ask(QStringLiteral("Your name%1: ").arg(current(s.name)), s.name, false, notEmpty, &name) == Read::Answer &&
        ask(QStringLiteral("Location for the station list, up to %1 characters%2: ")
                .arg(MaxLocation)
                .arg(current(s.location)),
            s.location, false, checkLocation, &location) == Read::Answer &&
        ask(QStringLiteral("Information sent to each station that connects%1: ").arg(current(s.info)), s.info, false,
            notEmpty, &info) == Read::Answer;
    if (!answered) {
        say(QStringLiteral("\nThe input ended before every answer was given; %1 was not changed.").arg(options_.path));
        return 1;
    }
    s.callsign = call.toUpper();
    s.password = password;
    s.name = name;
    s.location = location;
    s.info = info;
    QString why;
    if (!writeStationSettings(options_.path, s, &why)) {
        say(QStringLiteral("Cannot write %1: %2").arg(options_.path, why));
        return 1;
    }
    say(QStringLiteral("Saved %1 (readable by you only).").arg(options_.path));

    const QStringList loginServers = servers.value_or(s.directoryServers);
    say(QStringLiteral("Logging in to the directory (%1) to check the callsign and password...")
            .arg(loginServers.join(QStringLiteral(", "))));
    const LoginResult result = tryLogin(s, loginServers);
    switch (result.kind) {
    case LoginResult::Accepted:
        say(QStringLiteral("The directory %1 accepted the login of %2. Start the station with: parlevox-station")
                .arg(result.server, s.callsign));
        break;
    case LoginResult::Refused:
        say(QStringLiteral("The directory %1 refused the login of %2; it answered: %3\nCheck the callsign and "
                           "password and run parlevox-station --setup again. The settings were saved as typed.")
                .arg(result.server, s.callsign, result.detail));
        break;
    case LoginResult::Unreachable:
        say(QStringLiteral("No directory server could be reached (%1), so the callsign and password are not "
                           "checked yet. The settings were saved; the station logs in when it starts.")
                .arg(result.detail));
        break;
    }
    return 0;
}

Setup::LoginResult Setup::tryLogin(const StationSettings& settings, const QStringList& servers) const {
    QStringList failures;
    for (const QString& server : servers) {
        QString why;
        const QByteArray reply =
            exchange(server, options_.directoryPort, settings.bind,
                     el::buildLogin(settings.callsign, settings.password, el::DirectoryStatus::Online,
                                    QTime::currentTime(), settings.location),
                     options_.loginTimeoutMs, &why);
        if (reply.isEmpty()) {
            failures << why;
            continue;
        }
        if (!el::loginAccepted(reply)) {
            return {LoginResult::Refused, server, QStringLiteral("\"%1\"").arg(firstLine(reply))};
        }
        // The station is not on the air yet: take it off the list again rather than leave it listed for minutes.
        exchange(server, options_.directoryPort, settings.bind,
                 el::buildLogin(settings.callsign, settings.password, el::DirectoryStatus::Off, QTime::currentTime(),
                                settings.location),
                 LogoffTimeoutMs, &why);
        return {LoginResult::Accepted, server, {}};
    }
    return {LoginResult::Unreachable, {}, failures.join(QStringLiteral("; "))};
}
