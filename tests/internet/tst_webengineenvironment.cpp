// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/WebEngineBrowser.h"

#include <QCoreApplication>
#include <QTest>

// Runs without an application object: the environment is prepared before one exists.
class TestWebEngineEnvironment : public QObject {
    Q_OBJECT

private slots:
    // Sharing OpenGL contexts from the start would have the application load OpenGL as it starts.
    void sandboxOffOnlyForRootWithoutAChoice_andNoOpenGLAtStart() {
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
        webengine::prepareEnvironment(1000U);
        QVERIFY(!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"));
        QVERIFY(!QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
        webengine::prepareEnvironment(0U);
        QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("1"));
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "0");
        webengine::prepareEnvironment(0U);
        QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("0"));
    }
};

int main(int argc, char* argv[]) {
    TestWebEngineEnvironment test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_webengineenvironment.moc"
