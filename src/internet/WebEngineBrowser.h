// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "internet/BrowserEngine.h"

#include <QByteArrayView>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

// The web engine plug-in: "parlevox-webengine.so" in lib/parlevox (or the multiarch library folder) beside
// the folder of the running program. The build folder has it at the same place relative to its bin folder,
// so an installed program and one run from the build folder each find their own.
QString webEnginePluginFile();

// Whether a file that calls itself a 64-bit ELF library has its headers or any part that would be mapped into
// memory beyond its end (a copy cut short, a disk that filled up) or headers that lie about their sizes. Loading
// such a file does not fail: the program dies of a bus error as soon as it touches the missing part. Anything
// else (no ELF at all, another kind of ELF) is left for the loader to refuse.
bool libraryDamaged(QByteArrayView file);

// Loads the web engine plug-in and makes an engine on that storage. Returns null and says why, in words for
// the user, when the plug-in is missing, cannot be loaded or is not Parlevox's web engine plug-in. Makes the
// OpenGL context the engine needs first (see webengine::shareOpenGLContexts()).
std::shared_ptr<BrowserEngine> loadBrowserEngine(const QString& pluginFile, const BrowserStorage& storage,
                                                 QString* error);

// What the internet options window uses to make its browser: a web engine inside the given container at the
// given place, started only once the container is first shown (see DeferredBrowser). The plug-in is loaded
// then, once for the factory; every browser made by one factory shares one engine (one profile on that
// storage). When the plug-in cannot be loaded, the container shows why instead of a page, in a label named
// "BrowserUnavailable".
std::function<std::unique_ptr<Browser>(QWidget* container, const QRect& geometry)>
webEngineBrowserFactory(const BrowserStorage& storage = BrowserStorage::standard(),
                        const QString& pluginFile = webEnginePluginFile());

namespace webengine {

// Prepares the process for the web engine; call before the QApplication is created. The engine's
// sandbox cannot run as root (CI containers), so only then is it turned off; normal users keep it.
// Nothing here asks for OpenGL: that waits until the engine is wanted.
void prepareEnvironment();

// The same, for a given effective user id.
void prepareEnvironment(unsigned effectiveUserId);

// Whether the engine's sandbox has to be turned off for that effective user id.
bool sandboxMustBeOff(unsigned effectiveUserId);

// Makes the global OpenGL context that the web engine and the widgets' own contexts share their pictures
// through, unless there is one already; it lasts until the application ends. Qt would make it at start-up
// for a program linked with the web engine, loading the OpenGL driver (tens of megabytes with a software
// one) even if no page is ever shown. Where no OpenGL context can be made, the engine draws without one.
// Call in the GUI thread once the QGuiApplication exists.
void shareOpenGLContexts();

} // namespace webengine
