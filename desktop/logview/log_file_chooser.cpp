#include "desktop/logview/log_file_chooser.h"

#include <QDir>
#include <QFileInfo>

#include "desktop/boxes/message_boxes.h"
#include "resources/logview_texts.h"

namespace orvalin {

LogFileDialog::LogFileDialog(QWidget* parent, LogKind kind) : QFileDialog(parent) {
    setWindowTitle(Qs(text::kSaveAsTitle));
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setDefaultSuffix(Qs(text::kLogSuffix));
    setNameFilters({Qs(kind == LogKind::Access ? text::kAccessLogFilter : text::kErrorLogFilter),
                    Qs(text::kAllFilesFilter)});
}

void LogFileDialog::accept() {
    // Qt's dialog would take a name in a folder that does not exist; a log
    // there could never be written.
    const QStringList files = selectedFiles();
    if (!files.isEmpty()) {
        const QFileInfo chosen(files.first());
        if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
            ShowWarningBox(this, Qs(text::kFolderMissing) + chosen.absolutePath());
            return;
        }
    }
    QFileDialog::accept();
}

std::optional<QString> ChooseLogFile(QWidget* parent, LogKind kind, const QString& current) {
    LogFileDialog dialog(parent, kind);
    if (const QDir folder = QFileInfo(current).absoluteDir();
        !current.isEmpty() && folder.exists()) {
        dialog.setDirectory(folder);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(QFileInfo(dialog.selectedFiles().first()).absoluteFilePath());
}

}  // namespace orvalin
