#pragma once

#include <QLatin1String>
#include <QObject>

// The child widget a test drives by its object name; a missing one ends the test at once (the
// form changed under it).
template <typename T>
T* child(QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}
