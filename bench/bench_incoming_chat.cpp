// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one incoming chat text, from its arrival to the log line and the request to speak it, with the
// incoming log empty, at 1 MB and at 10 MB. The real chat code and main window controls, with the fake
// station, voice and clock; the window is shown (offscreen), time stamps and "Announce Text" are on.
//
//   bench_incoming_chat [--runs N] [--batch N]
#include "BenchSupport.h"
#include "ui/Controls.h"
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "chat/IncomingChat.h"
#include "app/MainLayout.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <memory>
#include <vector>

namespace {

// One main window with the incoming chat feature, its log filled to about logChars characters.
struct Window {
    QWidget widget;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FakeClock clock;
    std::unique_ptr<IncomingChat> chat;
    IncomingChat::Widgets w;
    int sent = 0;

    explicit Window(qsizetype logChars) {
        w = buildMainLayout(&widget).chat.incoming;
        chat = std::make_unique<IncomingChat>(w, echoLink, voice, clock);
        QObject::connect(&echoLink, &EchoLinkClient::ChatTextReceived, chat.get(),
                         &IncomingChat::EchoLink_ChatTextReceived);
        controls::setCheckValue(w.Check2, 1);
        controls::setCheckValue(w.Check3, 1);
        if (logChars > 0) {
            // Lines as a busy evening leaves them: a stamped line of chat, about 70 characters.
            QString text;
            text.reserve(logChars + 100);
            for (int i = 0; text.size() < logChars; ++i) {
                text += QStringLiteral("QA%1BRK (21:%2)>evening all, the net starts at the top of the hour %3\n")
                            .arg(i % 10)
                            .arg(i % 60, 2, 10, QLatin1Char('0'))
                            .arg(i);
            }
            controls::appendToLog(w.IncomingText, text);
        }
        widget.show();
        QApplication::processEvents();
    }

    // Delivers count texts as the station would, each in a turn of the event loop of its own (the log puts
    // in what a turn appended when the turn ends, so this is the dearest case); returns microseconds per text.
    double deliver(int count) {
        QElapsedTimer clockTimer;
        clockTimer.start();
        for (int i = 0; i < count; ++i) {
            emit echoLink.ChatTextReceived(QStringLiteral("QA2FNV>reading you five by nine, message %1").arg(++sent));
            controls::flushLog(w.IncomingText);
        }
        const double us = double(clockTimer.nsecsElapsed()) / 1000.0 / count;
        // Painting and layout left over by the batch happen here, outside the measured handler.
        QApplication::processEvents();
        return us;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const int runs = bench::intOption(args, QStringLiteral("--runs"), 7);
    const int batch = bench::intOption(args, QStringLiteral("--batch"), 200);

    std::printf("Incoming chat: cost per ChatTextReceived (handler: filter, log line, speak request); %d runs of "
                "%d texts each\n",
                runs, batch);
    struct Size {
        const char* name;
        qsizetype chars;
    };
    const Size sizes[] = {{"empty", 0}, {"1 MB", 1000 * 1000}, {"10 MB", 10 * 1000 * 1000}};
    // The three logs take turns, run by run, so that a busy moment of the machine falls on all of them alike.
    std::vector<std::unique_ptr<Window>> windows;
    QList<bench::Figure> figures;
    for (const Size& size : sizes) {
        windows.push_back(std::make_unique<Window>(size.chars));
        windows.back()->deliver(batch); // warm-up
        figures << bench::Figure{QStringLiteral("incoming chat, log %1").arg(QLatin1String(size.name)),
                                 QStringLiteral("us/text"),
                                 {},
                                 QStringLiteral("< 200"),
                                 std::nullopt};
    }
    for (int r = 0; r < runs; ++r) {
        for (std::size_t i = 0; i < windows.size(); ++i) {
            figures[qsizetype(i)].samples << windows[i]->deliver(batch);
        }
    }
    for (std::size_t i = 0; i < windows.size(); ++i) {
        bench::Figure& f = figures[qsizetype(i)];
        f.pass = f.median() < 200;
        bench::report(f);
        bench::note(QStringLiteral("log held %1 characters at the end; %2 texts spoken")
                        .arg(windows[i]->w.IncomingText->document()->characterCount())
                        .arg(windows[i]->voice.spoken.size()));
    }
    // The ratio run by run, so that the machine's noise shows in its spread too.
    bench::Figure ratio{QStringLiteral("incoming chat, 10 MB / empty"),
                        QStringLiteral("ratio"),
                        {},
                        QStringLiteral("<= 1.5"),
                        std::nullopt};
    for (qsizetype i = 0; i < figures.first().samples.size(); ++i) {
        ratio.samples << figures.last().samples.at(i) / figures.first().samples.at(i);
    }
    ratio.pass = ratio.median() <= 1.5;
    bench::report(ratio);
    return 0;
}
