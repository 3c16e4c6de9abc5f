#include "desktop/logview/logview_commands.h"

#include "desktop/logview/log_settings_dialog.h"
#include "desktop/logview/log_view_dialog.h"
#include "desktop/logview/recommendation.h"
#include "desktop/logview/send_indicator.h"
#include "desktop/logview/tell_friend_dialog.h"

namespace orvalin {

void ShowLogViewer(QWidget* parent, const QString& logFile) {
    LogViewDialog dialog(logFile, parent);
    dialog.exec();
}

void RunLogSettings(QWidget* parent, CMonitorEngine& engine) {
    LogSettingsDialog dialog(engine.Logging(), parent);
    if (dialog.exec() == QDialog::Accepted) {
        engine.SaveLogSettings(dialog.Settings());
    }
}

void RunTellAFriend(QWidget* parent, CMonitorEngine& engine, SettingsStore& store) {
    TellFriendDialog dialog(LoadRecommendation(store, engine.Mail().senderEmail), parent);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const Recommendation typed = dialog.Typed();
    // Remembered before the send rather than after it: the result does not
    // matter, and so nothing is lost if the program ends during the send.
    StoreRecommendation(store, typed);
    SendWithIndicator(parent, engine,
                      MailMessage{typed.from, typed.to, typed.subject, BodyToSend(typed.body)});
}

}  // namespace orvalin
