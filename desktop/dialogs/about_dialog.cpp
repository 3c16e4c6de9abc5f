#include "desktop/dialogs/about_dialog.h"

#include "desktop/control_id.h"
#include "desktop/qt_text.h"
#include "desktop/tray/icon_library.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "ui_about_dialog.h"

namespace orvalin::desktop {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    ui_->setupUi(this);
    SetControlId(*this, ids::kAboutDialog);
    setWindowTitle(Q(text::kAboutTitle));
    ui_->icon->setPixmap(IconById(ids::kIconNormal).pixmap(32, 32));
    ui_->productLine->setText(Q(text::kAboutLine));
    ui_->versionLine->setText(Q(text::kAboutVersion) + Q(text::kAppVersion));
    ui_->okButton->setText(Q(text::kOk));
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

AboutDialog::~AboutDialog() = default;

}  // namespace orvalin::desktop
