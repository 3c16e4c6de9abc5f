// What the engine reads from the settings store at start-up, and the
// settings dialogs' saves.
#include "engine/engine_state.h"

namespace orvalin {

void CMonitorEngine::LoadSettings() {
    Shared& s = *shared_;
    SettingsStore& store = *s.store;
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
    SetMail(mail);

    std::string accessLog = store.Read(key::kAccessLogFile);
    std::string errorLog = store.Read(key::kErrorLogFile);
    if (accessLog.empty() || errorLog.empty()) {
        const LogPaths defaults = DefaultLogPaths();
        if (accessLog.empty()) {
            accessLog = defaults.accessLog;
            store.Write(key::kAccessLogFile, accessLog);
        }
        if (errorLog.empty()) {
            errorLog = defaults.errorLog;
            store.Write(key::kErrorLogFile, errorLog);
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
                slot.probe = std::make_shared<CSiteProbe>(address);
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
                              .senderEmail = settings.senderEmail});
}

void CMonitorEngine::SaveMailSettings(const MailSettings& settings) {
    SetMail(settings);
    SettingsStore& store = *shared_->store;
    store.Write(key::kSmtpName, settings.senderName);
    store.Write(key::kSmtpEmail, settings.senderEmail);
    store.Write(key::kSmtpUsername, settings.username);
    store.Write(key::kSmtpPassword, settings.password);
    store.Write(key::kSmtp, settings.server);
    store.Write(key::kSmtpAuth, settings.authenticate ? 1 : 0);
    store.Write(key::kSmtpAlert, settings.alertRecipient);
    store.Write(key::kSmtpRecovery, settings.recoveryRecipient);
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
    SettingsStore& store = *shared_->store;
    store.Write(key::kDoAccessLog, settings.doAccessLog ? 1 : 0);
    store.Write(key::kDoErrorLog, settings.doErrorLog ? 1 : 0);
    store.Write(key::kAccessLogFile, settings.accessLogFile);
    store.Write(key::kErrorLogFile, settings.errorLogFile);
}

}  // namespace orvalin
