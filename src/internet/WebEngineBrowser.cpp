// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/WebEngineBrowser.h"

#include "internet/DeferredBrowser.h"
#include "platform/EffectiveUser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QOpenGLContext>
#include <QPluginLoader>
#include <QPointer>
#include <QStandardPaths>
#include <QWidget>
#include <QtEndian>
#include <cstring>

QT_BEGIN_NAMESPACE
// Qt GUI exports these for the web engine (which declares them the same way); no public header has them.
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE

BrowserStorage BrowserStorage::standard() {
    const QString name = QStringLiteral("/browser");
    return {QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + name,
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + name};
}

QString webEnginePluginFile() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QStringLiteral(PARLEVOX_PLUGIN_DIR) + QStringLiteral("/parlevox-webengine.so"));
}

bool libraryDamaged(QByteArrayView file) {
    const auto size = quint64(file.size());
    const auto* bytes = reinterpret_cast<const uchar*>(file.data());
    if (size < 4 || std::memcmp(bytes,
                                "\x7f"
                                "ELF",
                                4) != 0) {
        return false;
    }
    constexpr quint64 HeaderSize = 64;
    constexpr quint64 ProgramHeaderSize = 56;
    if (size < HeaderSize) {
        return true;
    }
    constexpr uchar Elf64 = 2;
    constexpr uchar LittleEndian = 1;
    if (bytes[4] != Elf64 || bytes[5] != LittleEndian) {
        return false;
    }
    const quint64 tableAt = qFromLittleEndian<quint64>(bytes + 32);
    const quint64 entrySize = qFromLittleEndian<quint16>(bytes + 54);
    const quint64 entries = qFromLittleEndian<quint16>(bytes + 56);
    if (entries > 0 && entrySize < ProgramHeaderSize) {
        return true;
    }
    // At most 65535 entries of 65535 bytes: no overflow once the table starts inside the file.
    if (tableAt > size || entries * entrySize > size - tableAt) {
        return true;
    }
    constexpr quint32 Loadable = 1;
    for (quint64 i = 0; i < entries; ++i) {
        const uchar* entry = bytes + tableAt + i * entrySize;
        if (qFromLittleEndian<quint32>(entry) != Loadable) {
            continue;
        }
        const quint64 at = qFromLittleEndian<quint64>(entry + 8);
        const quint64 length = qFromLittleEndian<quint64>(entry + 32);
        if (at > size || length > size - at) {
            return true;
        }
    }
    return false;
}

std::shared_ptr<BrowserEngine> loadBrowserEngine(const QString& pluginFile, const BrowserStorage& storage,
                                                 QString* error) {
    const QString lost = QStringLiteral("The web browser cannot be shown: its plug-in %1 %2. Installing "
                                        "Parlevox again should bring it back.");
    if (!QFileInfo(pluginFile).isFile()) {
        *error = lost.arg(pluginFile, QStringLiteral("is missing"));
        return nullptr;
    }
    QFile file(pluginFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = lost.arg(pluginFile, QStringLiteral("cannot be read (%1)").arg(file.errorString()));
        return nullptr;
    }
    if (libraryDamaged(file.readAll())) {
        *error = lost.arg(pluginFile, QStringLiteral("is damaged: parts of it are missing"));
        return nullptr;
    }
    file.close();
    // The loader may go: a loaded plug-in stays loaded until unload() is called, which it never is.
    QPluginLoader loader(pluginFile);
    const QString kind = loader.metaData().value(QStringLiteral("IID")).toString();
    if (kind.isEmpty()) {
        *error = lost.arg(pluginFile, QStringLiteral("could not be loaded (%1)").arg(loader.errorString()));
        return nullptr;
    }
    if (kind != QLatin1String(BrowserEnginePlugin_iid)) {
        *error = lost.arg(pluginFile, QStringLiteral("is not Parlevox's web engine plug-in"));
        return nullptr;
    }
    // Only now that it is ours: the context loads the OpenGL driver.
    webengine::shareOpenGLContexts();
    QObject* instance = loader.instance();
    if (instance == nullptr) {
        *error = lost.arg(pluginFile, QStringLiteral("could not be loaded (%1)").arg(loader.errorString()));
        return nullptr;
    }
    auto* plugin = qobject_cast<BrowserEnginePlugin*>(instance);
    if (plugin == nullptr) {
        *error = lost.arg(pluginFile, QStringLiteral("is not Parlevox's web engine plug-in"));
        return nullptr;
    }
    return plugin->createEngine(storage);
}

namespace {

// Stands where the page would be and says why there is none.
class UnavailableBrowser : public Browser {
public:
    UnavailableBrowser(QWidget* container, const QRect& geometry, const QString& why)
        : label_(new QLabel(why, container)) {
        label_->setObjectName(QStringLiteral("BrowserUnavailable"));
        label_->setAccessibleName(QStringLiteral("Web page"));
        label_->setGeometry(geometry);
        label_->setAlignment(Qt::AlignCenter);
        label_->setWordWrap(true);
        label_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label_->setFocusPolicy(Qt::StrongFocus);
        label_->show();
    }
    ~UnavailableBrowser() override { delete label_.data(); }
    UnavailableBrowser(const UnavailableBrowser&) = delete;
    UnavailableBrowser& operator=(const UnavailableBrowser&) = delete;

    void navigate(const QString&) override {}

private:
    QPointer<QLabel> label_;
};

} // namespace

std::function<std::unique_ptr<Browser>(QWidget*, const QRect&)> webEngineBrowserFactory(const BrowserStorage& storage,
                                                                                        const QString& pluginFile) {
    // Loaded with the first engine, kept for the rest of the session: windows made again after a close reuse it.
    struct SharedEngine {
        BrowserStorage storage;
        QString pluginFile;
        std::shared_ptr<BrowserEngine> engine;
        QString error;
    };
    auto shared = std::make_shared<SharedEngine>(SharedEngine{storage, pluginFile, nullptr, {}});
    return [shared](QWidget* container, const QRect& geometry) -> std::unique_ptr<Browser> {
        QPointer<QWidget> where(container);
        return std::make_unique<DeferredBrowser>(
            [where, geometry, shared]() -> std::unique_ptr<Browser> {
                if (where.isNull()) {
                    return nullptr;
                }
                if (!shared->engine && shared->error.isEmpty()) {
                    shared->engine = loadBrowserEngine(shared->pluginFile, shared->storage, &shared->error);
                }
                if (!shared->engine) {
                    return std::make_unique<UnavailableBrowser>(where.data(), geometry, shared->error);
                }
                return shared->engine->createBrowser(where.data(), geometry);
            },
            container);
    };
}

namespace webengine {

bool sandboxMustBeOff(unsigned effectiveUserId) {
    return effectiveUserId == 0;
}

void prepareEnvironment(unsigned effectiveUserId) {
    if (sandboxMustBeOff(effectiveUserId) && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
}

void prepareEnvironment() {
    prepareEnvironment(::effectiveUserId());
}

namespace {
QOpenGLContext* ownShareContext = nullptr;

void dropShareContext() {
    if (qt_gl_global_share_context() == ownShareContext) {
        qt_gl_set_global_share_context(nullptr);
    }
    delete ownShareContext;
    ownShareContext = nullptr;
}
} // namespace

void shareOpenGLContexts() {
    if (qt_gl_global_share_context() != nullptr ||
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    // What Qt does at start-up when Qt::AA_ShareOpenGLContexts is set. The attribute itself is left alone: Qt
    // only warns that it comes too late, and the engine and the widgets look for the context, not for it.
    ownShareContext = new QOpenGLContext;
    ownShareContext->setFormat(QSurfaceFormat::defaultFormat());
    ownShareContext->create();
    qt_gl_set_global_share_context(ownShareContext);
    qAddPostRoutine(dropShareContext);
}

} // namespace webengine
