#include "controller/VmeLibraryBridge.h"

#include "controller/LogCategories.h"

#include <QCoreApplication>
#include <QDebug>

VmeLibraryBridge::VmeLibraryBridge(const char* libraryName)
    : m_libraryName(libraryName)
    , m_binding(QString::fromLatin1(libraryName), lcVme())
{
}

void VmeLibraryBridge::noteIncomplete()
{
    if (m_binding.isLoaded()) {
        m_errorText = QCoreApplication::translate("VmeLibraryBridge", "Error while loading shared library '%1'")
                          .arg(QLatin1String(m_libraryName));
        qCDebug(lcVme).noquote() << '"' + m_errorText + '"';
    } else {
        m_errorText = m_binding.loaderError();
    }
    recordLibraryFailure(m_binding.failure());
    // Nothing of a library that may be gone is called again.
    m_binding.unload();
}

QString VmeLibraryBridge::errorString()
{
    return m_errorText;
}
