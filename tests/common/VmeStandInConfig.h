#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <memory>

// A crate for the stand-in VME bridge libraries (sim/vme), named for them through
// TESMAR_VME_SIM_CONFIG: the attached VM-USBs ("vmUsbSerials"), whether a V1718 answers ("v1718")
// and the modules ("modules": base, class, channels, serial, nominals, ...). Write it before the
// controller that should see it is constructed.
class VmeStandInConfig
{
public:
    // `json`: the whole configuration document.
    bool write(const QByteArray& json)
    {
        m_file = std::make_unique<QTemporaryFile>();
        if (!m_file->open() || m_file->write(json) != json.size() || !m_file->flush())
            return false;
        qputenv("TESMAR_VME_SIM_CONFIG", m_file->fileName().toLocal8Bit());
        return true;
    }

private:
    std::unique_ptr<QTemporaryFile> m_file;
};
