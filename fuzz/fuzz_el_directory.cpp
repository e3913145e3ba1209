// SPDX-License-Identifier: GPL-3.0-or-later
// Directory replies: the login reply, the station list read whole and cut at a split point, with the
// connection open or closed; a list and a login built from the input's pieces read back.
// Input: two bytes choosing the split point, then the reply.
#include "DirectoryProtocol.h"
#include "FuzzCheck.h"
#include "Packets.h"

#include <QList>

namespace {

struct Read {
    std::optional<el::StationList> list;
    bool incomplete = false;
    QString why;
};

Read read(QByteArrayView reply, bool streamEnded) {
    Read r;
    r.incomplete = true; // must be overwritten
    r.list = el::parseStationList(reply, streamEnded, &r.incomplete, &r.why);
    FUZZ_CHECK(!(r.list && r.incomplete));
    FUZZ_CHECK(!r.list == !r.why.isEmpty() || r.incomplete);
    FUZZ_CHECK(!streamEnded || !r.incomplete);
    return r;
}

bool same(const el::StationList& a, const el::StationList& b) {
    if (a.message != b.message || a.stations.size() != b.stations.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.stations.size(); ++i) {
        const el::StationEntry &x = a.stations[i], &y = b.stations[i];
        if (x.callsign != y.callsign || x.description != y.description || x.status != y.status || x.time != y.time ||
            x.id != y.id || x.address != y.address) {
            return false;
        }
    }
    return true;
}

void checkList(const el::StationList& list) {
    FUZZ_CHECK(list.stations.size() <= el::MaxListEntries);
    for (const el::StationEntry& e : list.stations) {
        FUZZ_CHECK(e.callsign.size() <= el::MaxListLine && e.description.size() <= el::MaxListLine);
        FUZZ_CHECK(e.time.size() <= 5 && !e.description.endsWith(u' ') && !e.description.endsWith(u'\t'));
        FUZZ_CHECK(e.address.isNull() || e.address.protocol() == QAbstractSocket::IPv4Protocol);
        for (const QChar c : e.callsign + e.description + e.time) {
            FUZZ_CHECK(c.unicode() >= 0x20 || c == u'\t' || c == u'\r');
        }
    }
}

void checkReply(QByteArrayView reply, qsizetype split) {
    FUZZ_CHECK(el::loginAccepted(reply) == reply.startsWith(QByteArrayView("OK")));
    const Read open = read(reply, false);
    const Read closed = read(reply, true);
    if (open.list) {
        checkList(*open.list);
        FUZZ_CHECK(closed.list && same(*open.list, *closed.list));
    }
    if (closed.list) {
        checkList(*closed.list);
        FUZZ_CHECK(open.list || open.incomplete);
    }
    // A reply that is (or may become) readable was never refused on its way in.
    if (open.list || open.incomplete) {
        const Read part = read(reply.first(split), false);
        FUZZ_CHECK(part.list || part.incomplete);
    }
}

// A well-formed list whose fields come from the input's NUL-separated pieces, and a login from them.
void checkBuiltList(QByteArrayView input) {
    QList<QByteArrayView> pieces;
    for (qsizetype start = 0; start <= input.size() && pieces.size() < 64;) {
        qsizetype end = input.indexOf('\0', start);
        end = end < 0 ? input.size() : end;
        pieces.append(input.sliced(start, end - start));
        start = end + 1;
    }
    QByteArray reply;
    QList<el::StationEntry> expected;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        QByteArray call = pieces[i].toByteArray().replace('\n', ' ').replace('\r', ' ').left(el::MaxListLine - 1);
        QByteArray desc = pieces[i + 1].toByteArray().replace('\n', ' ').replace('\r', ' ').replace('[', '(');
        desc = desc.left(el::MaxListLine - 20);
        if (call.isEmpty() || call == "." || call == " " || call.startsWith("+++")) {
            call.prepend('Q');
        }
        const quint32 id = static_cast<quint32>(qHash(call));
        const bool busy = id % 2;
        const QByteArray ip = QByteArray::number(id >> 24) + '.' + QByteArray::number((id >> 16) & 0xFF) + '.' +
                              QByteArray::number((id >> 8) & 0xFF) + '.' + QByteArray::number(id & 0xFF);
        reply += call + '\n' + desc + (busy ? " [BUSY 12:34]\n" : " [ON 02:21]\n") + QByteArray::number(id) + '\n' +
                 ip + '\n';
        el::StationEntry e;
        e.callsign = el::decodeReceivedText(call);
        e.description = el::decodeReceivedText(desc);
        while (e.description.endsWith(u' ') || e.description.endsWith(u'\t')) {
            e.description.chop(1);
        }
        e.status = busy ? el::DirectoryStatus::Busy : el::DirectoryStatus::Online;
        e.time = busy ? QStringLiteral("12:34") : QStringLiteral("02:21");
        e.id = id;
        e.address = QHostAddress(id);
        expected.append(e);
    }
    const QByteArray whole = "@@@\n" + QByteArray::number(expected.size()) + '\n' + reply + "+++";
    const Read r = read(whole, false);
    FUZZ_CHECK(r.list && same(*r.list, el::StationList{expected, {}}));

    if (pieces.size() >= 3) {
        const QString call = QString::fromUtf8(pieces[0]);
        const QString description = QString::fromUtf8(pieces[2]);
        const QByteArray login =
            el::buildLogin(call, QString::fromUtf8(pieces[1]), el::DirectoryStatus::Busy, QTime(23, 59), description);
        FUZZ_CHECK(login.startsWith('l') && login.endsWith('\r') && login.count('\r') == 3 && !login.contains('\n'));
        const qsizetype statusAt = login.indexOf("\rBUSY3.40(23:59)\r");
        FUZZ_CHECK(statusAt > 0 && login.size() - statusAt - 17 - 1 <= el::MaxDescription);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const QByteArrayView reply(reinterpret_cast<const char*>(data) + 2, static_cast<qsizetype>(size) - 2);
    const qsizetype split = (data[0] << 8 | data[1]) % (reply.size() + 1);
    checkReply(reply, split);
    checkBuiltList(reply);
    return 0;
}
