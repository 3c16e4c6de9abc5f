#include "desktop/dialogs/email_commands.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QVBoxLayout>

#include "desktop/dialogs/email_setup_dialog.h"
#include "desktop/qt_text.h"
#include "engine/monitor_engine.h"
#include "resources/desktop_texts.h"
#include "resources/strings.h"

namespace orvalin::desktop {
namespace {

// The modal notice shown while the test sends. The user cannot dismiss it:
// it closes when the test has ended.
class TestRunningNotice : public QDialog {
  public:
    explicit TestRunningNotice(QWidget* parent) : QDialog(parent) {
        setObjectName(QStringLiteral("emailTestNotice"));
        setWindowTitle(Q(text::kAppTitle));
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        auto* column = new QVBoxLayout(this);
        column->addWidget(new QLabel(Q(text::kEmailTestRunning), this));
        auto* busy = new QProgressBar(this);
        busy->setRange(0, 0);
        busy->setTextVisible(false);
        column->addWidget(busy);
        setMinimumWidth(280);
    }

    void Finish() {
        finished_ = true;
        accept();
    }

    bool Finished() const { return finished_; }

    void reject() override {
        if (finished_) {
            QDialog::reject();
        }
    }

  private:
    bool finished_ = false;
};

// Where the password is kept: in the keyring, or in the settings file.
QString PasswordPlaceText(const PasswordPlace& place) {
    if (place.keyring) {
        return Q(text::kEmailPasswordInKeyring);
    }
    const std::string file = place.storeFile + ".";
    if (place.problem.empty()) {
        return Q(std::string(text::kEmailPasswordInFile) + file);
    }
    return Q(std::string(text::kEmailKeyringFailedOpen) + place.problem +
             std::string(text::kEmailKeyringFailedClose) + file);
}

}  // namespace

void EmailCommands::OpenSettings() {
    EmailSetupDialog dialog(engine_.Mail(), dialogs_, &window_);
    dialog.ShowPasswordPlace(PasswordPlaceText(engine_.MailPasswordPlace()));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    engine_.SaveMailSettings(dialog.Result());
    if (dialogs_.AskYesNo(std::string(text::kEmailRecommendTest))) {
        RunTest();
    }
}

void EmailCommands::RunTest() {
    TestRunningNotice notice(&window_);
    QPointer<TestRunningNotice> guard(&notice);
    if (!engine_.RunEmailTest([guard] {
            if (guard) {
                guard->Finish();
            }
        })) {
        // Once the program is ending, the box returns at once.
        dialogs_.ShowWarning(std::string(text::kEmailTestNotStarted));
        return;
    }
    // When the program ends meanwhile, its end ends this loop too.
    if (!notice.Finished()) {
        notice.exec();
    }
}

}  // namespace orvalin::desktop
