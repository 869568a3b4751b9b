#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <memory>

// A layout for the stand-in OPC server (sim/opc), named for it through TESMAR_OPC_SIM_CONFIG.
// The stand-in reads it when its first client opens and keeps that server while any client is
// open: write the layout before the first OpcController of a test and destroy every controller
// before the next layout.
class OpcStandInConfig
{
public:
    // `json`: the whole configuration document.
    bool write(const QByteArray& json)
    {
        m_file = std::make_unique<QTemporaryFile>();
        if (!m_file->open() || m_file->write(json) != json.size() || !m_file->flush())
            return false;
        qputenv("TESMAR_OPC_SIM_CONFIG", m_file->fileName().toLocal8Bit());
        return true;
    }

private:
    std::unique_ptr<QTemporaryFile> m_file;
};
