#pragma once

#include "service/ServiceJob.h"

// Save Profile as a job: the module's profile is read in one step on the poller's thread, every
// value with a check, and written to the file here once all of it was read. A profile with a
// value the module did not answer is never saved (it would later write a guess into the module).
class SaveProfileJob : public ServiceJob
{
    Q_OBJECT
public:
    enum Error {
        NotRead = 100, // errorText(): which value, and from which module
        NotSaved,      // the file could not be written
    };

    SaveProfileJob(DeviceSession* session, BaseModule* module, const QString& fileName, QObject* parent = nullptr);

    QString fileName() const { return m_fileName; }

protected:
    void begin() override;

private:
    QString m_fileName;
};
