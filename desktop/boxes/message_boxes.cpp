#include "desktop/boxes/message_boxes.h"

#include <QMessageBox>

#include "resources/strings.h"

namespace orvalin {

void ShowWarningBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, Qs(text::kAppTitle), text, QMessageBox::Ok, parent);
    box.exec();
}

bool AskYesNo(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, Qs(text::kAppTitle), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace orvalin
