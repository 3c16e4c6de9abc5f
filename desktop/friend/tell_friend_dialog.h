// The "Tell a friend" dialog: sender, recipient, subject and body of a
// recommendation, checked on OK.
#pragma once

#include <QDialog>
#include <memory>

#include "desktop/friend/recommendation.h"

namespace Ui {
class TellFriendDialog;
}

namespace orvalin {

class TellFriendDialog : public QDialog {
    Q_OBJECT

  public:
    explicit TellFriendDialog(const Recommendation& initial, QWidget* parent = nullptr);
    ~TellFriendDialog() override;

    // The four texts as typed (the body with CR LF line ends).
    Recommendation Typed() const;

    // OK: From, To, Subject and Body must each hold more than blanks; the
    // first that does not gets the focus and its message, and the dialog
    // stays open.
    void accept() override;

  private:
    std::unique_ptr<Ui::TellFriendDialog> ui_;
};

}  // namespace orvalin
