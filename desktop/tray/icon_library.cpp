#include "desktop/tray/icon_library.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The icons live in this static library; referencing their initialiser keeps
// the linker from dropping them.
static void LoadIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace orvalin::desktop {

// Rendered here rather than through the SVG icon plugin, so the icons do not
// depend on a plugin being installed.
QIcon IconById(int id) {
    static QHash<int, QIcon> cache;
    static const bool loaded = (LoadIconResources(), true);
    (void)loaded;
    const auto found = cache.constFind(id);
    if (found != cache.constEnd()) {
        return *found;
    }
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(id));
    if (!renderer.isValid()) {
        return {};
    }
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    cache.insert(id, icon);
    return icon;
}

}  // namespace orvalin::desktop
