#include "desktop/window/main_menu.h"

#include <QMenu>

#include "desktop/control_id.h"
#include "desktop/qt_text.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"

namespace orvalin::desktop {

MainMenu::MainMenu(QMenuBar& bar) {
    SetControlId(bar, ids::kMainMenu);

    QMenu& program = *bar.addMenu(Q(text::kMenuOrvalin));
    Add(program, ids::kCmdShowDetails, text::kMenuShowDetails, true);
    Add(program, ids::kCmdCompactMode, text::kMenuCompactMode, true);
    program.addSeparator();
    Add(program, ids::kCmdStartHidden, text::kMenuStartHidden, true);
    Add(program, ids::kCmdAutoStart, text::kMenuAutoStart, true);
    Add(program, ids::kCmdHide, text::kMenuHide);
    Add(program, ids::kCmdAlwaysOnTop, text::kMenuAlwaysOnTop, true);
    program.addSeparator();
    Add(program, ids::kCmdExit, text::kMenuExit);

    QMenu& view = *bar.addMenu(Q(text::kMenuView));
    Add(view, ids::kCmdAccessLog, text::kMenuAccessLog);
    Add(view, ids::kCmdErrorLog, text::kMenuErrorLog);

    QMenu& setup = *bar.addMenu(Q(text::kMenuSetup));
    Add(setup, ids::kCmdEmailSettings, text::kMenuEmailSettings);
    Add(setup, ids::kCmdTestEmail, text::kMenuTestEmail);
    setup.addSeparator();
    Add(setup, ids::kCmdAlertSettings, text::kMenuAlertSettings);
    snooze_ = new SnoozeMenu(&setup);
    setup.addMenu(snooze_);
    for (QAction* entry : snooze_->actions()) {
        if (const int id = ControlId(*entry); id != 0) {
            actions_[id] = entry;
        }
    }
    setup.addSeparator();
    Add(setup, ids::kCmdLogSettings, text::kMenuLogSettings);
    Add(setup, ids::kCmdProbeMode, text::kMenuProbeMode, true);
    setup.addSeparator();
    for (int i = 0; i < 4; ++i) {
        QAction* reset = setup.addAction(Q(text::kMenuResetWebsite) + QString::number(i + 1));
        const int id = ids::kCmdResetWebsite[i];
        SetControlId(*reset, id);
        actions_[id] = reset;
    }

    QMenu& help = *bar.addMenu(Q(text::kMenuHelp));
    Add(help, ids::kCmdHelpContents, text::kMenuContents);
    help.addSeparator();
    Add(help, ids::kCmdOnTheWeb, text::kMenuOnTheWeb);
    help.addSeparator();
    Add(help, ids::kCmdTellAFriend, text::kMenuTellAFriend);
    help.addSeparator();
    Add(help, ids::kCmdAbout, text::kMenuAbout);
}

QAction* MainMenu::Add(QMenu& menu, int id, std::string_view label, bool checkable) {
    QAction* action = menu.addAction(Q(label));
    action->setCheckable(checkable);
    SetControlId(*action, id);
    actions_[id] = action;
    return action;
}

QAction* MainMenu::Action(int id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void MainMenu::SetChecked(int id, bool on) const {
    if (QAction* action = Action(id)) {
        action->setChecked(on);
    }
}

}  // namespace orvalin::desktop
