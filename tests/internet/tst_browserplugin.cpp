// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "FakeEchoLinkClient.h"
#include "InternetWindowHost.h"
#include "WebEngineBrowser.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QOpenGLContext>
#include <QPluginLoader>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// A web engine plug-in that cannot be had leaves the internet window working, saying why where the page would be.
class TestBrowserPlugin : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QByteArray plugin_;

    // The real plug-in with a few bytes changed at a given place.
    QByteArray patched(qsizetype at, const QByteArray& bytes) const {
        QByteArray copy = plugin_;
        copy.replace(at, bytes.size(), bytes);
        return copy;
    }
    // Where the n-th loadable segment's program header is, in the real plug-in.
    qsizetype loadableHeader(int n) const {
        const auto* bytes = reinterpret_cast<const uchar*>(plugin_.constData());
        const auto table = qsizetype(qFromLittleEndian<quint64>(bytes + 32));
        for (qsizetype at = table; at + 56 <= plugin_.size(); at += 56) {
            if (qFromLittleEndian<quint32>(bytes + at) == 1 && n-- == 0) {
                return at;
            }
        }
        return -1;
    }
    bool writeFile(const QString& name, const QByteArray& data) const {
        QFile file(dir_.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }
    static QByteArray le(quint64 value, int bytes) {
        QByteArray out(bytes, '\0');
        for (int i = 0; i < bytes; ++i) {
            out[i] = char(value >> (8 * i));
        }
        return out;
    }

private slots:
    void initTestCase() {
        QFile real(webEnginePluginFile());
        QVERIFY2(real.open(QIODevice::ReadOnly), qPrintable(real.fileName()));
        plugin_ = real.readAll();
        QVERIFY(loadableHeader(1) > 0);
        const QByteArray elf("\x7f\x45LF\0\0not really", 16);
        QVERIFY(writeFile(QStringLiteral("garbage.so"), elf + QByteArray(4096, '\xff')));
        // Cut inside its code: loading it as it is would die of a bus error.
        const auto* bytes = reinterpret_cast<const uchar*>(plugin_.constData()) + loadableHeader(1);
        QVERIFY(writeFile(QStringLiteral("truncated.so"),
                          plugin_.left(qsizetype(qFromLittleEndian<quint64>(bytes + 8)) + 16)));
    }

    void libraryDamaged_findsWhatWouldFaultOnLoad_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("damaged");
        const qsizetype load = loadableHeader(1);
        const quint64 size = quint64(plugin_.size());
        row("the real plug-in", plugin_, false);
        row("empty", QByteArray(), false);
        row("not ELF", QByteArray(100, '\0'), false);
        row("32-bit ELF", patched(4, "\x01"), false);
        row("ELF magic alone", QByteArray("\x7f\x45LF"), true);
        row("header cut short", plugin_.left(63), true);
        row("no program headers past the header", plugin_.left(64), true);
        row("table starts past the end", patched(32, le(size + 1, 8)), true);
        row("table start wraps around", patched(32, le(~quint64(0), 8)), true);
        row("huge entry count", patched(56, le(0xffff, 2)), true);
        row("entries too small to hold a segment", patched(54, le(8, 2)), true);
        row("segment starts past the end", patched(load + 8, le(size, 8)), true);
        row("segment length lies", patched(load + 32, le(size, 8)), true);
        row("segment end wraps around", patched(load + 32, le(~quint64(0), 8)), true);
        row("cut inside a segment", plugin_.left(qsizetype(size / 64)), true);
        row("segment flags all NUL", patched(load + 4, QByteArray(4, '\0')), false);
    }
    void libraryDamaged_findsWhatWouldFaultOnLoad() {
        QFETCH(QByteArray, file);
        QFETCH(bool, damaged);
        QCOMPARE(libraryDamaged(file), damaged);
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
            webEngineBrowserFactory({dir_.filePath(QStringLiteral("data")), dir_.filePath(QStringLiteral("cache"))},
                                    path));
        for (int window = 1; window <= 2; ++window) {
            host.navigate(QStringLiteral("qrc:/internet/addons.html"));
            host.showWindow();
            QLabel* why = nullptr;
            QTRY_VERIFY((why = host.window()->findChild<QLabel*>(QStringLiteral("BrowserUnavailable"))) != nullptr);
            QVERIFY(why->isVisible());
            QCOMPARE(why->parentWidget()->objectName(), QStringLiteral("PicFrame"));
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

    // The web engine finds the context it shares its pictures through, made only now rather than at start-up.
    void shareContext_madeWhenAsked_once() {
        QVERIFY(QOpenGLContext::globalShareContext() == nullptr);
        webengine::shareOpenGLContexts();
        QOpenGLContext* made = QOpenGLContext::globalShareContext();
        QVERIFY(made != nullptr);
        webengine::shareOpenGLContexts();
        QCOMPARE(QOpenGLContext::globalShareContext(), made);
    }
};

QTEST_MAIN(TestBrowserPlugin)
#include "tst_browserplugin.moc"
