// The access and error logs: one stamped line appended per call, with lines
// that could not be written kept and written later, also by a later run.
#pragma once

#include <atomic>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>

#include "logs/missed_entry_spool.h"
#include "platform/clock.h"

namespace orvalin {

struct LogPaths {
    std::string accessLog;
    std::string errorLog;
};

// access.log and error.log in $XDG_STATE_HOME/orvalin (~/.local/state/orvalin
// when unset); creates that folder.
LogPaths DefaultLogPaths();

// missed.spool in the same folder, which holds the missed entries between
// runs; creates that folder.
std::filesystem::path DefaultSpoolFile();

class CLogWriter {
  public:
    explicit CLogWriter(IClock& clock) : clock_(clock) {}

    // Appends "<%m/%d/%Y %H:%M:%S> " + text + CR LF to fileName, first writing
    // any missed entries, each as stamp + "Missed Entry: " + entry + CR LF.
    // Safe from any thread.
    //
    // A line that cannot be written joins the missed entries: the whole
    // stamped line when the file cannot be opened (missing folder, no
    // permission, locked elsewhere, not a regular file: a FIFO or a device is
    // never opened for good) or when none of it was written;
    // when a write fails partway, only the part of the line (or of the missed
    // entry) that did not reach the file, so no byte is ever written twice. A
    // missed entry that fails keeps its place at the head and the present
    // line queues behind it. At most 10000 entries wait (see kMissedEntryCap):
    // beyond that the oldest go, and one entry written ahead of the rest
    // says how many.
    void WriteLogLine(const std::string& text, const std::string& fileName);

    // The log settings. Safe to change on one thread while others write.
    void SetAccessLogFile(std::string path);
    void SetErrorLogFile(std::string path);
    void SetDoAccessLog(bool on) { doAccessLog_.store(on); }
    void SetDoErrorLog(bool on) { doErrorLog_.store(on); }
    std::string AccessLogFile() const;
    std::string ErrorLogFile() const;
    bool DoAccessLog() const { return doAccessLog_.load(); }
    bool DoErrorLog() const { return doErrorLog_.load(); }

    // Lines waiting to be written (taken under the guard); for tests and display.
    std::deque<std::string> MissedEntries();

    // Missed entries outlive the run through a spool file. At start-up,
    // RestoreMissedEntries puts the entries that earlier runs left in spool
    // ahead of any missed so far, and empties the spool; they are written
    // with the next line that reaches a log. A missing spool holds nothing.
    // False when the spool could not be read and emptied (it is left as it is).
    bool RestoreMissedEntries(const std::filesystem::path& spool);
    // At shutdown, after the last line has been logged, SaveMissedEntries
    // appends the missed entries to spool (created 0600) and forgets them, so
    // they are never written twice; it leaves the spool alone when there are
    // none. False when they could not be saved (they stay in memory).
    bool SaveMissedEntries(const std::filesystem::path& spool);

  private:
    // Holds logBusy_ for one scope, so no early return can leave it set.
    class GuardHold {
      public:
        explicit GuardHold(CLogWriter& writer) : writer_(writer) { writer_.AcquireGuard(); }
        ~GuardHold() { writer_.ReleaseGuard(); }
        GuardHold(const GuardHold&) = delete;
        GuardHold& operator=(const GuardHold&) = delete;

      private:
        CLogWriter& writer_;
    };

    bool IsSuppressed(const std::string& fileName) const;
    void AcquireGuard();
    void ReleaseGuard();

    IClock& clock_;
    mutable std::mutex pathsMutex_;
    std::string accessLogFile_;
    std::string errorLogFile_;
    std::atomic<bool> doAccessLog_{true};
    std::atomic<bool> doErrorLog_{true};

    std::atomic_flag logBusy_;  // the guard, taken with 5 ms sleeps
    MissedQueue missed_;        // touched only under logBusy_
};

}  // namespace orvalin
