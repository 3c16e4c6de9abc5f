#include "desktop/dbus/desktop_notifications.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QImage>
#include <algorithm>

#include "desktop/qt_text.h"
#include "desktop/tray/icon_library.h"
#include "resources/desktop_texts.h"
#include "resources/strings.h"

namespace orvalin::desktop {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A server that has not answered by then is taken to be absent.
constexpr int kCallTimeoutMs = 5000;
constexpr int kIconPixels = 48;
// Ids of notifications the server never told closed are forgotten beyond these.
constexpr std::size_t kRememberedIds = 64;

const QString kActionOpen = QStringLiteral("open");
const QString kActionCheckNow = QStringLiteral("check-now");
const QString kActionSnooze = QStringLiteral("snooze-1h");

}  // namespace

// The picture of the "image-data" hint: (iiibiiay), RGBA with 8 bits a sample.
struct NotificationImage {
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};

QDBusArgument& operator<<(QDBusArgument& out, const NotificationImage& image) {
    out.beginStructure();
    out << image.width << image.height << image.rowStride << image.hasAlpha << image.bitsPerSample
        << image.channels << image.data;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, NotificationImage& image) {
    in.beginStructure();
    in >> image.width >> image.height >> image.rowStride >> image.hasAlpha >> image.bitsPerSample >>
        image.channels >> image.data;
    in.endStructure();
    return in;
}

}  // namespace orvalin::desktop

Q_DECLARE_METATYPE(orvalin::desktop::NotificationImage)

namespace orvalin::desktop {
namespace {

NotificationImage ImageOf(int iconId) {
    const QImage image = IconById(iconId)
                             .pixmap(kIconPixels, kIconPixels)
                             .toImage()
                             .convertToFormat(QImage::Format_RGBA8888);
    NotificationImage picture;
    picture.width = image.width();
    picture.height = image.height();
    picture.rowStride = static_cast<int>(image.bytesPerLine());
    picture.data = QByteArray(reinterpret_cast<const char*>(image.constBits()),
                              static_cast<qsizetype>(image.sizeInBytes()));
    return picture;
}

}  // namespace

DesktopNotifications::DesktopNotifications(BusConnector connector, QObject* parent)
    : QObject(parent), connector_(std::move(connector)) {
    qDBusRegisterMetaType<NotificationImage>();
}

void DesktopNotifications::Start() {
    if (bus_ != Bus::kNotStarted) {
        return;
    }
    bus_ = Bus::kConnecting;
    ConnectInBackground(connector_, *this,
                        [this](const QDBusConnection& connection) { Connected(connection); });
}

void DesktopNotifications::Connected(const QDBusConnection& connection) {
    if (connection.isConnected()) {
        connection_ = connection;
        bus_ = Bus::kConnected;
        // By interface and path only: naming the server would make Qt look up
        // its owner with a call that waits.
        connection_->connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                             SLOT(OnActionInvoked(uint, QString, QDBusMessage)));
        connection_->connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"),
                             this, SLOT(OnClosed(uint, uint, QDBusMessage)));
    } else {
        bus_ = Bus::kNone;
    }
    std::vector<DesktopNotice> waiting;
    waiting.swap(waiting_);
    for (const DesktopNotice& notice : waiting) {
        Show(notice);
    }
}

void DesktopNotifications::Show(const DesktopNotice& notice) {
    switch (bus_) {
        case Bus::kNotStarted:
        case Bus::kNone:
            emit Unshown(notice);
            return;
        case Bus::kConnecting:
            waiting_.push_back(notice);
            return;
        case Bus::kConnected:
            AskCapabilities(notice);
            return;
    }
}

// Asked anew for every notice: the server may have changed since the last.
void DesktopNotifications::AskCapabilities(const DesktopNotice& notice) {
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                            QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(connection_->asyncCall(ask, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QStringList> reply = *call;
                if (reply.isError()) {
                    emit Unshown(notice);
                    return;
                }
                Notify(notice, reply.value());
            });
}

void DesktopNotifications::Notify(const DesktopNotice& notice, const QStringList& capabilities) {
    QStringList actions;
    if (capabilities.contains(QStringLiteral("actions"))) {
        actions = {kActionOpen,   Q(text::kNoticeOpen),  kActionCheckNow, Q(text::kNoticeCheckNow),
                   kActionSnooze, Q(text::kNoticeSnooze)};
    }
    // The body is plain text; a server that reads markup would take "<" and
    // "&" in it for tags.
    const QString body = capabilities.contains(QStringLiteral("body-markup"))
                             ? notice.body.toHtmlEscaped()
                             : notice.body;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(notice.critical ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("orvalin"));
    hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageOf(notice.iconId)));

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << Q(text::kAppTitle) << uint{0} << QStringLiteral("orvalin") << notice.summary << body
         << actions << hints << int{-1};
    auto* watcher = new QDBusPendingCallWatcher(connection_->asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* pending) {
                pending->deleteLater();
                const QDBusPendingReply<uint> reply = *pending;
                if (reply.isError()) {
                    emit Unshown(notice);
                    return;
                }
                server_ = reply.reply().service();
                shown_.push_back(reply.value());
                if (shown_.size() > kRememberedIds) {
                    shown_.pop_front();
                }
            });
}

bool DesktopNotifications::IsOurs(uint id, const QDBusMessage& message) const {
    return message.service() == server_ &&
           std::find(shown_.begin(), shown_.end(), id) != shown_.end();
}

void DesktopNotifications::OnActionInvoked(uint id, const QString& key,
                                           const QDBusMessage& message) {
    if (!IsOurs(id, message)) {
        return;
    }
    if (key == kActionOpen) {
        emit ActionChosen(NoticeAction::kOpen);
    } else if (key == kActionCheckNow) {
        emit ActionChosen(NoticeAction::kCheckNow);
    } else if (key == kActionSnooze) {
        emit ActionChosen(NoticeAction::kSnoozeHour);
    }
}

void DesktopNotifications::OnClosed(uint id, uint, const QDBusMessage& message) {
    if (IsOurs(id, message)) {
        shown_.erase(std::find(shown_.begin(), shown_.end(), id));
    }
}

}  // namespace orvalin::desktop
