// What the engine reads from the settings store at start-up, and the
// settings dialogs' saves.
#include "engine/engine_state.h"

namespace orvalin {

void CMonitorEngine::LoadSettings() {
    Shared& s = *shared_;
    // Everything start-up needs, in one read. A store that cannot be read
    // gives the defaults, and nothing is written over it.
    const SettingsSnapshot store = s.store->Snapshot();
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
    s.emailPromptPending = true;
    s.startHidden = store.Read(key::kStartHidden) != 0;
    s.logs.SetDoAccessLog(store.Read(key::kDoAccessLog) != 0);
    s.logs.SetDoErrorLog(store.Read(key::kDoErrorLog) != 0);

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
    SetMail(mail);

    std::string accessLog = store.Read(key::kAccessLogFile);
    std::string errorLog = store.Read(key::kErrorLogFile);
    if (accessLog.empty() || errorLog.empty()) {
        const LogPaths defaults = DefaultLogPaths();
        SettingsBatch writeBack;
        if (accessLog.empty()) {
            accessLog = defaults.accessLog;
            writeBack.Set(key::kAccessLogFile, accessLog);
        }
        if (errorLog.empty()) {
            errorLog = defaults.errorLog;
            writeBack.Set(key::kErrorLogFile, errorLog);
        }
        if (store.Readable()) {
            s.store->Write(writeBack);
        }
    }
    s.logs.SetAccessLogFile(accessLog);
    s.logs.SetErrorLogFile(errorLog);
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
    {
        std::lock_guard lock(shared_->mailMutex);
        shared_->mail = settings;
    }
    shared_->smtp.SetAccount({.server = settings.server,
                              .authenticate = settings.authenticate,
                              .username = settings.username,
                              .password = settings.password,
                              .senderName = settings.senderName,
                              .senderEmail = settings.senderEmail,
                              .verifyTls = settings.verifyTls});
}

void CMonitorEngine::SaveMailSettings(const MailSettings& settings) {
    SetMail(settings);
    // In this order, and together: one transaction.
    shared_->store->Write(SettingsBatch()
                              .Set(key::kSmtpName, settings.senderName)
                              .Set(key::kSmtpEmail, settings.senderEmail)
                              .Set(key::kSmtpUsername, settings.username)
                              .Set(key::kSmtpPassword, settings.password)
                              .Set(key::kSmtp, settings.server)
                              .Set(key::kSmtpAuth, settings.authenticate ? 1 : 0)
                              .Set(key::kSmtpAlert, settings.alertRecipient)
                              .Set(key::kSmtpRecovery, settings.recoveryRecipient));
}

LogSettings CMonitorEngine::Logging() const {
    const CLogWriter& logs = shared_->logs;
    return LogSettings{logs.DoAccessLog(), logs.DoErrorLog(), logs.AccessLogFile(),
                       logs.ErrorLogFile()};
}

void CMonitorEngine::SaveLogSettings(const LogSettings& settings) {
    CLogWriter& logs = shared_->logs;
    logs.SetDoAccessLog(settings.doAccessLog);
    logs.SetDoErrorLog(settings.doErrorLog);
    logs.SetAccessLogFile(settings.accessLogFile);
    logs.SetErrorLogFile(settings.errorLogFile);
    shared_->store->Write(SettingsBatch()
                              .Set(key::kDoAccessLog, settings.doAccessLog ? 1 : 0)
                              .Set(key::kDoErrorLog, settings.doErrorLog ? 1 : 0)
                              .Set(key::kAccessLogFile, settings.accessLogFile)
                              .Set(key::kErrorLogFile, settings.errorLogFile));
}

}  // namespace orvalin
