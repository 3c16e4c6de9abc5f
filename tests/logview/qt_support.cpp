#include "qt_support.h"

#include <sqlite3.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>
#include <fstream>
#include <stdexcept>

namespace orvalin::test {
namespace {

// One QApplication for the whole test program, on the offscreen platform.
// Qt's own settings (the file dialog keeps its state there) go to a folder
// that lives as long as the application: the path is cached at first use, so
// a test's own XDG_CONFIG_HOME would be written again after it is removed.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qtConfig_ = std::make_unique<TempDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(qtConfig_->Path().string()));
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        app_.reset();
        qtConfig_.reset();
    }

  private:
    int argc_ = 1;
    char name_[16] = "logview_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<TempDir> qtConfig_;
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void Exec(const std::string& dbFile, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(dbFile.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + dbFile);
    }
    sqlite3_busy_timeout(db, 5000);  // the engine's store writer may hold the lock a moment
    char* error = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (result != SQLITE_OK) {
        throw std::runtime_error(message);
    }
}

}  // namespace

std::uint64_t VirtualSize() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            return std::stoull(line.substr(7)) * 1024;  // given in kB
        }
    }
    return 0;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        if (!done()) {
            QThread::msleep(2);
        }
    }
    return true;
}

namespace {

void AnswerFrom(std::vector<std::shared_ptr<SeenBox>> seen,
                std::vector<QMessageBox::StandardButton> buttons, std::size_t index) {
    if (index >= buttons.size()) {
        return;
    }
    WhenModal<QMessageBox>([seen, buttons, index](QMessageBox* box) {
        SeenBox& s = *seen[index];
        s.seen = true;
        s.title = box->windowTitle();
        s.text = box->text();
        s.icon = box->icon();
        s.buttons = box->standardButtons();
        // The next box is looked for only once this one is answered.
        AnswerFrom(seen, buttons, index + 1);
        if (QAbstractButton* answer = box->button(buttons[index])) {
            answer->click();
        } else {
            ADD_FAILURE() << "the box has no such button: " << box->text().toStdString();
            box->reject();
        }
    });
}

}  // namespace

std::vector<std::shared_ptr<SeenBox>> AnswerBoxes(
    const std::vector<QMessageBox::StandardButton>& buttons) {
    std::vector<std::shared_ptr<SeenBox>> seen;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        seen.push_back(std::make_shared<SeenBox>());
    }
    AnswerFrom(seen, buttons, 0);
    return seen;
}

std::shared_ptr<SeenBox> AnswerNextBox(QMessageBox::StandardButton button) {
    return AnswerBoxes({button}).front();
}

std::vector<std::string> QtTestFrontEnd::Warnings() {
    const std::lock_guard lock(mutex_);
    return warnings_;
}

QtTestFrontEnd::QtTestFrontEnd() {
    QObject::connect(&pump_, &QTimer::timeout, [this] { RunPosted(); });
    pump_.start(2);
}

void QtTestFrontEnd::Post(std::function<void()> work) {
    const std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
}

void QtTestFrontEnd::RunPosted() {
    std::vector<std::function<void()>> due;
    {
        const std::lock_guard lock(mutex_);
        due.swap(posted_);
    }
    for (const auto& work : due) {
        work();
    }
}

void QtTestFrontEnd::PostAfter(std::uint32_t ms, std::function<void()> work) {
    Post([ms, work = std::move(work)] { QTimer::singleShot(ms, qApp, work); });
}

void QtTestFrontEnd::ShowWarning(const std::string& text) {
    const std::lock_guard lock(mutex_);
    warnings_.push_back(text);
}

EngineFixture::EngineFixture()
    : configHome("XDG_CONFIG_HOME", (dir / "config").string()),
      stateHome("XDG_STATE_HOME", (dir / "state").string()),
      store(std::make_shared<SettingsStore>(dir / "settings.db")),
      clock(std::make_shared<FakeClock>()) {
    engine = std::make_unique<CMonitorEngine>(ui.Parts(), store, clock);
    store->Write(key::kAccessLogFile, AccessLog());
    store->Write(key::kErrorLogFile, ErrorLog());
    engine->LoadSettings();
}

EngineFixture::~EngineFixture() {
    engine->Shutdown();
    engine.reset();
}

StoreWriteLog::StoreWriteLog(SettingsStore& store) : store_(store), dbFile_(store.Path().string()) {
    store.WriteInt("Test", "Touch", 1);  // makes the database and its table
    Exec(dbFile_,
         "CREATE TABLE IF NOT EXISTS write_log (id INTEGER PRIMARY KEY, key TEXT);"
         "DELETE FROM write_log;"
         "CREATE TRIGGER IF NOT EXISTS log_writes AFTER INSERT ON setting"
         " BEGIN INSERT INTO write_log (key) VALUES (NEW.key); END;");
}

std::vector<std::string> StoreWriteLog::Keys() const {
    store_.WaitForQueuedWrites(std::chrono::seconds(10));
    std::vector<std::string> keys;
    sqlite3* db = nullptr;
    sqlite3_stmt* query = nullptr;
    if (sqlite3_open(dbFile_.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT key FROM write_log ORDER BY id", -1, &query, nullptr) ==
            SQLITE_OK) {
        while (sqlite3_step(query) == SQLITE_ROW) {
            keys.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
        }
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return keys;
}

}  // namespace orvalin::test
