// SPDX-License-Identifier: GPL-3.0-or-later
// Parlevox beside a screen reader: Orca and Parlevox speak through one private speech server while the stand-in
// station plays its demo at its default pace and the user walks the window from the keyboard (30 Tabs, then 10
// arrow keys in the call history, 1.5 s apart). Counted: key presses whose answer from Orca (not its echo of the
// key) began before the next key; Orca's delay from key to its first speech; Parlevox's texts heard whole (by
// the end, and during the walk). Texts take as long as real speech (0.1 s + 0.07 s a character), so they collide.
//
//   bench_screenreader [--runs N] [--seed S]
#include "BenchSupport.h"
#include "OrcaHarness.h"
#include "ParlevoxHarness.h"
#include "SpeechHarness.h"
#include "StationHarness.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

constexpr int kKeyGapMs = 1500;
constexpr int kTabs = 30;
constexpr int kArrows = 10;

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// The speech server's voice: texts take as long as real speech, and each text begun and each spoken to the end
// is noted, also with its time (ns since the epoch).
constexpr char kVoice[] = "#!/bin/sh\nprintf '%s\\n' \"$1\" >> started.txt\n"
                          "printf '%s %s\\n' \"$(date +%s%N)\" \"$1\" >> started-times.txt\n"
                          "sleep $(awk -v n=${#1} 'BEGIN { print 0.1 + 0.07 * n }')\n"
                          "printf '%s\\n' \"$1\" >> spoken.txt\n"
                          "printf '%s %s\\n' \"$(date +%s%N)\" \"$1\" >> spoken-times.txt\n";

// The times (ms since the epoch) and texts the voice noted in file name.
QList<std::pair<qint64, QString>> timedTexts(const e2e::PrivateSpeechServer& speech, const QString& name) {
    QList<std::pair<qint64, QString>> times;
    for (const QString& line : e2e::fileLines(speech.path(name))) {
        times.append({line.section(u' ', 0, 0).toLongLong() / 1000000, line.section(u' ', 1)});
    }
    return times;
}

// A text as the speech server's module gets it: markup gone, white space folded.
QString plain(QString text) {
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    text.remove(tag);
    for (const auto& [entity, letter] :
         {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}}) {
        text.replace(QLatin1String(entity), QLatin1String(letter));
    }
    return text.simplified();
}

// Sits between one program and the speech server and notes each text the program hands over, with its time.
class SpeechTap : public QObject {
public:
    bool listen(const QString& path, const QString& serverPath) {
        serverPath_ = serverPath;
        connect(&listener_, &QLocalServer::newConnection, this, &SpeechTap::onConnection);
        return listener_.listen(path);
    }
    QString address() const { return QStringLiteral("unix_socket:") + listener_.fullServerName(); }
    const QList<std::pair<qint64, QString>>& texts() const { return texts_; }

private:
    struct Link {
        QLocalSocket* client = nullptr;
        QLocalSocket* server = nullptr;
        QByteArray pending;
        bool inText = false;
        QByteArray text;
    };

    void onConnection() {
        while (QLocalSocket* client = listener_.nextPendingConnection()) {
            auto* server = new QLocalSocket(client);
            server->connectToServer(serverPath_);
            if (!server->waitForConnected(5000)) {
                client->abort();
                continue;
            }
            auto link = std::make_shared<Link>(Link{client, server, {}, false, {}});
            connect(client, &QLocalSocket::readyRead, this, [this, link] { fromClient(*link); });
            connect(server, &QLocalSocket::readyRead, client, [link] { link->client->write(link->server->readAll()); });
            connect(client, &QLocalSocket::disconnected, server, &QLocalSocket::disconnectFromServer);
            connect(server, &QLocalSocket::disconnected, client, &QLocalSocket::disconnectFromServer);
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    }

    void fromClient(Link& link) {
        const QByteArray data = link.client->readAll();
        link.server->write(data);
        link.pending += data;
        for (qsizetype end; (end = link.pending.indexOf("\r\n")) >= 0;) {
            const QByteArray line = link.pending.left(end);
            link.pending.remove(0, end + 2);
            if (!link.inText) {
                link.inText = line.trimmed().toUpper() == "SPEAK";
                link.text.clear();
            } else if (line == ".") {
                link.inText = false;
                texts_.append({nowMs(), plain(QString::fromUtf8(link.text))});
            } else {
                link.text += (link.text.isEmpty() ? "" : "\n") + (line.startsWith("..") ? line.mid(1) : line);
            }
        }
    }

    QLocalServer listener_;
    QString serverPath_;
    QList<std::pair<qint64, QString>> texts_;
};

// Screen, window manager, session and accessibility buses, speech server, stand-in station with its demo, Parlevox
// and Orca, all private to one run.
class Rig {
public:
    Rig() = default;
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;
    ~Rig() {
        e2e::stopProcess(parlevox_); // before Orca and the buses
    }

    bool start(quint32 seed, QString* error) {
        if (!home_.isValid() || !QDir(home_.path()).mkpath(QStringLiteral("run"))) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        QFile::setPermissions(home_.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (const QString lacking = e2e::OrcaScreenReader::missing(); !lacking.isEmpty()) {
            *error = lacking;
            return false;
        }
        if (!screen_.start(error) || !bus_.start(error)) {
            return false;
        }
        const QString problem = speech_.start();
        if (!problem.isEmpty() || !writeFile(speech_.path(QStringLiteral("synth.sh")), kVoice)) {
            *error = QStringLiteral("no speech server: ") + problem;
            return false;
        }
        if (!parlevoxTap_.listen(home_.filePath(QStringLiteral("parlevox-speech")), speech_.socketPath())) {
            *error = QStringLiteral("cannot listen for Parlevox's speech");
            return false;
        }
        // Orca, its window manager and the accessibility bus come first: Qt looks for the bus as it starts.
        if (const QString orcaProblem = orca_.start(environment(), screen_.display()); !orcaProblem.isEmpty()) {
            *error = orcaProblem;
            return false;
        }
        station_ = std::make_unique<e2e::StationProcess>(bus_);
        station_->setEnvironment(environment());
        if (!station_->start({QStringLiteral("--callsign"), QStringLiteral("QA1TST"), QStringLiteral("--demo"),
                              QStringLiteral("--seed"), QString::number(seed)},
                             error)) {
            return false;
        }
        QProcessEnvironment parlevoxEnv;
        parlevoxEnv.insert(QStringLiteral("SPEECHD_ADDRESS"), parlevoxTap_.address());
        parlevoxEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        parlevoxEnv.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        if (!launch(parlevox_, QStringLiteral(PARLEVOX_PATH), {}, parlevoxEnv, error)) {
            return false;
        }
        window_ = screen_.findWindow(QStringLiteral("^Parlevox"));
        if (window_.isEmpty() ||
            !screen_.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window_})) {
            *error = QStringLiteral("the Parlevox window did not show");
            return false;
        }
        return true;
    }

    // With the event loop running all the while: Parlevox's speech passes through it.
    void pressKey(const QString& key) {
        QProcess xdotool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), screen_.display());
        xdotool.setProcessEnvironment(env);
        xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), key});
        (void)QTest::qWaitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 5000);
    }
    // No more station news: what Parlevox still has to say can then be counted to its end.
    void stopStation() { station_->stop(); }
    bool running() const { return parlevox_.state() == QProcess::Running && orca_.isRunning(); }
    const e2e::VirtualScreen& screen() const { return screen_; }
    QString window() const { return window_; }
    const e2e::PrivateSpeechServer& speech() const { return speech_; }
    const SpeechTap& parlevoxTap() const { return parlevoxTap_; }

private:
    QProcessEnvironment environment() const {
        QProcessEnvironment env = bus_.environment();
        env.insert(QStringLiteral("DISPLAY"), screen_.display());
        env.insert(QStringLiteral("HOME"), home_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home_.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home_.filePath(QStringLiteral("cache")));
        // The speech client's configuration there forbids starting a server of its own.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), speech_.configHome());
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("SPEECHD_ADDRESS"));
        return env;
    }

    QString logPath(const QString& program) const {
        return home_.filePath(QFileInfo(program).fileName() + QStringLiteral(".log"));
    }

    bool launch(QProcess& process, const QString& program, const QStringList& arguments,
                const QProcessEnvironment& extra, QString* error) {
        QProcessEnvironment env = environment();
        for (const QString& name : extra.keys()) {
            env.insert(name, extra.value(name));
        }
        e2e::dieWithParent(process);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(logPath(program)); // a pipe nobody reads could fill and block it
        process.start(program, arguments);
        if (!process.waitForStarted(10000)) {
            *error = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
            return false;
        }
        return true;
    }

    QTemporaryDir home_;
    e2e::VirtualScreen screen_;
    e2e::PrivateBus bus_;
    e2e::PrivateSpeechServer speech_;
    e2e::OrcaScreenReader orca_{speech_};
    SpeechTap parlevoxTap_;
    std::unique_ptr<e2e::StationProcess> station_;
    QProcess parlevox_;
    QString window_;
};

struct RunResult {
    int answered = 0;             // keys whose answer from Orca began before the next key
    int answeredWhole = 0;        // ... and was spoken to its end
    QList<double> delaysMs;       // key to Orca's first speech
    QList<double> answerDelaysMs; // key to the start of Orca's answer
    int ourTexts = 0;             // texts Parlevox handed over
    int ourHeardWhole = 0;        // of them, spoken to the end by the time Parlevox was quiet
    int ourHeardDuringWalk = 0;   // texts of Parlevox spoken to the end while the keys were pressed
};

std::optional<RunResult> runOnce(quint32 seed, QString* error) {
    Rig rig;
    if (!rig.start(seed, error)) {
        return std::nullopt;
    }
    QTest::qWait(5000); // Orca reads the window; the first station news is spoken

    // 30 Tabs through the window, then a click on the call history's first entry and 10 Down arrows in it.
    QList<std::pair<qint64, QString>> keys;
    for (int i = 0; i < kTabs + kArrows; ++i) {
        if (i == kTabs) {
            rig.screen().click(rig.window(), QPoint(540, 36));
            QTest::qWait(kKeyGapMs);
        }
        // Down and Up in turn, so that each moves to another line of the history, however few it has.
        const QString key = i < kTabs         ? QStringLiteral("Tab")
                            : (i - kTabs) % 2 ? QStringLiteral("Up")
                                              : QStringLiteral("Down");
        const qint64 at = nowMs();
        keys.append({at, key});
        rig.pressKey(key);
        QTest::qWait(int(at + kKeyGapMs - nowMs()));
    }
    const qint64 walkEnd = nowMs();
    rig.stopStation();
    if (!rig.running()) {
        *error = QStringLiteral("Parlevox or Orca ended during the run");
        return std::nullopt;
    }

    // Parlevox's texts, each must be heard whole once; a text said again after the screen reader cut it off is the
    // same text. Only the first of its queue is with the server at a time: the rest is seen as the queue drains.
    QList<std::pair<qint64, QString>> ours;
    QSet<QString> ourWords;
    const auto countHeard = [&](bool collect) {
        const QList<std::pair<qint64, QString>> ends = timedTexts(rig.speech(), QStringLiteral("spoken-times.txt"));
        QList<bool> used(ends.size(), false);
        int heard = 0;
        QString last;
        qint64 lastAt = 0;
        for (const auto& [at, text] : rig.parlevoxTap().texts()) {
            // Structured bindings cannot be captured by clang 14, hence the named capture.
            const auto ended = [&, &spoken = text](qint64 from, qint64 to, bool anyEnd) {
                for (qsizetype e = 0; e < ends.size(); ++e) {
                    if ((anyEnd || !used[e]) && ends[e].first >= from && ends[e].first <= to &&
                        ends[e].second.simplified() == spoken) {
                        return e;
                    }
                }
                return qsizetype(-1);
            };
            const bool again = text == last && ended(lastAt, at, true) < 0;
            last = text;
            lastAt = at;
            if (again) {
                continue;
            }
            if (collect) {
                ours.append({at, text});
                ourWords.insert(text);
            }
            const qsizetype e = ended(at, std::numeric_limits<qint64>::max(), false);
            if (e >= 0) {
                used[e] = true;
                ++heard;
            }
        }
        return heard;
    };
    // Drained: everything handed over was heard whole, and nothing new came for a while.
    qsizetype handedOver = -1;
    for (QDeadlineTimer deadline(300000); !deadline.hasExpired();) {
        ours.clear();
        if (countHeard(true) == ours.size() && handedOver == rig.parlevoxTap().texts().size()) {
            break;
        }
        handedOver = rig.parlevoxTap().texts().size();
        QTest::qWait(5000);
    }
    const int total = int(ours.size());

    RunResult result;
    result.ourTexts = total;
    result.ourHeardWhole = countHeard(false);
    const QList<std::pair<qint64, QString>> starts = timedTexts(rig.speech(), QStringLiteral("started-times.txt"));
    const QList<std::pair<qint64, QString>> ends = timedTexts(rig.speech(), QStringLiteral("spoken-times.txt"));
    for (const auto& [at, text] : ends) {
        result.ourHeardDuringWalk += at >= keys.first().first && at <= walkEnd && ourWords.contains(text.simplified());
    }
    for (qsizetype k = 0; k < keys.size(); ++k) {
        const qint64 from = keys[k].first;
        const qint64 to = k + 1 < keys.size() ? keys[k + 1].first : from + kKeyGapMs;
        bool spoke = false;
        for (const auto& [at, line] : starts) {
            const QString text = line.simplified();
            if (at < from || at >= to || ourWords.contains(text)) {
                continue;
            }
            if (!spoke) {
                result.delaysMs << double(at - from);
                spoke = true;
            }
            if (text.compare(keys[k].second, Qt::CaseInsensitive) == 0) {
                continue; // the echo of the key
            }
            ++result.answered;
            result.answerDelaysMs << double(at - from);
            result.answeredWhole += std::any_of(ends.cbegin(), ends.cend(), [&, start = at](const auto& end) {
                return end.first >= start && end.second.simplified() == text;
            });
            break;
        }
    }
    return result;
}

double median(QList<double> values) {
    if (values.isEmpty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int runs = bench::intOption(args, QStringLiteral("--runs"), 3);
    const int seed = bench::intOption(args, QStringLiteral("--seed"), 7);
    std::printf("Screen reader: Orca and Parlevox on one speech server, the demo station at its default pace, %d Tabs "
                "and %d arrow keys %d ms apart; %d runs\n",
                kTabs, kArrows, kKeyGapMs, runs);

    const int keys = kTabs + kArrows;
    bench::Figure answered{QStringLiteral("screen reader: keys with Orca's answer heard"),
                           QStringLiteral("of 40"),
                           {},
                           QStringLiteral(">= 35"),
                           std::nullopt};
    bench::Figure delay{QStringLiteral("screen reader: Orca's median delay from key to speech"),
                        QStringLiteral("ms"),
                        {},
                        QStringLiteral("< 200"),
                        std::nullopt};
    bench::Figure answerDelay{QStringLiteral("screen reader: Orca's median delay from key to its answer"),
                              QStringLiteral("ms"),
                              {},
                              {},
                              std::nullopt};
    bench::Figure whole{QStringLiteral("screen reader: Parlevox texts heard whole"),
                        QStringLiteral("%"),
                        {},
                        QStringLiteral("= 100"),
                        std::nullopt};
    bench::Figure during{QStringLiteral("screen reader: Parlevox texts heard whole during the walk"),
                         QStringLiteral("texts"),
                         {},
                         QStringLiteral(">= 1"),
                         std::nullopt};
    for (int r = 1; r <= runs; ++r) {
        QString error;
        const std::optional<RunResult> result = runOnce(quint32(seed + r - 1), &error);
        if (!result) {
            std::fprintf(stderr, "bench_screenreader: %s\n", qPrintable(error));
            return 1;
        }
        answered.samples << result->answered;
        delay.samples << median(result->delaysMs);
        answerDelay.samples << median(result->answerDelaysMs);
        whole.samples << (result->ourTexts ? 100.0 * result->ourHeardWhole / result->ourTexts : 100.0);
        during.samples << result->ourHeardDuringWalk;
        bench::note(QStringLiteral("run %1: answer heard for %2 of %3 keys (%4 of them whole), Orca spoke after %5 "
                                   "keys, median delay %6 ms (to the answer %7 ms), Parlevox %8 of %9 texts heard "
                                   "whole, %10 of them during the walk")
                        .arg(r)
                        .arg(result->answered)
                        .arg(keys)
                        .arg(result->answeredWhole)
                        .arg(result->delaysMs.size())
                        .arg(delay.samples.last())
                        .arg(answerDelay.samples.last())
                        .arg(result->ourHeardWhole)
                        .arg(result->ourTexts)
                        .arg(result->ourHeardDuringWalk));
    }
    answered.pass = answered.median() >= 35;
    delay.pass = delay.median() >= 0 && delay.median() < 200;
    whole.pass = whole.min() >= 100;
    during.pass = during.median() >= 1;
    for (const bench::Figure* figure : {&answered, &delay, &answerDelay, &whole, &during}) {
        bench::report(*figure);
    }
    bench::note(QStringLiteral("Texts take 0.1 s + 0.07 s a character at the speech server; heard means begun "
                               "before the next key (Orca cuts its own answer off then), the echo of the key aside"));
    return 0;
}
