// SPDX-License-Identifier: GPL-3.0-or-later
// The callsign rules on any callsign a station may report. Input: the callsign as UTF-8; the same bytes
// are also taken as UTF-16, which may hold unpaired surrogates.
#include "BuildConfig.h"
#include "FuzzCheck.h"
#include "platform/QrzAddress.h"
#include "stations/StationRules.h"

#include <QUrl>

using namespace stations;

namespace {

void checkAnnouncement(const QString& callsign) {
    const StationKind kind = stationKind(callsign);
    const bool conference = callsign.endsWith(u'*');
    FUZZ_CHECK((kind == StationKind::Conference) == conference);
    FUZZ_CHECK((kind == StationKind::Link) == (!conference && callsign.endsWith(QStringLiteral("-L"))));
    FUZZ_CHECK((kind == StationKind::Repeater) == (!conference && callsign.endsWith(QStringLiteral("-R"))));
    FUZZ_CHECK((kind == StationKind::PlainStation) == (!conference && !callsign.contains(u'-')));

    const QString spaced = splitCall(callsign);
    FUZZ_CHECK(spaced.size() == 2 * callsign.size());
    for (qsizetype i = 0; i < callsign.size(); ++i) {
        FUZZ_CHECK(spaced[2 * i] == callsign[i] && spaced[2 * i + 1] == u' ');
    }

    const QString announced = announcedCallsign(callsign, kind);
    switch (kind) {
    case StationKind::Conference:
        FUZZ_CHECK(announced.size() == callsign.size() && !announced.contains(u'*'));
        break;
    case StationKind::Link:
    case StationKind::Repeater:
        FUZZ_CHECK(callsign.startsWith(announced) && announced.endsWith(u'-') && announced.count(u'-') == 1);
        break;
    case StationKind::PlainStation:
        FUZZ_CHECK(announced == callsign);
        break;
    case StationKind::NotAnnounced:
        FUZZ_CHECK(announced.isEmpty() && !isLookedUp(kind));
        break;
    }
    for (const ConnectionChange change : {ConnectionChange::Connected, ConnectionChange::Disconnected}) {
        const QString text = announcementText(kind, splitCall(announced), change);
        FUZZ_CHECK(text.isEmpty() == (kind == StationKind::NotAnnounced));
        FUZZ_CHECK(text.contains(splitCall(announced)));
        const auto fixed = fixedConferenceAnnouncement(callsign, change);
        FUZZ_CHECK(!fixed || (kind == StationKind::Conference && fixed->startsWith(QStringLiteral("The "))));
    }

    const QString shown = plainDisplayText(callsign);
    FUZZ_CHECK(shown.size() == callsign.size());
    for (const QChar c : historyLine(QTime(21, 5), callsign)) {
        FUZZ_CHECK(c.category() != QChar::Other_Control && c != QChar::LineSeparator &&
                   c != QChar::ParagraphSeparator && !(c.unicode() >= 0x202A && c.unicode() <= 0x202E) &&
                   !(c.unicode() >= 0x2066 && c.unicode() <= 0x2069));
    }
}

// The address stays on the site's host, under the root's path, and the callsign is one path segment
// from which it can be read back.
void checkLookupAddress(const QString& root, const QString& callsign) {
    const QString address = qrzLookupAddress(root, callsign);
    FUZZ_CHECK(address.startsWith(root));
    const QUrl rootUrl(root, QUrl::StrictMode);
    const QUrl url(address, QUrl::StrictMode);
    FUZZ_CHECK(url.isValid());
    FUZZ_CHECK(url.scheme() == rootUrl.scheme() && url.host() == rootUrl.host() && url.port() == rootUrl.port());
    FUZZ_CHECK(!url.hasQuery() && !url.hasFragment());
    const QString segment = address.mid(root.size());
    FUZZ_CHECK(!segment.contains(u'/'));
    FUZZ_CHECK(url.path(QUrl::FullyEncoded) == rootUrl.path(QUrl::FullyEncoded) + segment);
    // A browser resolves "." and ".." segments; none may be left to resolve.
    FUZZ_CHECK(url.adjusted(QUrl::NormalizePathSegments) == url);
    const bool validText = QString::fromUtf8(callsign.toUtf8()) == callsign;
    if (validText && callsign != QStringLiteral(".") && callsign != QStringLiteral("..")) {
        FUZZ_CHECK(QUrl::fromPercentEncoding(segment.toLatin1()) == callsign);
    }
}

void checkCallsign(const QString& callsign) {
    checkAnnouncement(callsign);
    checkLookupAddress(QString::fromLatin1(buildconfig::QrzRoot), callsign);
    checkLookupAddress(QStringLiteral("http://lookup.example.net:8080/call/sign/"), callsign);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    checkCallsign(QString::fromUtf8(bytes, static_cast<qsizetype>(size)));
    QString units(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < units.size(); ++i) {
        units[i] = QChar(static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8));
    }
    checkCallsign(units);
    return 0;
}
