// The "Logs" dialog over a real engine and settings store: what it shows, OK
// saving the four keys in their order (the next line uses them), Cancel, and
// Browse with the save form of the file dialog.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "desktop/logview/log_settings_dialog.h"
#include "desktop/logview/logview_commands.h"
#include "qt_support.h"

namespace orvalin {
namespace {

using test::AnswerNextBox;
using test::ReadFileBytes;
using test::WhenModal;

template <typename T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

class LogSettingsTest : public ::testing::Test {
  protected:
    LogSettingsTest() {
        fixture.engine->SaveLogSettings({true, false, fixture.AccessLog(), fixture.ErrorLog()});
    }
    static QPushButton* Button(QWidget* dialog, QDialogButtonBox::StandardButton which) {
        return Child<QDialogButtonBox>(dialog, "buttons")->button(which);
    }

    test::EngineFixture fixture;
    CMonitorEngine& engine = *fixture.engine;
    std::string newAccess = (fixture.dir / "new-access.log").string();
    std::string newError = (fixture.dir / "new-error.log").string();
};

TEST_F(LogSettingsTest, OkSavesTheFourKeysInOrderAndTheNextLineUsesThem) {
    const test::StoreWriteLog writes(*fixture.store);
    bool shown = false;
    WhenModal<LogSettingsDialog>([&](LogSettingsDialog* dialog) {
        shown = true;
        EXPECT_EQ(dialog->windowTitle(), "Logs");
        EXPECT_EQ(Child<QGroupBox>(dialog, "accessGroup")->title(), "Access Log");
        EXPECT_EQ(Child<QGroupBox>(dialog, "errorGroup")->title(), "Error Log");
        auto* access = Child<QCheckBox>(dialog, "accessCheck");
        auto* errors = Child<QCheckBox>(dialog, "errorCheck");
        EXPECT_EQ(access->text(), "Log all &transactions");
        EXPECT_EQ(errors->text(), "Log &errors");
        EXPECT_EQ(Child<QLabel>(dialog, "accessLabel")->text(), "&Access log file name");
        EXPECT_EQ(Child<QLabel>(dialog, "errorLabel")->text(), "E&rror log file name");
        EXPECT_EQ(Child<QPushButton>(dialog, "accessBrowse")->text(), "Browse");
        EXPECT_TRUE(access->isChecked());
        EXPECT_FALSE(errors->isChecked());
        auto* accessEdit = Child<QLineEdit>(dialog, "accessEdit");
        auto* errorEdit = Child<QLineEdit>(dialog, "errorEdit");
        EXPECT_EQ(accessEdit->text().toStdString(), fixture.AccessLog());
        EXPECT_EQ(errorEdit->text().toStdString(), fixture.ErrorLog());

        access->setChecked(false);
        errors->setChecked(true);
        accessEdit->setText(QString::fromStdString(newAccess));
        errorEdit->setText(QString::fromStdString(newError));
        Button(dialog, QDialogButtonBox::Ok)->click();
    });
    RunLogSettings(nullptr, engine);
    ASSERT_TRUE(shown);

    EXPECT_EQ(writes.Keys(), (std::vector<std::string>{"DoAccessLog", "DoErrorLog", "AccessLogFile",
                                                       "ErrorLogFile"}));
    EXPECT_EQ(fixture.store->ReadInt("Settings", "DoAccessLog", -1), 0);
    EXPECT_EQ(fixture.store->ReadInt("Settings", "DoErrorLog", -1), 1);
    EXPECT_EQ(fixture.store->ReadString("Settings", "AccessLogFile", ""), newAccess);
    EXPECT_EQ(fixture.store->ReadString("Settings", "ErrorLogFile", ""), newError);

    // The access log is off now, the error log on.
    engine.Logs().WriteLogLine("SUCCESS http://a/ 5ms", engine.Logging().accessLogFile);
    engine.Logs().WriteLogLine("Website unreachable: http://b/", engine.Logging().errorLogFile);
    EXPECT_FALSE(std::filesystem::exists(newAccess));
    EXPECT_EQ(ReadFileBytes(newError), "<03/14/2004 09:05:07> Website unreachable: http://b/\r\n");
}

TEST_F(LogSettingsTest, CancelAndClosingTheWindowChangeNothing) {
    const test::StoreWriteLog writes(*fixture.store);
    const auto edit = [&](LogSettingsDialog* dialog) {
        Child<QCheckBox>(dialog, "accessCheck")->setChecked(false);
        Child<QLineEdit>(dialog, "accessEdit")->setText(QString::fromStdString(newAccess));
    };
    WhenModal<LogSettingsDialog>([&](LogSettingsDialog* dialog) {
        edit(dialog);
        Button(dialog, QDialogButtonBox::Cancel)->click();
    });
    RunLogSettings(nullptr, engine);
    WhenModal<LogSettingsDialog>([&](LogSettingsDialog* dialog) {
        edit(dialog);
        dialog->close();
    });
    RunLogSettings(nullptr, engine);

    EXPECT_TRUE(writes.Keys().empty());
    const LogSettings now = engine.Logging();
    EXPECT_TRUE(now.doAccessLog);
    EXPECT_FALSE(now.doErrorLog);
    EXPECT_EQ(now.accessLogFile, fixture.AccessLog());
}

class BrowseTest : public LogSettingsTest {
  protected:
    BrowseTest() { dialog.show(); }
    // Browses for kind; chose runs on the file dialog once it shows.
    void Browse(LogKind kind, const std::function<void(QFileDialog*)>& chose) {
        bool shown = false;
        WhenModal<QFileDialog>([&](QFileDialog* files) {
            shown = true;
            chose(files);
        });
        dialog.BrowseFor(kind);
        EXPECT_TRUE(shown);
    }
    static void Type(QFileDialog* files, const std::filesystem::path& path) {
        Child<QLineEdit>(files, "fileNameEdit")->setText(QString::fromStdString(path.string()));
    }
    // The dialog's Save button, as the user presses it.
    static void Save(QFileDialog* files) {
        QPushButton* save =
            Child<QDialogButtonBox>(files, "buttonBox")->button(QDialogButtonBox::Save);
        ASSERT_NE(save, nullptr);
        ASSERT_TRUE(save->isEnabled());
        save->click();
    }
    QString AccessEdit() { return Child<QLineEdit>(&dialog, "accessEdit")->text(); }
    QString ErrorEdit() { return Child<QLineEdit>(&dialog, "errorEdit")->text(); }

    LogSettingsDialog dialog{engine.Logging()};
};

TEST_F(BrowseTest, TheSaveFormNamesANewLogAndAddsTheSuffix) {
    Browse(LogKind::Access, [&](QFileDialog* files) {
        EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(files->defaultSuffix(), "log");
        EXPECT_EQ(files->nameFilters(), QStringList({"Access Log Files (*.log)", "All Files (*)"}));
        EXPECT_FALSE(files->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(Child<QLineEdit>(files, "fileNameEdit")->text(), "");
        // In the folder of the log named so far.
        EXPECT_EQ(files->directory().absolutePath().toStdString(), fixture.dir.Path().string());
        Type(files, fixture.dir / "monitor");
        Save(files);
    });
    EXPECT_EQ(AccessEdit().toStdString(), (fixture.dir / "monitor.log").string());
    EXPECT_FALSE(std::filesystem::exists(fixture.dir / "monitor.log"));

    Browse(LogKind::Error, [&](QFileDialog* files) {
        EXPECT_EQ(files->nameFilters(), QStringList({"Error Log Files (*.log)", "All Files (*)"}));
        Type(files, fixture.dir / "errors.txt");
        Save(files);
    });
    EXPECT_EQ(ErrorEdit().toStdString(), (fixture.dir / "errors.txt").string());
}

TEST_F(BrowseTest, AnExistingFileIsConfirmedButNotTouched) {
    const auto existing = fixture.dir / "old.log";
    std::ofstream(existing) << "kept\r\n";
    std::shared_ptr<test::SeenBox> question;
    Browse(LogKind::Access, [&](QFileDialog* files) {
        question = AnswerNextBox(QMessageBox::Yes);
        Type(files, existing);
        Save(files);
    });
    ASSERT_TRUE(question && question->seen);
    EXPECT_TRUE(question->text.contains("already exists")) << question->text.toStdString();
    EXPECT_EQ(AccessEdit().toStdString(), existing.string());
    EXPECT_EQ(ReadFileBytes(existing), "kept\r\n");
}

TEST_F(BrowseTest, AFolderThatDoesNotExistIsRefusedAndCancelLeavesTheBox) {
    const QString before = AccessEdit();
    std::shared_ptr<test::SeenBox> refusal;
    Browse(LogKind::Access, [&](QFileDialog* files) {
        refusal = AnswerNextBox(QMessageBox::Ok);
        Type(files, fixture.dir / "no-such-folder" / "access.log");
        Save(files);
        EXPECT_TRUE(files->isVisible());  // still open after the refusal
        files->reject();
    });
    ASSERT_TRUE(refusal && refusal->seen);
    EXPECT_EQ(refusal->title, "Orvalin");
    EXPECT_EQ(refusal->text, "This folder does not exist:\n" +
                                 QString::fromStdString((fixture.dir / "no-such-folder").string()));
    EXPECT_EQ(AccessEdit(), before);
}

}  // namespace
}  // namespace orvalin
