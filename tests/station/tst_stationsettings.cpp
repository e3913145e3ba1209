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
                       QString::fromLatin1(accept[static_cast<int>(s.accept)])}
        .join(u'|');
}

const QString Defaults = QStringLiteral("||||servers.echolink.org|0.0.0.0|4|directory");

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
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("warnings"); // each a part of one warning; empty: no warning at all
        const QStringList none;
        const QString dflt = QStringLiteral("QA1ABC|pw") + Defaults;
        row("defaults", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\n"), 0600, dflt, none);
        row("keysAndAcceptInAnyCase",
            QByteArray("[station]\ncallsign= qa1abc-l \nPassword=pw\nname=Ann\nLOCATION=Town\ninfo=hi there\n"
                       "directory= a.example , b.example ,\nbind=127.0.0.5\nmaxconnections=100\naccept=ANY\n"),
            0600, "QA1ABC-L|pw|Ann|Town|hi there|a.example,b.example|127.0.0.5|100|any", none);
        row("passwordWithIniSpecials", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=p;a#s\"s\\w,1\n"), 0600,
            QStringLiteral("QA1ABC|p;a#s\"s\\w,1") + Defaults, none);
        row("conferenceBomCrlfComments",
            QByteArray(
                "\xEF\xBB\xBF; note\r\n# note\r\n[OTHER]\r\nCALLSIGN=QA9BAD\r\n[STATION]\r\nCALLSIGN=*QATEST*\r\n"
                "PASSWORD=pw\r\nACCEPT=None\r\n"),
            0600, QStringLiteral("*QATEST*|pw") + Defaults.chopped(9) + QStringLiteral("none"), none);
        row("noSection", QByteArray("CALLSIGN=QA1ABC\nPASSWORD=pw\n"), 0600, dflt, QStringList{"[STATION]"});
        row("junkLinesSkipped",
            QByteArray("[STATION]\nCALLSIGN=QA1ABC\n\x01\xff\xfe junk\nNAME=") + QByteArray(5000, 'x') +
                QByteArray("\nINFO=a\0b\nPASSWORD=pw\n", 22),
            0600, dflt, QStringList{"3 line(s)", "line 3"});
        row("unknownKey", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nPASWORD=x\n"), 0600, dflt,
            QStringList{"PASWORD"});
        row("maxNotANumber", QByteArray("CALLSIGN=QA1ABC\nPASSWORD=pw\n[STATION]\nMAXCONNECTIONS=abc"), 0600, dflt,
            QStringList{"MAXCONNECTIONS=abc", "[STATION]"});
        row("maxZero", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nMAXCONNECTIONS=0"), 0600, dflt,
            QStringList{"MAXCONNECTIONS=0"});
        row("max101", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nMAXCONNECTIONS=101"), 0600, dflt,
            QStringList{"MAXCONNECTIONS=101"});
        row("acceptMaybe", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nACCEPT=maybe"), 0600, dflt,
            QStringList{"ACCEPT=maybe"});
        row("bindNotAnAddress", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nBIND=not-an-ip"), 0600, dflt,
            QStringList{"BIND=not-an-ip"});
        row("bindIpv6", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nBIND=::1"), 0600, dflt,
            QStringList{"BIND=::1"});
        row("directoryEmpty", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nDIRECTORY= , "), 0600, dflt,
            QStringList{"DIRECTORY=,"});
        row("directoryNotHosts", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nDIRECTORY=a b,c"), 0600, dflt,
            QStringList{"DIRECTORY=a b,c"});
        row("noPassword", QByteArray("[STATION]\nCALLSIGN=QA1ABC\n"), 0600, QStringLiteral("QA1ABC|") + Defaults,
            QStringList{"PASSWORD"});
        row("longLocation",
            QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\nLOCATION=123456789012345678901234567X"), 0600,
            QStringLiteral("QA1ABC|pw||123456789012345678901234567X") + Defaults.mid(2), QStringList{"LOCATION", "27"});
        row("readableByOthers", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\n"), 0644, dflt,
            QStringList{"0644", "chmod 600 "});
        row("readableByGroup", QByteArray("[STATION]\nCALLSIGN=QA1ABC\nPASSWORD=pw\n"), 0640, dflt,
            QStringList{"0640", "chmod 600 "});
    }
    void file_isReadWithWarningsForWhatItCannotUse() {
        QFETCH(QByteArray, body);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        QFETCH(QStringList, warnings);
        const QString path = writeFile(body, mode);
        const SettingsLoad load = loadStationSettings(path);
        QVERIFY2(load.settings.has_value(), qPrintable(load.error));
        QCOMPARE(describe(*load.settings), expected);
        QCOMPARE(load.settings->file, path);
        if (warnings.isEmpty()) {
            QCOMPARE(load.warnings, QStringList());
        }
        const QString all = load.warnings.join(u'\n');
        for (const QString& part : warnings) {
            QVERIFY2(all.contains(part), qPrintable(all));
        }
        QVERIFY(!warnings.contains(QStringLiteral("chmod 600 ")) || all.contains(QStringLiteral("chmod 600 ") + path));
    }

    void cannotStart_errorNamesFileAndWhatToSet_data() {
        QTest::addColumn<QByteArray>("body"); // null: no file at all
        QTest::addColumn<QStringList>("parts");
        const QStringList noCall{"CALLSIGN", "PASSWORD", "Example", "chmod 600"};
        row("noFile", QByteArray(), noCall);
        row("emptyFile", QByteArray(""), noCall);
        row("otherSectionOnly", QByteArray("[OTHER]\nCALLSIGN=QA1ABC\n"), noCall);
        row("binaryJunk", QByteArray("\0\xff\xfe\x01[\n=\n\n\0=\0", 12), noCall);
        row("hugeLineNoEnd", QByteArray(2 * 1024 * 1024, 'C'), noCall);
        row("callsignTooShort", QByteArray("[STATION]\nCALLSIGN=AB\n"), QStringList{"CALLSIGN=AB"});
        row("callsignTooLong", QByteArray("[STATION]\nCALLSIGN=QA1ABCDEFGHIJKLM\n"), QStringList{"CALLSIGN="});
        row("callsignWithSpace", QByteArray("[STATION]\nCALLSIGN=QA1 ABC\n"), QStringList{"CALLSIGN=QA1 ABC"});
        row("callsignStarInside", QByteArray("[STATION]\nCALLSIGN=QA*ABC\n"), QStringList{"CALLSIGN=QA*ABC"});
        row("callsignOnlyStars", QByteArray("[STATION]\nCALLSIGN=***\n"), QStringList{"CALLSIGN=***"});
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
