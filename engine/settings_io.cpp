// What the engine reads from the settings store at start-up, and the
// settings dialogs' saves.
#include "engine/engine_state.h"

namespace orvalin {

MailSettings MailSettingsOf(const SettingsSnapshot& store) {
    MailSettings mail;
    mail.senderName = store.Read(key::kSmtpName);
    mail.username = store.Read(key::kSmtpUsername);
    mail.password = store.Read(key::kSmtpPassword);
    mail.server = store.Read(key::kSmtp);
    mail.authenticate = store.Read(key::kSmtpAuth) != 0;
    mail.alertRecipient = store.Read(key::kSmtpAlert);
    mail.senderEmail = store.Read(key::kSmtpEmail);
    mail.recoveryRecipient = store.Read(key::kSmtpRecovery);
    mail.verifyTls = store.Read(key::kSmtpTlsVerify) != 0;
    return mail;
}

LogSettings LogSettingsOf(const SettingsSnapshot& store) {
    LogSettings logs{store.Read(key::kDoAccessLog) != 0, store.Read(key::kDoErrorLog) != 0,
                     store.Read(key::kAccessLogFile), store.Read(key::kErrorLogFile)};
    if (logs.accessLogFile.empty() || logs.errorLogFile.empty()) {
        const LogPaths defaults = DefaultLogPaths();
        if (logs.accessLogFile.empty()) {
            logs.accessLogFile = defaults.accessLog;
        }
        if (logs.errorLogFile.empty()) {
            logs.errorLogFile = defaults.errorLog;
        }
    }
    return logs;
}

std::string StoredSite(const SettingsSnapshot& store, int slot) {
    if (store.Read(key::kLastWebsite, slot).empty()) {
        return {};
    }
    // The probe's address is the title, as at start-up; a title left empty
    // by hand falls back to the address.
    std::string title = store.Read(key::kLastWebsiteTitle, slot);
    return title.empty() ? store.Read(key::kLastWebsite, slot) : title;
}

void CMonitorEngine::LoadSettings(std::chrono::milliseconds readWait) {
    Shared& s = *shared_;
    // Everything start-up needs, in one read. A store that cannot be read
    // gives the defaults, and nothing is written over it.
    const SettingsSnapshot store = s.store->Snapshot(readWait);
    {
        std::lock_guard lock(s.storeProblemMutex);
        s.storeProblem = store.Readable() ? std::string() : store.Problem();
    }
    for (int i = 0; i < kSlotCount; ++i) {
        s.Slot(i).intervalMinutes = store.Read(key::kInterval, i);
        s.Slot(i).warnMs = store.Read(key::kWarn, i);
        s.frontEnd.panels.SetIntervalBoxText(i, std::to_string(s.Slot(i).intervalMinutes.load()));
        s.frontEnd.panels.SetWarningBoxText(i, std::to_string(s.Slot(i).warnMs.load()));
    }
    // Settings that could not be read are no first run: the email setup
    // would only hide what the store holds.
    s.emailPromptPending = store.Readable();
    s.startHidden = store.Read(key::kStartHidden) != 0;
    s.UseMail(MailSettingsOf(store));

    const LogSettings logs = LogSettingsOf(store);
    SettingsBatch writeBack;
    if (store.Read(key::kAccessLogFile).empty()) {
        writeBack.Set(key::kAccessLogFile, logs.accessLogFile);
    }
    if (store.Read(key::kErrorLogFile).empty()) {
        writeBack.Set(key::kErrorLogFile, logs.errorLogFile);
    }
    if (store.Readable()) {
        s.store->Queue(std::move(writeBack));
    }
    s.UseLogSettings(logs);
    // Lines an earlier run could not write come first.
    s.logs.RestoreMissedEntries(DefaultSpoolFile());

    for (int i = 0; i < kSlotCount; ++i) {
        SlotState& slot = s.Slot(i);
        {
            std::lock_guard lock(slot.mutex);
            slot.probe.reset();
            const std::string address = store.Read(key::kLastWebsite, i);
            if (!address.empty()) {
                slot.probe = std::make_shared<CSiteProbe>(
                    address, ProbeModeFromSetting(store.Read(key::kProbeMode)));
                slot.probe->SetUrl(store.Read(key::kLastWebsiteTitle, i));
                slot.lastUrl = slot.probe->Url();
                slot.lastAlert = store.Read(key::kLastAlert, i);
                slot.lastRecovery = store.Read(key::kLastRecovery, i);
            }
            slot.graphScale = kInitialGraphScale;
        }
        Shared::PrepareGraph(s.frontEnd.panels.Graph(i));
    }
}

std::string CMonitorEngine::StoreProblem() const {
    std::lock_guard lock(shared_->storeProblemMutex);
    return shared_->storeProblem;
}

MailSettings CMonitorEngine::Mail() const {
    return shared_->MailCopy();
}

void CMonitorEngine::SetMail(const MailSettings& settings) {
    shared_->UseMail(settings);
}

SmtpAccount AccountOf(const MailSettings& settings) {
    return {.server = settings.server,
            .authenticate = settings.authenticate,
            .username = settings.username,
            .password = settings.password,
            .senderName = settings.senderName,
            .senderEmail = settings.senderEmail,
            .verifyTls = settings.verifyTls};
}

void CMonitorEngine::Shared::UseMail(const MailSettings& settings) {
    std::lock_guard lock(mailMutex);
    mail = settings;
    smtp.SetAccount(AccountOf(settings));
}

void CMonitorEngine::SaveMailSettings(const MailSettings& settings) {
    Shared& s = *shared_;
    const MailSettings before = s.MailCopy();
    SetMail(settings);
    // The keyring takes the password where it was usable; the store keeps an
    // empty one then.
    const bool toKeyring = s.keyring && MailPasswordPlace().keyring;
    // In this order, and together: one transaction.
    SettingsBatch batch;
    batch.Set(key::kSmtpName, settings.senderName)
        .Set(key::kSmtpEmail, settings.senderEmail)
        .Set(key::kSmtpUsername, settings.username)
        .Set(key::kSmtpPassword, toKeyring ? std::string() : settings.password)
        .Set(key::kSmtp, settings.server)
        .Set(key::kSmtpAuth, settings.authenticate ? 1 : 0)
        .Set(key::kSmtpAlert, settings.alertRecipient)
        .Set(key::kSmtpRecovery, settings.recoveryRecipient);
    s.filingsPending += 1;
    const bool filing = s.keyring && s.StartKeyringJob([before, settings, toKeyring](Shared& job) {
        job.FilePassword(before, settings, toKeyring);
        job.filingsPending -= 1;
    });
    if (!filing) {
        s.filingsPending -= 1;
    }
    if (toKeyring && !filing) {
        batch.Set(key::kSmtpPassword, settings.password);  // no worker: the store keeps it
    }
    s.store->Queue(std::move(batch));
}

LogSettings CMonitorEngine::Logging() const {
    const CLogWriter& logs = shared_->logs;
    return LogSettings{logs.DoAccessLog(), logs.DoErrorLog(), logs.AccessLogFile(),
                       logs.ErrorLogFile()};
}

void CMonitorEngine::Shared::UseLogSettings(const LogSettings& settings) {
    logs.SetDoAccessLog(settings.doAccessLog);
    logs.SetDoErrorLog(settings.doErrorLog);
    logs.SetAccessLogFile(settings.accessLogFile);
    logs.SetErrorLogFile(settings.errorLogFile);
}

void CMonitorEngine::SaveLogSettings(const LogSettings& settings) {
    shared_->UseLogSettings(settings);
    shared_->store->Queue(SettingsBatch()
                              .Set(key::kDoAccessLog, settings.doAccessLog ? 1 : 0)
                              .Set(key::kDoErrorLog, settings.doErrorLog ? 1 : 0)
                              .Set(key::kAccessLogFile, settings.accessLogFile)
                              .Set(key::kErrorLogFile, settings.errorLogFile));
}

}  // namespace orvalin
