// SPDX-License-Identifier: GPL-3.0-or-later
// elpeer: a scriptable EchoLink test peer on Debian's libecholib, for the interop test of parlevox-station
// (a test tool: never installed, never part of the product). Reads one command per line on stdin and prints
// every event with a time stamp on stdout, one line each, flushed at once so a test can wait on them.
//
// Commands:  login | connect IP | chat TEXT | tone HZ SECONDS | disc | quit    (it never answers callers)
// Options:   --call CALL --bind IP [--name NAME] [--info TEXT] [--dir IP]... [--pass PW] [--desc TEXT]
#include <AsyncAudioSink.h>
#include <AsyncCppApplication.h>
#include <AsyncFdWatch.h>
#include <AsyncIpAddress.h>
#include <AsyncTimer.h>
#include <EchoLinkDirectory.h>
#include <EchoLinkDispatcher.h>
#include <EchoLinkQso.h>
#include <EchoLinkStationData.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <sigc++/sigc++.h>
#include <sstream>
#include <string>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

using namespace Async;
using namespace EchoLink;

static struct timeval t0;
static void ev(const std::string& s) {
    struct timeval now;
    gettimeofday(&now, 0);
    double t = (now.tv_sec - t0.tv_sec) + (now.tv_usec - t0.tv_usec) / 1e6;
    char ts[32];
    strftime(ts, sizeof ts, "%H:%M:%S", localtime(&now.tv_sec));
    printf("%s.%03ld +%8.3f %s\n", ts, (long)now.tv_usec / 1000, t, s.c_str());
    fflush(stdout);
}
static std::string esc(const std::string& s) // make CR/LF/NUL visible
{
    std::string o;
    for (unsigned char c : s) {
        if (c == '\r')
            o += "\\r";
        else if (c == '\n')
            o += "\\n";
        else if (c < 32 || c > 126) {
            char b[8];
            snprintf(b, 8, "\\x%02x", c);
            o += b;
        } else
            o += (char)c;
    }
    return o;
}
static const char* stateName(Qso::State s) {
    switch (s) {
    case Qso::STATE_DISCONNECTED:
        return "DISCONNECTED";
    case Qso::STATE_CONNECTING:
        return "CONNECTING";
    case Qso::STATE_BYE_RECEIVED:
        return "BYE_RECEIVED";
    case Qso::STATE_CONNECTED:
        return "CONNECTED";
    }
    return "?";
}

// Collects decoded 8 kHz audio of one reception burst and reports its peak.
struct Analyzer : public AudioSink {
    std::vector<float> buf;
    int writeSamples(const float* s, int n) override {
        if (buf.size() < 8000 * 20)
            buf.insert(buf.end(), s, s + n);
        return n;
    }
    void flushSamples(void) override { sourceAllSamplesFlushed(); }
    std::string report(void) {
        if (buf.empty())
            return "samples=0";
        double tot = 0;
        for (float x : buf)
            tot += x * x;
        double best = 0, bestf = 0;
        for (int f = 100; f <= 3500; f += 5) { // Goertzel scan
            double w = 2 * M_PI * f / 8000.0, c = 2 * cos(w), s1 = 0, s2 = 0;
            for (float x : buf) {
                double s0 = x + c * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            double p = s1 * s1 + s2 * s2 - c * s1 * s2;
            if (p > best) {
                best = p;
                bestf = f;
            }
        }
        double purity = tot > 0 ? (2.0 * best / buf.size()) / tot : 0;
        std::ostringstream o;
        o << "samples=" << buf.size() << " secs=" << buf.size() / 8000.0 << " rms=" << sqrt(tot / buf.size())
          << " peak_hz=" << bestf << " purity=" << purity;
        buf.clear();
        return o.str();
    }
};

struct Peer {
    Qso* qso;
    Analyzer an;
};

static std::string g_call, g_name, g_info, g_bind, g_pass = "x", g_desc = "elpeer test";
static std::vector<std::string> g_dirs;
static std::map<std::string, Peer*> peers; // by remote IP
static Directory* dir = 0;
static Timer* tone_timer = 0;
static double tone_phase = 0, tone_hz = 0;
static int tone_left = 0;
static std::string linebuf;

static std::vector<std::pair<Peer*, std::string>> graveyard; // deleted from the reaper timer
static void schedDelete(Peer* p, const std::string& ip) {
    graveyard.push_back({p, ip});
}
static void reap(Timer*) {
    auto g = graveyard;
    graveyard.clear();
    for (auto& e : g) {
        if (peers.count(e.second) && peers[e.second] == e.first)
            peers.erase(e.second);
        delete e.first->qso;
        delete e.first;
    }
}

static Peer* makePeer(const IpAddress& ip) {
    Peer* p = new Peer;
    p->qso = new Qso(ip, g_call, g_name, g_info);
    if (!p->qso->initOk()) {
        ev("ERROR qso init failed for " + ip.toString());
        delete p->qso;
        delete p;
        return 0;
    }
    p->qso->setUseGsmOnly(); // no PRIV "SPEEX": we speak GSM only
    p->qso->setLocalName(g_name);
    std::string ips = ip.toString();
    p->qso->registerSink(&p->an);
    p->qso->stateChange.connect([p, ips](Qso::State s) {
        ev(std::string("STATE ") + stateName(s) + " peer=" + ips + " remote_call=" + p->qso->remoteCallsign() +
           " remote_name=" + esc(p->qso->remoteName()));
        if (s == Qso::STATE_DISCONNECTED)
            schedDelete(p, ips);
    });
    p->qso->chatMsgReceived.connect([ips](const std::string& m) { ev("CHAT from=" + ips + " text=" + esc(m)); });
    p->qso->infoMsgReceived.connect([ips](const std::string& m) { ev("INFO from=" + ips + " text=" + esc(m)); });
    p->qso->isReceiving.connect([p, ips](bool on) {
        if (on) {
            ev("RXAUDIO start from=" + ips);
            return;
        }
        ev("RXAUDIO stop from=" + ips + " " + p->an.report());
    });
    peers[ips] = p;
    return p;
}

static void toneTick(Timer*) {
    float s[640];
    for (int i = 0; i < 640; ++i) {
        s[i] = 0.5f * sin(tone_phase);
        tone_phase += 2 * M_PI * tone_hz / 8000.0;
    }
    for (auto& kv : peers)
        if (kv.second->qso->currentState() == Qso::STATE_CONNECTED)
            kv.second->qso->writeSamples(s, 640);
    if (--tone_left <= 0) {
        for (auto& kv : peers)
            kv.second->qso->flushSamples();
        tone_timer->setEnable(false);
        ev("TXAUDIO done");
    }
}

static void command(const std::string& line) {
    std::istringstream is(line);
    std::string cmd;
    is >> cmd;
    std::string rest;
    std::getline(is, rest);
    if (!rest.empty() && rest[0] == ' ')
        rest.erase(0, 1);
    ev("CMD " + esc(line));
    if (cmd == "login") {
        if (dir)
            dir->makeOnline();
    } else if (cmd == "connect") {
        IpAddress ip(rest);
        Peer* p = peers.count(rest) ? peers[rest] : makePeer(ip);
        if (p && !p->qso->connect())
            ev("ERROR connect failed");
    } else if (cmd == "chat") {
        for (auto& kv : peers)
            if (!kv.second->qso->sendChatData(rest))
                ev("ERROR chat not sent to " + kv.first);
    } else if (cmd == "tone") {
        double secs = 3;
        std::istringstream r(rest);
        r >> tone_hz >> secs;
        tone_left = (int)(secs * 1000 / 80);
        tone_phase = 0;
        if (!tone_timer) {
            tone_timer = new Timer(80, Timer::TYPE_PERIODIC);
            tone_timer->expired.connect(sigc::ptr_fun(&toneTick));
        }
        tone_timer->setEnable(true);
        ev("TXAUDIO start hz=" + std::to_string(tone_hz) + " packets=" + std::to_string(tone_left));
    } else if (cmd == "disc") {
        for (auto& kv : peers)
            kv.second->qso->disconnect();
    } else if (cmd == "quit") {
        Application::app().quit();
    } else
        ev("ERROR unknown command");
}

static void stdinReady(FdWatch* w) {
    char b[1024];
    ssize_t n = read(0, b, sizeof b);
    if (n <= 0) {
        ev("STDIN closed");
        w->setEnabled(false);
        Application::app().quit();
        return;
    }
    linebuf.append(b, n);
    size_t nl;
    while ((nl = linebuf.find('\n')) != std::string::npos) {
        std::string l = linebuf.substr(0, nl);
        linebuf.erase(0, nl + 1);
        if (!l.empty())
            command(l);
    }
}

int main(int argc, char** argv) {
    gettimeofday(&t0, 0);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto nx = [&]() { return std::string(i + 1 < argc ? argv[++i] : ""); };
        if (a == "--call")
            g_call = nx();
        else if (a == "--name")
            g_name = nx();
        else if (a == "--info")
            g_info = nx();
        else if (a == "--bind")
            g_bind = nx();
        else if (a == "--dir")
            g_dirs.push_back(nx());
        else if (a == "--pass")
            g_pass = nx();
        else if (a == "--desc")
            g_desc = nx();
        else {
            std::cerr << "unknown arg " << a << "\n";
            return 2;
        }
    }
    if (g_call.empty() || g_bind.empty()) {
        std::cerr << "need --call and --bind\n";
        return 2;
    }
    if (g_info.empty())
        g_info = "elpeer test station " + g_call;
    CppApplication app;
    Dispatcher::setBindAddr(IpAddress(g_bind));
    if (Dispatcher::instance() == 0) {
        ev("ERROR cannot bind UDP 5198/5199 on " + g_bind);
        return 1;
    }
    if (!g_dirs.empty()) {
        dir = new Directory(g_dirs, g_call, g_pass, g_desc, IpAddress(g_bind));
        dir->statusChanged.connect([](StationData::Status s) { ev("DIR status=" + StationData::statusStr(s)); });
        dir->error.connect([](const std::string& m) { ev("DIR error=" + esc(m)); });
    }
    Timer reaper(250, Timer::TYPE_PERIODIC);
    reaper.expired.connect(sigc::ptr_fun(&reap));
    FdWatch w(0, FdWatch::FD_WATCH_RD);
    w.activity.connect(sigc::ptr_fun(&stdinReady));
    ev("READY call=" + g_call + " bind=" + g_bind);
    app.exec();
    for (auto& kv : peers)
        kv.second->qso->disconnect();
    ev("EXIT");
    return 0;
}
