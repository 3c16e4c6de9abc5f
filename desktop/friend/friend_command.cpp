#include "desktop/friend/friend_command.h"

#include "desktop/boxes/send_indicator.h"
#include "desktop/friend/recommendation.h"
#include "desktop/friend/tell_friend_dialog.h"

namespace orvalin {

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
