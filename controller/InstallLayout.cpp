#include "controller/InstallLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace InstallLayout {

QString installedFile(const char* folder, const QString& file)
{
    if (!QCoreApplication::instance())
        return QString();
    const QString path = QDir::cleanPath(
        QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(folder) + QLatin1Char('/') + file);
    return QFileInfo::exists(path) ? path : QString();
}

QString dataFile(const QString& file)
{
    const QFileInfo local(QDir::current(), file);
    if (local.exists())
        return local.absoluteFilePath();
    return installedFile(dataFolder, file);
}

} // namespace InstallLayout
