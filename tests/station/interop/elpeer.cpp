// SPDX-License-Identifier: GPL-3.0-or-later
// elpeer: an EchoLink test peer on Debian's libecholib (a test tool, never installed, never in the product).
// Reads commands on stdin:  login | connect IP | chat TEXT | tone HZ SECONDS | disc   (it never answers callers)
// and prints each event as one line after the seconds since it started, flushed at once so that a test can wait
// on it. Options, all needed: --call CALL --bind IP --name NAME --dir IP --pass PW --desc TEXT
#include <AsyncAudioSink.h>
#include <AsyncCppApplication.h>
#include <AsyncFdWatch.h>
#include <AsyncIpAddress.h>
#include <AsyncTimer.h>
#include <EchoLinkDirectory.h>
#include <EchoLinkDispatcher.h>
#include <EchoLinkQso.h>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>
#include <vector>

using namespace Async;
using namespace EchoLink;

static void ev(const std::string& s) {
    static const auto start = std::chrono::steady_clock::now();
    printf("%8.3f %s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), s.c_str());
    fflush(stdout);
}
static std::string esc(const std::string& s) { // CR, LF, NUL and the like made visible
    std::string o;
    for (unsigned char c : s) {
        char b[8];
        snprintf(b, sizeof b, "\\x%02x", c);
        o += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c < 32 || c > 126 ? b : std::string(1, char(c));
    }
    return o;
}

// A remote station, and the decoded audio of one reception reported with its strongest frequency and that
// frequency's share of energy.
struct Peer : AudioSink {
    std::unique_ptr<Qso> qso;
    std::vector<float> buf;
    int writeSamples(const float* s, int n) override {
        if (buf.size() < 8000 * 20)
            buf.insert(buf.end(), s, s + n);
        return n;
    }
    void flushSamples() override { sourceAllSamplesFlushed(); }
    std::string report() {
        double tot = 0, best = 0, bestf = 0;
        for (float x : buf)
            tot += x * x;
        for (int f = 100; f <= 3500; f += 5) { // Goertzel
            double c = 2 * cos(2 * M_PI * f / 8000.0), s1 = 0, s2 = 0;
            for (float x : buf)
                s2 = std::exchange(s1, x + c * s1 - s2);
            double p = s1 * s1 + s2 * s2 - c * s1 * s2;
            if (p > best)
                best = p, bestf = f;
        }
        std::ostringstream o;
        o << "samples=" << buf.size() << " secs=" << buf.size() / 8000.0 << " rms=" << sqrt(tot / buf.size())
          << " peak_hz=" << bestf << " purity=" << (tot > 0 ? 2.0 * best / buf.size() / tot : 0);
        buf.clear();
        return o.str();
    }
};

static std::map<std::string, std::string> opt;
static std::map<std::string, std::unique_ptr<Peer>> peers; // by remote IP
static std::vector<std::unique_ptr<Peer>> ended;           // kept: they end inside their own signal
static std::unique_ptr<Directory> dir;
static std::unique_ptr<Timer> toneTimer;
static double phase = 0, toneHz = 0;
static int toneLeft = 0;

static Peer* makePeer(const std::string& ip) {
    auto p = std::make_unique<Peer>();
    p->qso = std::make_unique<Qso>(IpAddress(ip), opt["--call"], opt["--name"], "elpeer");
    if (!p->qso->initOk())
        return ev("ERROR qso init failed for " + ip), nullptr;
    Peer* raw = p.get();
    raw->qso->setUseGsmOnly();
    raw->qso->registerSink(raw);
    raw->qso->stateChange.connect([raw, ip](Qso::State s) {
        static const char* names[] = {"DISCONNECTED", "CONNECTING", "BYE_RECEIVED", "CONNECTED"};
        ev(std::string("STATE ") + names[s] + " peer=" + ip + " remote_call=" + raw->qso->remoteCallsign() +
           " remote_name=" + esc(raw->qso->remoteName()));
        if (s == Qso::STATE_DISCONNECTED && peers.count(ip))
            ended.push_back(std::move(peers[ip])), peers.erase(ip);
    });
    raw->qso->chatMsgReceived.connect([ip](const std::string& m) { ev("CHAT from=" + ip + " text=" + esc(m)); });
    raw->qso->infoMsgReceived.connect([ip](const std::string& m) { ev("INFO from=" + ip + " text=" + esc(m)); });
    raw->qso->isReceiving.connect(
        [raw, ip](bool on) { ev(on ? "RXAUDIO start from=" + ip : "RXAUDIO stop from=" + ip + " " + raw->report()); });
    return (peers[ip] = std::move(p)).get();
}

static void toneTick(Timer*) {
    float s[640];
    for (float& x : s)
        x = 0.5f * float(sin(phase)), phase += 2 * M_PI * toneHz / 8000.0;
    for (auto& [ip, p] : peers)
        if (p->qso->currentState() == Qso::STATE_CONNECTED)
            p->qso->writeSamples(s, 640);
    if (--toneLeft <= 0) {
        for (auto& [ip, p] : peers)
            p->qso->flushSamples();
        toneTimer->setEnable(false);
    }
}

static void command(const std::string& line) {
    const std::string cmd = line.substr(0, line.find(' '));
    const std::string rest = line.size() > cmd.size() ? line.substr(cmd.size() + 1) : "";
    if (cmd == "login") {
        dir->makeOnline();
    } else if (cmd == "connect") {
        Peer* p = peers.count(rest) ? peers[rest].get() : makePeer(rest);
        if (p)
            p->qso->connect();
    } else if (cmd == "chat") {
        for (auto& [ip, p] : peers)
            p->qso->sendChatData(rest);
    } else if (cmd == "tone") {
        double secs = 3;
        std::istringstream(rest) >> toneHz >> secs;
        toneLeft = int(secs * 1000 / 80), phase = 0;
        toneTimer->setEnable(true);
    } else if (cmd == "disc") {
        for (auto& [ip, p] : peers)
            p->qso->disconnect();
    } else {
        ev("ERROR unknown command");
    }
}

static void stdinReady(FdWatch* w) {
    static std::string buf;
    char b[1024];
    const ssize_t n = read(0, b, sizeof b);
    if (n <= 0)
        return w->setEnabled(false), Application::app().quit();
    buf.append(b, size_t(n));
    for (size_t nl; (nl = buf.find('\n')) != std::string::npos; buf.erase(0, nl + 1))
        if (nl > 0)
            command(buf.substr(0, nl));
}

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2)
        opt[argv[i]] = argv[i + 1];
    CppApplication app;
    Dispatcher::setBindAddr(IpAddress(opt["--bind"]));
    if (Dispatcher::instance() == nullptr)
        return ev("ERROR cannot bind UDP 5198/5199 on " + opt["--bind"]), 1;
    dir = std::make_unique<Directory>(std::vector<std::string>{opt["--dir"]}, opt["--call"], opt["--pass"],
                                      opt["--desc"], IpAddress(opt["--bind"]));
    dir->statusChanged.connect([](StationData::Status s) { ev("DIR status=" + StationData::statusStr(s)); });
    toneTimer = std::make_unique<Timer>(80, Timer::TYPE_PERIODIC);
    toneTimer->setEnable(false);
    toneTimer->expired.connect(sigc::ptr_fun(&toneTick));
    FdWatch w(0, FdWatch::FD_WATCH_RD);
    w.activity.connect(sigc::ptr_fun(&stdinReady));
    ev("READY call=" + opt["--call"] + " bind=" + opt["--bind"]);
    app.exec();
    _exit(0); // the library's objects outlive the application otherwise
}
