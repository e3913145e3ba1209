// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "FakeEchoLinkClient.h"
#include "internet/InternetWindowHost.h"
#include "internet/WebEngineBrowser.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QOpenGLContext>
#include <QTemporaryDir>
#include <QtEndian>

// A web engine plug-in that cannot be had leaves the internet window working, saying why where the page would be.
class TestBrowserPlugin : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QByteArray plugin_;

    // The real plug-in with bytes changed at a given place, little-endian when given as a number.
    QByteArray patched(qsizetype at, quint64 value, int size) const {
        QByteArray copy = plugin_;
        for (int i = 0; i < size; ++i) {
            copy[at + i] = char(value >> (8 * i));
        }
        return copy;
    }
    quint64 read64(qsizetype at) const { return qFromLittleEndian<quint64>(plugin_.constData() + at); }
    // Where the second loadable segment's program header is.
    qsizetype loadable() const {
        int n = 0;
        for (qsizetype at = qsizetype(read64(32)); at + 56 <= plugin_.size(); at += 56) {
            if (qFromLittleEndian<quint32>(plugin_.constData() + at) == 1 && n++ == 1) {
                return at;
            }
        }
        return -1;
    }
    bool write(const char* name, const QByteArray& data) const {
        QFile file(dir_.filePath(QLatin1String(name)));
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }

private slots:
    void initTestCase() {
        QFile real(webEnginePluginFile());
        QVERIFY2(real.open(QIODevice::ReadOnly), qPrintable(real.fileName()));
        plugin_ = real.readAll();
        QVERIFY(loadable() > 0 &&
                write("garbage.so", QByteArray("\x7f\x45LF\0\0not really", 16) + QByteArray(4096, '\xff')));
        QVERIFY(write("truncated.so", plugin_.left(qsizetype(read64(loadable() + 8)) + 16))); // a bus error if loaded
    }

    void libraryDamaged_findsWhatWouldFaultOnLoad_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("damaged");
        const qsizetype load = loadable();
        const quint64 size = quint64(plugin_.size());
        row("the real plug-in", plugin_, false);
        row("empty", QByteArray(), false);
        row("not ELF", QByteArray(100, '\0'), false);
        row("32-bit ELF", patched(4, 1, 1), false);
        row("ELF magic alone", QByteArray("\x7f\x45LF"), true);
        row("header cut short", plugin_.left(63), true);
        row("no program headers past the header", plugin_.left(64), true);
        row("table starts past the end", patched(32, size + 1, 8), true);
        row("table start wraps around", patched(32, ~quint64(0), 8), true);
        row("huge entry count", patched(56, 0xffff, 2), true);
        row("entries too small to hold a segment", patched(54, 8, 2), true);
        row("segment starts past the end", patched(load + 8, size, 8), true);
        row("segment length lies", patched(load + 32, size, 8), true);
        row("segment end wraps around", patched(load + 32, ~quint64(0), 8), true);
        row("cut inside a segment", plugin_.left(qsizetype(size / 64)), true);
        row("segment flags all NUL", patched(load + 4, 0, 4), false);
    }
    void libraryDamaged_findsWhatWouldFaultOnLoad() {
        QFETCH(QByteArray, file);
        QTEST(libraryDamaged(file), "damaged");
    }

    void unusablePlugin_windowSaysWhy_andKeepsWorking_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        const QString platforms = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/");
        row("missing", "missing.so", "is missing");
        row("a folder", ".", "is missing");
        row("not a library", "garbage.so", "could not be loaded");
        row("library cut short", "truncated.so", "is damaged");
        row("another Qt plug-in", platforms + QStringLiteral("libqoffscreen.so"), "is not Parlevox's");
    }
    void unusablePlugin_windowSaysWhy_andKeepsWorking() {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        const QString path = QFileInfo(file).isAbsolute() ? file : dir_.filePath(file);
        SettingsStore settings(dir_.filePath(QStringLiteral("parlevoxinet.ini")));
        InternetWindowHost host(
            settings, [] { return std::make_unique<FakeEchoLinkClient>(); },
            webEngineBrowserFactory({dir_.filePath(QStringLiteral("d")), dir_.filePath(QStringLiteral("c"))}, path));
        for (int window = 1; window <= 2; ++window) {
            host.navigate(QStringLiteral("qrc:/internet/addons.html"));
            host.showWindow();
            QLabel* why = nullptr;
            QTRY_VERIFY((why = host.window()->findChild<QLabel*>(QStringLiteral("BrowserUnavailable"))) != nullptr);
            QVERIFY(why->isVisible() && why->parentWidget()->objectName() == QStringLiteral("PicFrame"));
            QVERIFY2(why->text().contains(QDir::cleanPath(path)) && why->text().contains(reason),
                     qPrintable(why->text()));
            QVERIFY(host.window()->findChild<QWidget*>(QStringLiteral("WebBrowser1")) == nullptr);
            host.navigate(QStringLiteral("https://a.example/"));
            QTest::qWait(10);
            QVERIFY(host.SaveData2());
            host.existingWindow()->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(host.existingWindow() == nullptr);
        }
    }

    // The context the engine shares its pictures through is made only when asked, not at start-up.
    void shareContext_madeWhenAsked_once() {
        QVERIFY(QOpenGLContext::globalShareContext() == nullptr);
        webengine::shareOpenGLContexts();
        QOpenGLContext* made = QOpenGLContext::globalShareContext();
        webengine::shareOpenGLContexts();
        QVERIFY(made != nullptr && QOpenGLContext::globalShareContext() == made);
    }
};

QTEST_MAIN(TestBrowserPlugin)
#include "tst_browserplugin.moc"
