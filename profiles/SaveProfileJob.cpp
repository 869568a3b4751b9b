#include "SaveProfileJob.h"

#include "device/BaseModule.h"
#include "profiles/ModuleProfile.h"

SaveProfileJob::SaveProfileJob(DeviceSession* session, BaseModule* module, const QString& fileName, QObject* parent)
    : ServiceJob(session, module, QStringLiteral("profile"), parent)
    , m_fileName(fileName)
{
}

void SaveProfileJob::begin()
{
    runStep([this](BaseModule& module, StepWrites&) -> Continuation {
        ModuleProfile profile;
        QString error;
        const bool read = ModuleProfile::readFromModule(&module, &profile, &error);
        const QString address = module.address();
        return [this, read, profile, error, address] {
            if (!read)
                finish(NotRead, tr("Profile not saved: %1 could not be read from %2.").arg(error, address));
            else if (!profile.save(m_fileName))
                finish(NotSaved, tr("Profile could not be saved to file %1.").arg(m_fileName));
            else
                finish();
        };
    });
}
