#include "desktop/control_id.h"

#include <QVariant>

namespace orvalin::desktop {
namespace {

constexpr char kControlIdProperty[] = "controlId";

}  // namespace

void SetControlId(QObject& object, int id) {
    object.setProperty(kControlIdProperty, id);
}

int ControlId(const QObject& object) {
    const QVariant id = object.property(kControlIdProperty);
    return id.isValid() ? id.toInt() : 0;
}

}  // namespace orvalin::desktop
