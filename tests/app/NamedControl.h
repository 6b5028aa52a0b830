// The window's controls are the pages' own: tests find them by the object
// names the window gives them, as a user finds them by their captions.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QtTest>

#include <stdexcept>
#include <initializer_list>
#include <type_traits>
#include <vector>

// The child of type T named name under window (a QObject, or anything that
// dereferences to one: a unique_ptr, a test's window fixture). A window
// without it fails the test there, naming what was missing.
template <typename T, typename Window>
T* Control(const Window& window, const char* name)
{
    const QObject* parent = nullptr;
    if constexpr (std::is_base_of_v<QObject, std::remove_pointer_t<Window>>)
        parent = window;
    else
        parent = &*window;
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    if (!child) {
        const QByteArray message = QByteArray("the window has no ") + T::staticMetaObject.className() + " named \""
                                 + name + "\"";
        QTest::qFail(message.constData(), __FILE__, __LINE__);
        throw std::runtime_error(message.toStdString());
    }
    return child;
}

// The children of type T with the given names, in that order.
template <typename T, typename Window>
std::vector<T*> Controls(const Window& window, std::initializer_list<const char*> names)
{
    std::vector<T*> children;
    for (const char* name : names)
        children.push_back(Control<T>(window, name));
    return children;
}
