#include "desktop/logview/log_view_dialog.h"

#include <QKeyEvent>
#include <QLocale>
#include <QShortcut>
#include <cstring>

#include "desktop/boxes/message_boxes.h"
#include "desktop/logview/log_text_view.h"
#include "logs/log_file_access.h"
#include "resources/logview_texts.h"
#include "ui_log_view_dialog.h"

namespace orvalin {

LogViewDialog::LogViewDialog(QString logFile, QWidget* parent, LogLoadOptions options)
    : QDialog(parent),
      ui_(std::make_unique<Ui::LogViewDialog>()),
      logFile_(std::move(logFile)),
      options_(std::move(options)) {
    ui_->setupUi(this);
    setWindowTitle(Qs(text::kLogViewTitle));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    ui_->findLabel->setText(Qs(text::kFindLabel));
    ui_->previousButton->setText(Qs(text::kFindPrevious));
    ui_->nextButton->setText(Qs(text::kFindNext));
    ui_->newestButton->setText(Qs(text::kNewestLines));
    ui_->pathLabel->setText(Qs(text::kCurrentLogFile));
    ui_->refreshButton->setText(Qs(text::kRefresh));
    ui_->clearButton->setText(Qs(text::kClearLog));
    ui_->closeButton->setText(Qs(text::kClose));
    ui_->findCancelButton->setText(Qs(text::kCancel));
    ui_->findCancelButton->hide();

    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->refreshButton, &QPushButton::clicked, this, &LogViewDialog::Reload);
    connect(ui_->clearButton, &QPushButton::clicked, this, &LogViewDialog::ClearLog);
    connect(ui_->newestButton, &QPushButton::clicked, this, [this] {
        View()->JumpToEnd();
        View()->setFocus();
    });
    connect(ui_->nextButton, &QPushButton::clicked, this, [this] { FindNext(false); });
    connect(ui_->previousButton, &QPushButton::clicked, this, [this] { FindNext(true); });
    connect(ui_->findEdit, &QLineEdit::textChanged, this, [this](const QString& term) {
        View()->SetHighlight(term);
        ui_->findStatus->clear();
    });
    ui_->findEdit->installEventFilter(this);
    connect(View(), &LogTextView::outOfMemory, this,
            [this] { ui_->logStatus->setText(Qs(text::kOutOfMemory)); });
    connect(View(), &LogTextView::findEnded, this, &LogViewDialog::ShowFindResult);
    connect(View(), &LogTextView::logChanged, this, &LogViewDialog::ShowChange);
    connect(ui_->findCancelButton, &QPushButton::clicked, this, &LogViewDialog::CancelFind);
    View()->SetFindHook(options_.afterFindRead);
    findProgress_.setInterval(kProgressPeriod * 10);
    connect(&findProgress_, &QTimer::timeout, this, &LogViewDialog::ShowFindProgress);

    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        ui_->findEdit->setFocus(Qt::ShortcutFocusReason);
        ui_->findEdit->selectAll();
    });
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this,
            [this] { FindNext(false); });
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this,
            [this] { FindNext(true); });

    progress_.setInterval(kProgressPeriod);
    connect(&progress_, &QTimer::timeout, this, &LogViewDialog::TakeProgress);
    View()->setFocus();
    StartLoad();
}

LogViewDialog::~LogViewDialog() {
    // The loader keeps what it shares with this dialog alive; it only needs
    // to be told to stop.
    if (load_) {
        load_->RequestStop();
    }
}

LogTextView* LogViewDialog::View() const {
    return ui_->logView;
}

void LogViewDialog::StartLoad() {
    CancelFind();
    ui_->pathEdit->clear();
    ui_->findStatus->clear();
    ShowChange(LogChange::None);
    load_ = LogLoad::Start(logFile_.toStdString(), options_);
    View()->SetText(load_->Text());
    ShowLineCount(true);
    progress_.start();
}

void LogViewDialog::StopLoad(std::chrono::milliseconds wait) {
    progress_.stop();
    if (load_) {
        load_->RequestStop();
        load_->WaitUntilEnded(wait);
        load_.reset();
    }
}

void LogViewDialog::TakeProgress() {
    if (!load_) {
        progress_.stop();
        return;
    }
    // The state is read before the lines: once it says Finished, every line
    // is indexed.
    const LogLoad::State state = load_->CurrentState();
    if (state == LogLoad::State::Failed) {
        progress_.stop();
        load_.reset();
        const QString message =
            Qs(text::kCouldNotOpenLogOpen) + logFile_ + Qs(text::kCouldNotOpenLogClose);
        View()->SetText(LogText::FromBytes(message.toStdString()));
        ui_->pathEdit->clear();
        ui_->lineCountLabel->clear();
        emit loadEnded();
        return;
    }
    if (state != LogLoad::State::Opening && ui_->pathEdit->text().isEmpty()) {
        ui_->pathEdit->setText(QString::fromStdString(load_->FullPath().string()));
    }
    View()->TakeNewLines();
    const bool finished = state == LogLoad::State::Finished;
    ShowLineCount(!finished);
    if (finished) {
        if (const int error = load_->ReadError(); error != 0) {
            ui_->logStatus->setText(Qs(text::kReadFailedOpen) +
                                    QString::fromLocal8Bit(std::strerror(error)) +
                                    Qs(text::kReadFailedClose));
        }
        progress_.stop();
        load_.reset();
        emit loadEnded();
    }
}

void LogViewDialog::ShowLineCount(bool reading) {
    const qint64 count = View()->LineCount();
    QString shown =
        count == 1 ? Qs(text::kOneLine) : QLocale().toString(count) + Qs(text::kLinesSuffix);
    if (reading) {
        shown.prepend(Qs(text::kLinesLoading));
    }
    ui_->lineCountLabel->setText(shown);
}

void LogViewDialog::Reload() {
    StopLoad(kStopWait);
    StartLoad();
}

void LogViewDialog::ClearLog() {
    if (!AskYesNo(this, Qs(text::kClearLogQuestion))) {
        return;
    }
    if (!TruncateLogFile(logFile_.toStdString())) {
        ShowWarningBox(
            this, Qs(text::kCouldNotClearLogOpen) + logFile_ + Qs(text::kCouldNotClearLogClose));
        return;
    }
    // The lock was free, so no loader holds the file; one that has not
    // opened it yet is stopped before it shows anything.
    StopLoad(kStopWait);
    View()->SetText(LogText::FromBytes({}));
    ShowLineCount(false);
    ShowChange(LogChange::None);
}

void LogViewDialog::FindNext(bool backward) {
    const QString term = ui_->findEdit->text();
    if (term.isEmpty()) {
        ui_->findEdit->setFocus();
        return;
    }
    findBackward_ = backward;
    if (!View()->StartFind(term, backward)) {
        // Still searching after a moment: say how far it has come, and offer Cancel.
        ShowFindProgress();
        ui_->findCancelButton->show();
        findProgress_.start();
    }
}

void LogViewDialog::CancelFind() {
    const bool running = View()->FindRunning();
    View()->CancelFind();
    findProgress_.stop();
    ui_->findCancelButton->hide();
    if (running) {
        ui_->findStatus->setText(Qs(text::kFindCancelled));
    }
}

void LogViewDialog::ShowFindProgress() {
    ui_->findStatus->setText(Qs(text::kFindSearching) +
                             QString::number(static_cast<int>(View()->FindProgress() * 100)) +
                             u'%');
}

void LogViewDialog::ShowFindResult(const std::optional<FoundText>& found) {
    findProgress_.stop();
    ui_->findCancelButton->hide();
    if (!found) {
        ui_->findStatus->setText(Qs(text::kFindNotFound));
    } else if (found->wrapped) {
        ui_->findStatus->setText(Qs(findBackward_ ? text::kFindFromBottom : text::kFindFromTop));
    } else {
        ui_->findStatus->clear();
    }
}

void LogViewDialog::ShowChange(LogChange change) {
    QString told;
    switch (change) {
        case LogChange::None:
            break;
        case LogChange::Replaced:
            told = Qs(text::kLogReplaced);
            break;
        case LogChange::Deleted:
            told = Qs(text::kLogDeleted);
            break;
        case LogChange::Changed:
            told = Qs(text::kLogChanged);
            break;
        case LogChange::Unreadable:
            told = Qs(text::kLogUnreadableOpen) +
                   QString::fromLocal8Bit(std::strerror(View()->ChangeError())) +
                   Qs(text::kLogUnreadableClose);
            break;
    }
    ui_->logStatus->setText(told);
    // Enter now reads the log again.
    ui_->closeButton->setDefault(change == LogChange::None);
    ui_->refreshButton->setDefault(change != LogChange::None);
}

bool LogViewDialog::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the find box finds (Shift+Enter backwards) instead of
    // pressing the dialog's default button.
    if (watched == ui_->findEdit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            FindNext(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LogViewDialog::done(int result) {
    CancelFind();
    StopLoad(kStopWait);
    QDialog::done(result);
}

}  // namespace orvalin
