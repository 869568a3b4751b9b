#include "controller/LibraryBinding.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLoggingCategory>

LibraryBinding::LibraryBinding(const QString& name, const QLoggingCategory& category)
    : m_library(name)
    , m_category(category)
{
}

bool LibraryBinding::load()
{
    m_missing.clear();
    if (!m_library.load()) {
        m_loaderError = m_library.errorString();
        qCDebug(m_category).noquote() << '"' + m_loaderError + '"';
        return false;
    }
    m_loaderError.clear();
    qCDebug(m_category).noquote() << '"' + m_library.fileName() + '"' << "loaded";
    return true;
}

void LibraryBinding::noteResolved(const char* name, const void* address, bool required)
{
    qCDebug(m_category).noquote() << QString::asprintf("%s = %p", name, address);
    if (!address && required)
        m_missing << QString::fromLatin1(name);
}

QString LibraryBinding::failure() const
{
    if (isComplete())
        return QString();
    if (!m_missing.isEmpty())
        qCWarning(m_category).noquote() << "entries missing from" << m_library.fileName()
                                        << m_missing.join(QLatin1Char(' '));
    return QCoreApplication::translate(
        "LibraryBinding", "Error while loading shared library '%1' or one of its dependencies!")
        .arg(m_library.fileName());
}

void LibraryBinding::unload()
{
    if (m_library.isLoaded())
        m_library.unload();
}
