#include "desktop/logview/log_settings_dialog.h"

#include <QIcon>
#include <QPushButton>

#include "desktop/boxes/message_boxes.h"
#include "resources/logview_texts.h"
#include "ui_log_settings_dialog.h"

namespace orvalin {

LogSettingsDialog::LogSettingsDialog(const LogSettings& settings, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::LogSettingsDialog>()) {
    ui_->setupUi(this);
    setWindowTitle(Qs(text::kLogSettingsTitle));
    ui_->accessGroup->setTitle(Qs(text::kAccessLogGroup));
    ui_->accessCheck->setText(Qs(text::kLogAllTransactions));
    ui_->accessLabel->setText(Qs(text::kAccessLogFileName));
    ui_->accessBrowse->setText(Qs(text::kBrowse));
    ui_->errorGroup->setTitle(Qs(text::kErrorLogGroup));
    ui_->errorCheck->setText(Qs(text::kLogErrors));
    ui_->errorLabel->setText(Qs(text::kErrorLogFileName));
    ui_->errorBrowse->setText(Qs(text::kBrowse));
    ui_->buttons->button(QDialogButtonBox::Ok)->setText(Qs(text::kOk));
    ui_->buttons->button(QDialogButtonBox::Cancel)->setText(Qs(text::kCancel));
    ui_->buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    for (QAbstractButton* button : ui_->buttons->buttons()) {
        button->setIcon(QIcon());  // plain, like the program's other dialogs
    }

    ui_->accessCheck->setChecked(settings.doAccessLog);
    ui_->errorCheck->setChecked(settings.doErrorLog);
    ui_->accessEdit->setText(QString::fromStdString(settings.accessLogFile));
    ui_->errorEdit->setText(QString::fromStdString(settings.errorLogFile));

    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui_->accessBrowse, &QPushButton::clicked, this, [this] { BrowseFor(LogKind::Access); });
    connect(ui_->errorBrowse, &QPushButton::clicked, this, [this] { BrowseFor(LogKind::Error); });
}

LogSettingsDialog::~LogSettingsDialog() = default;

LogSettings LogSettingsDialog::Settings() const {
    return LogSettings{ui_->accessCheck->isChecked(), ui_->errorCheck->isChecked(),
                       ui_->accessEdit->text().toStdString(), ui_->errorEdit->text().toStdString()};
}

void LogSettingsDialog::BrowseFor(LogKind kind) {
    QLineEdit* edit = kind == LogKind::Access ? ui_->accessEdit : ui_->errorEdit;
    if (const std::optional<QString> chosen = ChooseLogFile(this, kind, edit->text())) {
        edit->setText(*chosen);
    }
}

}  // namespace orvalin
