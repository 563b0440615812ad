#include "app/LockKeys.h"

#include <QGuiApplication>

#include <dlfcn.h>

#if __has_include(<QtGui/qguiapplication_platform.h>)
#include <QtGui/qguiapplication_platform.h>
#endif

// The states come from the X server's keyboard extension, when the program
// runs on X11; libX11 is already loaded by Qt's xcb platform there.
CLockKeyReader::CLockKeyReader()
{
#if defined(QT_FEATURE_xcb) && QT_CONFIG(xcb)
    if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
        m_pDisplay = x11->display();
#endif
    if (!m_pDisplay)
        return;
    if (void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD))
        m_pfnGetState = reinterpret_cast<GetStateFn>(dlsym(lib, "XkbGetIndicatorState"));
}

unsigned CLockKeyReader::GetState() const
{
    unsigned state = 0;
    if (m_pfnGetState && m_pfnGetState(m_pDisplay, 0x0100 /* XkbUseCoreKbd */, &state) != 0)
        return 0;
    return state;
}

CLockKeyReader& LockKeys()
{
    static CLockKeyReader reader;
    return reader;
}
