// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigPaths.h"

#include "SettingsStore.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class ConfigPathsTest : public QObject {
    Q_OBJECT
private slots:
    void settingsFiles_inUsersConfigFolder_folderMadeOnFirstWriteOnly() {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString config = home.filePath(QStringLiteral("cfg"));
        qputenv("XDG_CONFIG_HOME", config.toUtf8());

        QCOMPARE(ConfigPaths::directory(), config);
        QCOMPARE(ConfigPaths::mainSettingsFile(), config + QStringLiteral("/parlevox.ini"));
        QCOMPARE(ConfigPaths::internetSettingsFile(), config + QStringLiteral("/parlevoxinet.ini"));

        SettingsStore main(ConfigPaths::mainSettingsFile());
        QCOMPARE(main.read(QStringLiteral("SETTINGS"), QStringLiteral("LEFT"), QStringLiteral("300")),
                 QStringLiteral("300"));
        QVERIFY(!QDir(config).exists());

        QVERIFY(main.write(QStringLiteral("SETTINGS"), QStringLiteral("LEFT"), QStringLiteral("300")));
        QCOMPARE(QDir(config).entryList(QDir::Files), QStringList{QStringLiteral("parlevox.ini")});
    }
};

QTEST_GUILESS_MAIN(ConfigPathsTest)
#include "ConfigPathsTest.moc"
