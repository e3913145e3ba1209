// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "StationSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

QString describe(const StationSettings& s) {
    const char* accept[] = {"directory", "any", "none"};
    return QStringList{s.callsign,
                       s.password,
                       s.name,
                       s.location,
                       s.info,
                       s.directoryServers.join(u','),
                       s.bind.toString(),
                       QString::number(s.maxConnections),
                       QString::fromLatin1(accept[static_cast<int>(s.accept)]),
                       s.audioIn,
                       s.audioOut,
                       QString::number(s.rxGainDb),
                       QString::number(s.txGainDb)}
        .join(u'|');
}

const QString Defaults = QStringLiteral("||||servers.echolink.org|0.0.0.0|4|directory|||0|0");

} // namespace

class TestStationSettings : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString writeFile(const QByteArray& body, int mode = 0600) {
        const QString path = dir_.filePath(QStringLiteral("station.ini"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(body);
        file.close();
        ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode));
        return path;
    }

private slots:
    void file_isReadWithWarningsForWhatItCannotUse_data() {
        QTest::addColumn<QByteArray>("body"); // without a CALLSIGN, after "[STATION]\nCALLSIGN=QA1ABC\n"
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("warning"); // a part of the one warning expected; empty: none
        const QString ok = QStringLiteral("QA1ABC|pw") + Defaults;
        row("defaults", QByteArray("PASSWORD=pw"), 0600, ok, "");
        row("keysAndAcceptInAnyCase",
            QByteArray("Password=pw\nname=Ann\nLOCATION=Town\ninfo=hi there\ndirectory= a.example , b.example ,\n"
                       "bind=127.0.0.5\nmaxconnections=100\naccept=ANY"),
            0600, "QA1ABC|pw|Ann|Town|hi there|a.example,b.example|127.0.0.5|100|any|||0|0", "");
        row("soundDevicesAndGains",
            QByteArray("PASSWORD=pw\nAUDIOIN=USB Mic [x]\naudioout= Speakers \nRXGAIN=-40\nTXGAIN=+6.5"), 0600,
            QStringLiteral("QA1ABC|pw") + Defaults.chopped(5) + QStringLiteral("USB Mic [x]|Speakers|-40|6.5"), "");
        row("rxGainTooLoud", QByteArray("PASSWORD=pw\nRXGAIN=40.5"), 0600, ok, "RXGAIN=40.5");
        row("txGainNotANumber", QByteArray("PASSWORD=pw\nTXGAIN=6dB"), 0600, ok, "TXGAIN=6dB");
        row("txGainNan", QByteArray("PASSWORD=pw\nTXGAIN=nan"), 0600, ok, "TXGAIN=nan");
        row("passwordWithIniSpecials", QByteArray("PASSWORD= p;a#s\"s\\w,1 "), 0600,
            QStringLiteral("QA1ABC|p;a#s\"s\\w,1") + Defaults, "");
        row("junkLinesSkipped",
            QByteArray("\x01\xff\xfe junk\nNAME=") + QByteArray(5000, 'x') + QByteArray("\nINFO=a\0b\nPASSWORD=pw", 21),
            0600, ok, "3 line(s) could not be read and were ignored (the first is line 3)");
        row("bomCrlfCommentsOtherSection",
            QByteArray("\xEF\xBB\xBF; x\r\n# x\r\n[OTHER]\r\nCALLSIGN=QA9BAD\r\n[ station "
                       "]\r\nCALLSIGN=QA1ABC\r\nPASSWORD=pw\r\n"),
            0600, ok, "");
        row("noSection", QByteArray("CALLSIGN=QA1ABC\nPASSWORD=pw"), 0600, ok, "put [STATION] above them");
        row("unknownKeysSorted", QByteArray("PASSWORD=pw\nZED=1\nPASWORD=x\nBKEY=2\nAKEY=3"), 0600, ok,
            "unknown key(s) AKEY, BKEY, PASWORD, ZED ignored");
        row("maxNotANumber", QByteArray("PASSWORD=pw\nMAXCONNECTIONS=abc"), 0600, ok, "MAXCONNECTIONS=abc");
        row("maxZero", QByteArray("PASSWORD=pw\nMAXCONNECTIONS=0"), 0600, ok, "MAXCONNECTIONS=0");
        row("max101", QByteArray("PASSWORD=pw\nMAXCONNECTIONS=101"), 0600, ok, "MAXCONNECTIONS=101");
        row("acceptMaybe", QByteArray("PASSWORD=pw\nACCEPT=maybe"), 0600, ok, "ACCEPT=maybe");
        row("bindNotAnAddress", QByteArray("PASSWORD=pw\nBIND=not-an-ip"), 0600, ok, "BIND=not-an-ip");
        row("bindIpv6", QByteArray("PASSWORD=pw\nBIND=::1"), 0600, ok, "BIND=::1");
        row("directoryEmpty", QByteArray("PASSWORD=pw\nDIRECTORY= , "), 0600, ok, "DIRECTORY=,");
        row("directoryNotHosts", QByteArray("PASSWORD=pw\nDIRECTORY=a b,c"), 0600, ok, "DIRECTORY=a b,c");
        row("noPassword", QByteArray(""), 0600, QStringLiteral("QA1ABC|") + Defaults, "PASSWORD");
        row("longLocation", QByteArray("PASSWORD=pw\nLOCATION=123456789012345678901234567X"), 0600,
            QStringLiteral("QA1ABC|pw||123456789012345678901234567X") + Defaults.mid(2), "only the first 27");
        row("readableByOthers", QByteArray("PASSWORD=pw"), 0644, ok, "(mode 0644) and it holds your EchoLink password");
        row("readableByGroup", QByteArray("PASSWORD=pw"), 0640, ok, "make it private with: chmod 600 %1");
    }
    void file_isReadWithWarningsForWhatItCannotUse() {
        QFETCH(QByteArray, body);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        QFETCH(QString, warning);
        const QString path = writeFile(body.contains("CALLSIGN") ? body : "[STATION]\nCALLSIGN=QA1ABC\n" + body, mode);
        const SettingsLoad load = loadStationSettings(path);
        QVERIFY2(load.settings.has_value(), qPrintable(load.error));
        QCOMPARE(describe(*load.settings), expected);
        QCOMPARE(load.warnings.size(), warning.isEmpty() ? 0 : 1);
        QVERIFY2(load.warnings.join(u'\n').contains(warning.replace(QStringLiteral("%1"), path)),
                 qPrintable(load.warnings.join(u'\n')));
    }

    void cannotStart_errorNamesFileAndWhatToSet_data() {
        QTest::addColumn<QByteArray>("body"); // null: no file at all
        QTest::addColumn<QStringList>("parts");
        const QStringList noCall{QStringLiteral("CALLSIGN"), QStringLiteral("PASSWORD"), QStringLiteral("Example"),
                                 QStringLiteral("chmod 600")};
        row("noFile", QByteArray(), noCall);
        row("emptyFile", QByteArray(""), noCall);
        row("otherSectionOnly", QByteArray("[OTHER]\nCALLSIGN=QA1ABC\n"), noCall);
        row("binaryJunk", QByteArray("\0\xff\xfe\x01[\n=\n\n\0=\0", 12), noCall);
        row("hugeLineNoEnd", QByteArray(2 * 1024 * 1024, 'C'), noCall);
        row("callsignTooShort", QByteArray("[STATION]\nCALLSIGN=AB\n"), QStringList{QStringLiteral("CALLSIGN=AB")});
        row("callsignTooLong", QByteArray("[STATION]\nCALLSIGN=QA1ABCDEFGHIJKLM\n"),
            QStringList{QStringLiteral("CALLSIGN=")});
        row("callsignWithSpace", QByteArray("[STATION]\nCALLSIGN=QA1 ABC\n"),
            QStringList{QStringLiteral("CALLSIGN=QA1 ABC")});
        row("callsignStarInside", QByteArray("[STATION]\nCALLSIGN=QA*ABC\n"),
            QStringList{QStringLiteral("CALLSIGN=QA*ABC")});
        row("callsignOnlyStars", QByteArray("[STATION]\nCALLSIGN=***\n"), QStringList{QStringLiteral("CALLSIGN=***")});
    }
    void cannotStart_errorNamesFileAndWhatToSet() {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, parts);
        const QString path = body.isNull() ? dir_.filePath(QStringLiteral("missing.ini")) : writeFile(body);
        const SettingsLoad load = loadStationSettings(path);
        QVERIFY(!load.settings.has_value());
        for (const QString& part : parts + QStringList{path}) {
            QVERIFY2(load.error.contains(part), qPrintable(load.error));
        }
    }

    void overrides_replaceFileValuesOrStop_data() {
        QTest::addColumn<QString>("bind");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("expected"); // bind|servers, or a part of the error
        row("none", "", "", "127.0.0.2|file.example");
        row("bind", " 127.0.0.9 ", "", "127.0.0.9|file.example");
        row("directory", "", "a.example, 127.0.0.10", "127.0.0.2|a.example,127.0.0.10");
        row("badBind", "not-an-ip", "a.example", "--bind not-an-ip");
        row("badDirectory", "", " , ", "--directory");
    }
    void overrides_replaceFileValuesOrStop() {
        QFETCH(QString, bind);
        QFETCH(QString, directory);
        QFETCH(QString, expected);
        const QString path =
            writeFile("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nBIND=127.0.0.2\nDIRECTORY=file.example");
        const SettingsLoad load = loadStationSettings(path, bind, directory);
        if (!load.settings) {
            QVERIFY2(load.error.contains(expected), qPrintable(load.error));
            return;
        }
        QCOMPARE(load.settings->bind.toString() + u'|' + load.settings->directoryServers.join(u','), expected);
    }

    void write_isPrivateFromTheStartAndReadsBackEqual() {
        StationSettings s;
        s.callsign = QStringLiteral("QA1ABC-L");
        s.password = QStringLiteral("p;a#s\"s\\w,1=[x]");
        s.name = QStringLiteral("Ann Émile");
        s.location = QStringLiteral("Town; #1");
        s.info = QStringLiteral("Rig \"A\", 5 W");
        s.directoryServers = {QStringLiteral("a.example"), QStringLiteral("127.0.0.10")};
        s.bind = QHostAddress(QStringLiteral("127.0.0.3"));
        s.maxConnections = 17;
        s.accept = AcceptPolicy::None;
        s.audioIn = QStringLiteral("Mic; #2 \"USB\"");
        s.rxGainDb = -3.5;
        s.txGainDb = 12;
        const QString path = dir_.filePath(QStringLiteral("new/folder/station.ini"));
        for (int round = 0; round < 2; ++round) { // the second replaces a file others could read
            QString why;
            QVERIFY2(writeStationSettings(path, s, &why), qPrintable(why));
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
            QCOMPARE(info.st_mode & 0777, 0600u);
            const SettingsLoad load = loadStationSettings(path);
            QVERIFY2(load.settings.has_value(), qPrintable(load.error));
            QCOMPARE(describe(*load.settings), describe(s));
            QCOMPARE(load.warnings, QStringList());
            ::chmod(QFile::encodeName(path).constData(), 0644);
        }
        s.password = QStringLiteral("two\nlines");
        QString why;
        QVERIFY(!writeStationSettings(path, s, &why));
        QVERIFY(why.contains(QStringLiteral("PASSWORD")));
    }

    void defaultPath_isInTheUsersConfigFolder() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
        QCOMPARE(defaultSettingsPath(), dir_.filePath(QStringLiteral("parlevox-station.ini")));
    }
};

QTEST_GUILESS_MAIN(TestStationSettings)
#include "tst_stationsettings.moc"
