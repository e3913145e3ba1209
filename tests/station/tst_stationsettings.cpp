// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "StationSettings.h"

#include <QTemporaryDir>

namespace {
QString describe(const StationSettings& s) {
    const char* accept[] = {"directory", "any", "none"};
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
               .arg(s.callsign, s.password, s.name, s.location, s.info, s.directoryServers.join(u','),
                    s.bind.toString(), QString::number(s.maxConnections), QString::fromLatin1(accept[int(s.accept)])) +
           QStringLiteral("|%1|%2|%3|%4")
               .arg(s.audioIn, s.audioOut, QString::number(s.rxGainDb), QString::number(s.txGainDb));
}
const QString Ok = QStringLiteral("QA1ABC|pw||||servers.echolink.org|0.0.0.0|4|directory|||0|0");
} // namespace

class TestStationSettings : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    const QString path_ = dir_.filePath(QStringLiteral("station.ini"));

private slots:
    // body: after "[STATION]\nCALLSIGN=QA1ABC\n" unless it has one; null: no file. expected empty: refused.
    void load_data() {
        columns<QByteArray, QString, QString>("body", "expected", "warning"); // a part of the one warning or the error
        row("keys and ACCEPT in any case",
            QByteArray("Password= p;a#s\"\\,1 \nname=Ann\ndirectory= a.example , b "
                       ",\nbind=127.0.0.5\nmaxconnections=100\naccept=ANY"),
            "QA1ABC|p;a#s\"\\,1|Ann|||a.example,b|127.0.0.5|100|any|||0|0", "");
        row("sound devices and gains",
            QByteArray("PASSWORD=pw\nAUDIOIN=USB Mic [x]\naudioout= Speakers \nRXGAIN=-40\nTXGAIN=+6.5"),
            Ok.chopped(6) + QStringLiteral("|USB Mic [x]|Speakers|-40|6.5"), "");
        row("BOM, CRLF, comments, other section",
            QByteArray(
                "\xEF\xBB\xBF; x\r\n[OTHER]\r\nCALLSIGN=QA9BAD\r\n[ station ]\r\nCALLSIGN=QA1ABC\r\nPASSWORD=pw\r\n"),
            Ok, "");
        row("junk lines skipped",
            QByteArray("\x01\xff\xfe junk\n[STATION\nNAME=") + QByteArray(5000, 'x') +
                QByteArray("\nINFO=a\0b\nPASSWORD=pw", 21),
            Ok, "4 line(s) could not be read and were ignored (the first is line 3)");
        row("unknown keys sorted", QByteArray("PASSWORD=pw\nZED=1\nPASWORD=x\nAKEY=3"), Ok,
            "unknown key(s) AKEY, PASWORD, ZED ignored");
        row("RXGAIN too loud", QByteArray("PASSWORD=pw\nRXGAIN=40.5"), Ok, "RXGAIN=40.5");
        row("MAXCONNECTIONS 0", QByteArray("PASSWORD=pw\nMAXCONNECTIONS=0"), Ok, "MAXCONNECTIONS=0");
        row("DIRECTORY not hosts", QByteArray("PASSWORD=pw\nDIRECTORY=a b,c"), Ok, "DIRECTORY=a b,c");
        row("no password", QByteArray(""), QStringLiteral("QA1ABC|") + Ok.mid(9), "PASSWORD");
        row("no file", QByteArray(), "", "CALLSIGN");
        row("huge line without end", QByteArray(2 * 1024 * 1024, 'C'), "", "chmod 600");
        row("callsign with a star inside", QByteArray("[STATION]\nCALLSIGN=QA*ABC\n"), "", "CALLSIGN=QA*ABC");
    }
    void load() {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QFETCH(QString, warning);
        QFile::remove(path_);
        if (!body.isNull()) {
            QFile file(path_);
            QVERIFY(file.open(QIODevice::WriteOnly, QFile::ReadOwner | QFile::WriteOwner));
            file.write(body.contains("CALLSIGN") || expected.isEmpty() ? body : "[STATION]\nCALLSIGN=QA1ABC\n" + body);
        }
        const SettingsLoad load = loadStationSettings(path_);
        const QString said = load.settings ? load.warnings.join(u'\n') : load.error;
        QCOMPARE(load.settings ? describe(*load.settings) : QString(), expected);
        QCOMPARE(load.settings ? load.warnings.size() : 1, warning.isEmpty() ? 0 : 1);
        QVERIFY2(said.contains(warning) && (load.settings || said.contains(path_)), qPrintable(said));
    }

    void write_readsBackEqual() {
        StationSettings s;
        s.callsign = QStringLiteral("QA1ABC-L");
        s.password = QStringLiteral("p;a#s\"s\\w,1=[x]");
        s.name = QStringLiteral("Ann Émile");
        s.audioIn = QStringLiteral("Mic; #2 \"USB\"");
        s.rxGainDb = -3.5;
        QString why;
        QVERIFY2(writeStationSettings(path_, s, &why), qPrintable(why));
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const SettingsLoad load = loadStationSettings(path_);
        QCOMPARE(describe(load.settings.value()), describe(s));
        QCOMPARE(load.warnings.size(), 1);
        QVERIFY(load.warnings[0].endsWith(
            QStringLiteral("(mode 0640) and it holds your EchoLink password; make it private with: chmod 600 ") +
            path_));
        s.password = QStringLiteral("two\nlines");
        QVERIFY(!writeStationSettings(path_, s, &why) && why.contains(QStringLiteral("PASSWORD")));
    }
};

QTEST_GUILESS_MAIN(TestStationSettings)
#include "tst_stationsettings.moc"
