#include "desktop/friend/tell_friend_dialog.h"

#include <QIcon>
#include <QPushButton>

#include "desktop/boxes/message_boxes.h"
#include "resources/logview_texts.h"
#include "ui_tell_friend_dialog.h"

namespace orvalin {
namespace {

// The edit holds line feeds; the stored and sent body holds CR LF.
QString ForEditing(const std::string& body) {
    QString text = QString::fromStdString(body);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

std::string AsTyped(QString text) {
    text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return text.toStdString();
}

}  // namespace

TellFriendDialog::TellFriendDialog(const Recommendation& initial, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TellFriendDialog>()) {
    ui_->setupUi(this);
    setWindowTitle(Qs(text::kTellFriendTitle));
    ui_->fromLabel->setText(Qs(text::kFriendFromLabel));
    ui_->toLabel->setText(Qs(text::kFriendToLabel));
    ui_->subjectLabel->setText(Qs(text::kFriendSubjectLabel));
    ui_->buttons->button(QDialogButtonBox::Ok)->setText(Qs(text::kOk));
    ui_->buttons->button(QDialogButtonBox::Cancel)->setText(Qs(text::kCancel));
    ui_->buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    for (QAbstractButton* button : ui_->buttons->buttons()) {
        button->setIcon(QIcon());  // plain, like the program's other dialogs
    }

    ui_->fromEdit->setText(QString::fromStdString(initial.from));
    ui_->toEdit->setText(QString::fromStdString(initial.to));
    ui_->subjectEdit->setText(QString::fromStdString(initial.subject));
    ui_->bodyEdit->setPlainText(ForEditing(initial.body));

    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &TellFriendDialog::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The recipient is the one field never filled in beforehand.
    ui_->toEdit->setFocus();
}

TellFriendDialog::~TellFriendDialog() = default;

Recommendation TellFriendDialog::Typed() const {
    return Recommendation{ui_->fromEdit->text().toStdString(), ui_->toEdit->text().toStdString(),
                          ui_->subjectEdit->text().toStdString(),
                          AsTyped(ui_->bodyEdit->toPlainText())};
}

void TellFriendDialog::accept() {
    struct Required {
        QWidget* field;
        QString text;
        std::string_view message;
    };
    const Required fields[] = {
        {ui_->fromEdit, ui_->fromEdit->text(), text::kEnterYourEmail},
        {ui_->toEdit, ui_->toEdit->text(), text::kEnterFriendEmail},
        {ui_->subjectEdit, ui_->subjectEdit->text(), text::kEnterSubject},
        {ui_->bodyEdit, ui_->bodyEdit->toPlainText(), text::kEnterBody},
    };
    for (const Required& required : fields) {
        if (required.text.trimmed().isEmpty()) {
            required.field->setFocus();
            ShowWarningBox(this, Qs(required.message));
            required.field->setFocus();
            return;
        }
    }
    QDialog::accept();
}

}  // namespace orvalin
