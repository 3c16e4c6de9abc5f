// Browse in the log settings: the save form of the file dialog, for naming a
// log file to write to.
#pragma once

#include <QFileDialog>
#include <QString>
#include <optional>

namespace orvalin {

enum class LogKind { Access, Error };

// No initial file name, the default suffix "log", the log files' filter and
// "All Files", a question before an existing file is chosen, and only a path
// in an existing folder accepted. Always Qt's own dialog, so these hold on
// every desktop.
class LogFileDialog : public QFileDialog {
    Q_OBJECT

  public:
    LogFileDialog(QWidget* parent, LogKind kind);

    void accept() override;
};

// The chosen full path, or nothing when the user cancelled. The dialog opens
// in the folder of current when that folder exists.
std::optional<QString> ChooseLogFile(QWidget* parent, LogKind kind, const QString& current);

}  // namespace orvalin
