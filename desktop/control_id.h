// The documented numeric id of a control, menu command or dialog, kept as the
// object's "controlId" property, and the search by it.
#pragma once

#include <QObject>

namespace orvalin::desktop {

void SetControlId(QObject& object, int id);
// 0 when the object has none.
int ControlId(const QObject& object);

template <typename T>
T* FindControl(const QObject& root, int id) {
    for (T* candidate : root.findChildren<T*>()) {
        if (ControlId(*candidate) == id) {
            return candidate;
        }
    }
    return nullptr;
}

}  // namespace orvalin::desktop
