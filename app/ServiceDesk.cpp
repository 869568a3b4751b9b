#include "ServiceDesk.h"

#include "dialogs/common/UserDialogs.h"
#include "dialogs/common/WindowFront.h"

#include "controller/ApplicationIdentity.h"
#include "device/BaseModule.h"
#include "device/CommandOutcome.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/WriteJournal.h"
#include "dialogs/DialogFactory.h"
#include "dialogs/DialogSpecial.h"
#include "service/AddressResetJob.h"
#include "service/BaseAddressJob.h"
#include "service/FactoryResetJob.h"
#include "service/FirmwareTransferJob.h"

#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {
// A window with the progress of `job` and a Cancel button that kills it, for a procedure that has
// no window of its own; it closes when the job ends.
void showCancellable(QWidget* parent, ServiceJob* job, const QString& title, const QString& label, const QString& cancelText)
{
    auto* window = new QProgressDialog(label, cancelText, 0, 0, parent);
    window->setObjectName(QStringLiteral("serviceJobProgress"));
    window->setWindowTitle(title);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::NonModal);
    window->setAutoClose(false);
    window->setAutoReset(false);
    window->setMinimumDuration(0);
    QObject::connect(job, &ServiceJob::progress, window, [window](int done, int total) {
        window->setMaximum(total);
        window->setValue(done);
    });
    QObject::connect(window, &QProgressDialog::canceled, job, &ServiceJob::kill);
    QObject::connect(job, &ServiceJob::finished, window, [window, job] {
        QObject::disconnect(window, &QProgressDialog::canceled, job, nullptr);
        window->close();
    });
    window->show();
}

constexpr quint32 commandEndSpecial = 7;
constexpr quint32 commandLiveInsertion = 12;

// A service read counts as lost (and is asked again) after this long without an answer.
constexpr qint64 serviceReadLostAfterMs = 1000;

} // namespace

ServiceDesk::ServiceDesk(DeviceSession* session, QWidget* dialogParent, Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_dialogParent(dialogParent)
    , m_hooks(std::move(hooks))
    , m_readTimer(new QTimer(this))
{
    // The shown dialogs' reads come at the pace of the window's refresh.
    m_readTimer->setInterval(Poller::tickMs);
    connect(m_readTimer, &QTimer::timeout, this, &ServiceDesk::readTick);
    connect(session, &DeviceSession::currentModuleChanged, this, &ServiceDesk::followCurrentModule);
    connect(session, &DeviceSession::modulesDiscovered, this, &ServiceDesk::followCurrentModule);
}

ServiceDesk::~ServiceDesk()
{
    delete m_special.data();
    delete m_factory.data();
}

UserDialogs* ServiceDesk::dialogs() const
{
    return m_hooks.dialogs();
}

QWidget* ServiceDesk::dialogParent() const
{
    return m_dialogParent.data();
}

DialogSpecial* ServiceDesk::specialDialog() const
{
    return m_special.data();
}

DialogFactory* ServiceDesk::factoryDialog() const
{
    return m_factory.data();
}

// ---- Targets ----------------------------------------------------------------------------

BaseModule* ServiceDesk::dialogTarget(ServiceDialog dialog) const
{
    if (dialog == ServiceDialog::Special)
        return m_special ? m_special->target() : nullptr;
    if (dialog == ServiceDialog::Factory)
        return m_factory ? m_factory->target() : nullptr;
    return nullptr;
}

BaseModule* ServiceDesk::serviceTarget(ServiceDialog dialog)
{
    // The module object the procedure started on, as long as it is still listed: never another
    // module with the same serial number, never the one the window shows meanwhile.
    BaseModule* module = dialogTarget(dialog);
    if (m_session->holds(module))
        return module;
    tellServiceDialog(dialog, tr("The module this dialog was opened for is gone: nothing was sent to it."));
    return nullptr;
}

QString ServiceDesk::serviceTargetName(BaseModule* module, int serialNumber)
{
    return tr("%1, serial %2").arg(module->address()).arg(serialNumber);
}

int ServiceDesk::lastReadSerialNumber(BaseModule* module) const
{
    // The serial number the refresh read last: naming a module must not wait on the bus.
    if (!m_session->poller())
        return 0;
    const std::shared_ptr<const ModuleSnapshot> snapshot =
        m_session->poller()->moduleSnapshot(int(m_session->modules().indexOf(module)));
    return snapshot ? snapshot->serialNumber : 0;
}

void ServiceDesk::showWriteFailure(BaseModule* module, int channel, const QString& what, const QString& why)
{
    m_hooks.showError(CommandOutcome::failuresText(*module, what, {{channel, why}}));
}

void ServiceDesk::tellServiceDialog(ServiceDialog dialog, const QString& text)
{
    if (dialog == ServiceDialog::Special && m_special)
        m_special->showProblem(text);
    else if (dialog == ServiceDialog::Factory && m_factory)
        m_factory->showProblem(text);
}

void ServiceDesk::serviceWrite(ServiceDialog dialog, const QString& what, std::function<bool(BaseModule&)> write)
{
    BaseModule* module = serviceTarget(dialog);
    const int index = int(m_session->modules().indexOf(module));
    if (!module || index < 0)
        return;
    // Sent on the poller's thread after the commands before it; a refusal comes back here to the
    // status bar and the dialog. The module is only compared there, never used from here.
    const BaseModule* target = module;
    const QPointer<BaseModule> held(module);
    m_session->submitCommand(this, index, DeviceSession::Priority::Normal,
        [this, target, held, dialog, what, write = std::move(write)](BaseModule& each) -> DeviceSession::CommandResult {
            if (&each != target)
                return [this, dialog] {
                    tellServiceDialog(dialog, tr("The module this dialog was opened for is gone: nothing was sent to it."));
                };
            const WriteSource source("service");
            if (write(each))
                return [this] { m_hooks.refreshCurrentModuleNow(); };
            const QString why = each.lastError();
            return [this, held, dialog, what, why] {
                if (held)
                    showWriteFailure(held, -1, what, why);
                tellServiceDialog(dialog, tr("%1 refused: %2").arg(what, why));
            };
        });
}

void ServiceDesk::serviceModuleControl(ServiceDialog dialog, quint32 control)
{
    serviceWrite(dialog, tr("set module control 0x%1").arg(control, 0, 16),
        [control](BaseModule& module) { return module.setControl(control); });
}

void ServiceDesk::followCurrentModule()
{
    if (!m_special && !m_factory)
        return;
    BaseModule* module = m_session->currentModule();
    if (!module)
        return;
    const int serialNumber = lastReadSerialNumber(module);
    // Only a change is passed on: this runs on every read tick, so the names follow the serial
    // numbers once they are read.
    if (m_special && !m_special->transferRunning()
        && (m_special->target() != module || m_special->serialNumber() != serialNumber)) {
        m_special->setTarget(module, serialNumber, serviceTargetName(module, serialNumber));
        m_special->updateDeviceClass(quint16(module->deviceClass()));
    }
    if (m_factory && (m_factory->target() != module || m_factory->serialNumber() != serialNumber)) {
        m_factory->setTarget(module, serialNumber, serviceTargetName(module, serialNumber));
        m_factory->setChannelNumber(module->channelNumber());
    }
}

// ---- Reads for the dialogs --------------------------------------------------------------

void ServiceDesk::readTick()
{
    const bool special = m_special && m_special->isVisible();
    const bool factory = m_factory && m_factory->isVisible();
    if (!special && !factory) {
        m_readTimer->stop();
        return;
    }
    // The names follow the serial numbers once they are read.
    followCurrentModule();
    // Nothing is read while the window's refresh pauses (a procedure runs, a module settles).
    if (!m_hooks.refreshRunning())
        return;
    // A transfer reads the words itself (and goes on while its dialog is hidden).
    if (special && !m_special->transferRunning())
        readServiceWords(ServiceDialog::Special);
    if (factory)
        readServiceWords(ServiceDialog::Factory);
}

void ServiceDesk::readServiceWords(ServiceDialog dialog)
{
    BaseModule* target = dialogTarget(dialog);
    const int index = int(m_session->modules().indexOf(target));
    if (!target || index < 0)
        return;
    const bool special = dialog == ServiceDialog::Special;
    // The snapshots hold the module words of the module the window shows (the dialogs take them
    // from there); the special words of none.
    const bool wordsInSnapshots = target == m_session->currentModule();
    if (!special && wordsInSnapshots)
        return;
    // One read in flight per dialog: a slow module is not asked faster than it answers.
    qint64& startedAtMs = m_readStartedAtMs[int(dialog)];
    const qint64 nowMs = ModuleSnapshot::nowMs();
    if (startedAtMs >= 0 && nowMs - startedAtMs < serviceReadLostAfterMs)
        return;
    startedAtMs = nowMs;

    struct Words
    {
        quint32 control = 0, status = 0, eventMask = 0, eventChannelMask = 0;
        quint32 specialCommand = 0, specialStatus = 0;
        bool eventMaskRead = false, eventChannelMaskRead = false;
    };
    // Runs on the poller's thread; the result comes back here unless the desk is gone. The words
    // go to the dialog only, and only when they are its target's.
    m_session->readModuleOnce(this, index, [=](BaseModule& module) -> DeviceSession::ModuleReadResult {
        using Quantity = BaseModule::Quantity;
        if (&module != target)
            return {};
        Words words;
        if (special) {
            words.specialCommand = module.specialControlCommand();
            words.specialStatus = module.specialControlStatus();
        }
        if (!wordsInSnapshots) {
            if (!special) {
                words.eventMaskRead = module.reports(Quantity::ModuleEventMask);
                words.eventChannelMaskRead = module.reports(Quantity::EventChannelWords);
                if (words.eventMaskRead)
                    words.eventMask = module.eventMask();
                if (words.eventChannelMaskRead)
                    words.eventChannelMask = module.eventChannelMask();
            }
            words.control = module.control();
            words.status = module.status();
        }
        // Zeros of a module that did not answer are not readings.
        const bool answered = module.connected();
        return [this, dialog, answered, target, wordsInSnapshots, words] {
            m_readStartedAtMs[int(dialog)] = -1;
            if (dialogTarget(dialog) != target)
                return;
            if (dialog == ServiceDialog::Special) {
                if (!answered) {
                    m_special->showSpecialWordsUnknown();
                    if (!wordsInSnapshots)
                        m_special->showModuleWordsUnknown();
                    return;
                }
                if (!wordsInSnapshots) {
                    m_special->updateModuleControl(words.control);
                    m_special->updateModuleStatus(words.status);
                }
                m_special->updateModuleSpecialControlStatus(words.specialCommand, words.specialStatus);
                return;
            }
            if (!answered)
                return;
            m_factory->updateModuleControl(words.control);
            m_factory->updateModuleStatus(words.status);
            if (words.eventChannelMaskRead)
                m_factory->updateModuleEventChannelMask(words.eventChannelMask);
            // Last: the factory dialog takes the event mask as its tick.
            if (words.eventMaskRead)
                m_factory->updateModuleEventMask(words.eventMask);
        };
    });
}

// ---- Special mode -----------------------------------------------------------------------

void ServiceDesk::showSpecialMode()
{
    if (!m_special) {
        auto* dialog = new DialogSpecial(m_session, dialogParent());
        m_special = dialog;
        connect(dialog, &DialogSpecial::setModuleControl, this,
            [this](quint32 control) { serviceModuleControl(ServiceDialog::Special, control); });
        connect(dialog, &DialogSpecial::setSpecialControl, this, &ServiceDesk::setSpecialControl);
        connect(dialog, &DialogSpecial::transferRequested, this, &ServiceDesk::startFirmwareTransfer);
    }
    m_special->setUserDialogs(dialogs());
    if (!m_special->transferRunning()) {
        followCurrentModule();
        m_special->setHexFilename(m_hooks.defaultHexFileName());
    }
    WindowFront::showAndActivate(m_special.data());
    m_readTimer->start();
}

void ServiceDesk::setSpecialControl(quint32 command)
{
    if (!serviceTarget(ServiceDialog::Special))
        return;
    // Leaving special mode: the module is read again (a live insertion below may stop it).
    if (command == commandEndSpecial && m_jobsRunning == 0)
        emit refreshWanted(true);
    serviceWrite(ServiceDialog::Special, tr("special command %1").arg(command),
        [command](BaseModule& module) { return module.setSpecialControlCommand(command); });
    if (command == commandLiveInsertion) {
        const int count = int(m_session->modules().size());
        if (count == 1)
            emit refreshWanted(false);
        else if (count > 1)
            emit moduleRowWanted((m_session->currentModuleIndex() + 1) % count); // the list follows
    }
}

void ServiceDesk::startFirmwareTransfer(const QVector<FirmwareFile::Line>& lines, qint64 fileSize, bool write)
{
    BaseModule* module = serviceTarget(ServiceDialog::Special);
    if (!module || !m_special)
        return;
    auto* job = new FirmwareTransferJob(m_session, module, lines, fileSize, write, this);
    reportRefusals(job, ServiceDialog::Special);
    // While the module settles into special mode it is left alone; the window reads it again
    // once programming or comparing starts.
    auto pausedRefresh = std::make_shared<bool>(false);
    const auto resumeRefresh = [this, pausedRefresh] {
        if (*pausedRefresh && m_jobsRunning == 0)
            emit refreshWanted(true);
        *pausedRefresh = false;
    };
    connect(job, &FirmwareTransferJob::quietPeriod, this, [this, pausedRefresh, resumeRefresh](bool quiet) {
        if (!quiet) {
            resumeRefresh();
        } else if (m_hooks.refreshRunning()) {
            emit refreshWanted(false);
            *pausedRefresh = true;
        }
    });
    connect(job, &ServiceJob::finished, this, [resumeRefresh](ServiceJob* ended) {
        ended->deleteLater();
        resumeRefresh(); // also when it ended while the module settled
    });
    m_special->followTransfer(job);
    job->start();
}

// ---- Factory settings -------------------------------------------------------------------

void ServiceDesk::showFactorySettings()
{
    if (!m_factory) {
        auto* dialog = new DialogFactory(m_session, dialogParent());
        m_factory = dialog;
        connect(dialog, &DialogFactory::setModuleControl, this,
            [this](quint32 control) { serviceModuleControl(ServiceDialog::Factory, control); });
        connect(dialog, &DialogFactory::setModuleEventMask, this, [this](quint32 mask) {
            serviceWrite(ServiceDialog::Factory, tr("set module event mask 0x%1").arg(mask, 0, 16),
                [mask](BaseModule& module) { return module.setEventMask(mask); });
        });
        connect(dialog, &DialogFactory::setModuleEventChannelMask, this, [this](quint32 mask) {
            serviceWrite(ServiceDialog::Factory, tr("set event channel mask 0x%1").arg(mask, 0, 16),
                [mask](BaseModule& module) { return module.setEventChannelMask(mask); });
        });
        connect(dialog, &DialogFactory::storeFactorySettings, this, &ServiceDesk::storeFactorySettings);
        connect(this, &ServiceDesk::factoryResetDone, dialog, &DialogFactory::factoryResetDone);
        connect(this, &ServiceDesk::factoryResetCancelled, dialog, &DialogFactory::factoryResetCancelled);
        connect(this, &ServiceDesk::factoryResetProgress, dialog, &DialogFactory::factoryResetProgress);
        connect(dialog, &DialogFactory::cancelFactoryReset, this, &ServiceDesk::cancelFactoryReset);
    }
    followCurrentModule();
    WindowFront::showAndActivate(m_factory.data());
    m_readTimer->start();
}

void ServiceDesk::storeFactorySettings()
{
    if (m_factoryResetJob)
        return; // one reset at a time; the dialog's buttons are disabled meanwhile
    BaseModule* module = serviceTarget(ServiceDialog::Factory);
    if (!module) {
        emit factoryResetDone(false);
        return;
    }
    auto* job = new FactoryResetJob(m_session, module, this);
    m_factoryResetJob = job;
    connect(
        job, &ServiceJob::message, this, [this](const QString& text) { tellServiceDialog(ServiceDialog::Factory, text); });
    if (m_factory)
        connect(job, &FactoryResetJob::channelReset, m_factory.data(), &DialogFactory::showChannelReset);
    connect(job, &ServiceJob::progress, this, [this](int done, int total) { emit factoryResetProgress(done, total); });
    connect(job, &ServiceJob::finished, this, &ServiceDesk::factoryResetEnded);
    startServiceJob(job, ServiceDialog::Factory);
}

void ServiceDesk::cancelFactoryReset()
{
    if (m_factoryResetJob)
        m_factoryResetJob->kill();
}

void ServiceDesk::factoryResetEnded(ServiceJob* job)
{
    serviceJobEnded(job);
    switch (job->error()) {
    case ServiceJob::Cancelled:
        emit factoryResetCancelled();
        return;
    case ServiceJob::GaveUp:
        dialogs()->information(dialogParent(), ApplicationIdentity::title(), job->errorText(), QMessageBox::Ok);
        break;
    case ServiceJob::ModuleGone:
        // A module that went away is not an error of the module: no message box.
        tellServiceDialog(ServiceDialog::Factory, job->errorText());
        break;
    default:
        break;
    }
    emit factoryResetDone(job->error() == ServiceJob::NoError);
}

// ---- Jobs -------------------------------------------------------------------------------

void ServiceDesk::reportRefusals(ServiceJob* job, ServiceDialog dialog)
{
    QPointer<BaseModule> module = job->module();
    connect(
        job, &ServiceJob::refused, this, [this, dialog, module](int channel, const QString& what, const QString& reason) {
            if (module)
                showWriteFailure(module, channel, what, reason);
            const QString where = channel >= 0 ? tr("Channel %1: ").arg(channel) : QString();
            tellServiceDialog(dialog, tr("%1%2 refused: %3").arg(where, what, reason));
        });
}

void ServiceDesk::startServiceJob(ServiceJob* job, ServiceDialog dialog)
{
    reportRefusals(job, dialog);
    // The window is read again when the last procedure ended.
    if (m_jobsRunning++ == 0)
        emit refreshWanted(false);
    job->start();
}

void ServiceDesk::serviceJobEnded(ServiceJob* job)
{
    if (m_factoryResetJob == job)
        m_factoryResetJob = nullptr;
    if (m_baseAddressJob == job)
        m_baseAddressJob = nullptr;
    job->deleteLater();
    if (--m_jobsRunning == 0)
        emit refreshWanted(true);
    m_hooks.refreshCurrentModuleNow();
}

// ---- Base address -----------------------------------------------------------------------

bool ServiceDesk::programNewBaseAddress()
{
    const QPointer<BaseModule> module = m_session->currentModule();
    if (!module || m_baseAddressJob)
        return false;
    const quint16 currentAddress = module->baseAddress();
    const QString currentText = QString::asprintf("0x%04X", currentAddress);

    QStringList candidates;
    for (const quint16 candidate : BaseAddressJob::freeAddresses(module, m_session->modules()))
        candidates.append(QString::asprintf("0x%04X", candidate));

    bool ok = false;
    // The window may show another module than the one this procedure acts on: the question
    // names it in its first line.
    const int serialNumber = lastReadSerialNumber(module);
    const QString choice = dialogs()->getItem(dialogParent(), ApplicationIdentity::title(),
        serviceTargetName(module, serialNumber) + QStringLiteral("\n\n")
            + tr("Please choose a new VME Base Address for the module with serial number %1.\n\nThis new address is "
                 "programmed in the EEPROM of the module and used after a reset.\n\nPlease make sure that the "
                 "address jumper is not set!")
                  .arg(serialNumber),
        candidates, int(candidates.indexOf(currentText)), false, &ok);
    if (!ok || choice.isEmpty() || !m_session->holds(module) || m_baseAddressJob)
        return false;
    QString digits = choice.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    const uint parsed = digits.toUInt(&ok, 16);
    if (!ok || parsed > 0xFFFF)
        return false;

    auto* job = new BaseAddressJob(m_session, module, quint16(parsed), this);
    m_baseAddressJob = job;
    connect(job, &ServiceJob::finished, this,
        [this, currentText](ServiceJob* ended) { baseAddressProgrammed(ended, currentText); });
    showCancellable(dialogParent(), job, ApplicationIdentity::title(),
        tr("Programming the new base address 0x%1 ...").arg(parsed, 4, 16, QLatin1Char('0')), tr("&Cancel Programming"));
    startServiceJob(job, ServiceDialog::None);
    return true;
}

void ServiceDesk::baseAddressProgrammed(ServiceJob* job, const QString& oldAddressText)
{
    serviceJobEnded(job);
    QPointer<BaseModule> module = job->module();
    if (job->error() == ServiceJob::GaveUp)
        dialogs()->information(dialogParent(), ApplicationIdentity::title(), job->errorText(), QMessageBox::Ok);
    if (job->error() == ServiceJob::Cancelled) {
        m_hooks.showError(
            tr("Base address programming cancelled. The module answers at its old address until a reset; whether its "
               "EEPROM took the new one was not checked."));
    }
    // A refused write is in the status bar already; a module that went away or a cancel ends it.
    if (job->error() != ServiceJob::NoError || !m_session->holds(module))
        return;
    const quint16 newAddress = static_cast<BaseAddressJob*>(job)->newAddress();
    if (dialogs()->question(dialogParent(), ApplicationIdentity::title(),
            tr("Module returned new address = 0x%1, which seems to be ok.\n\nDo you want to reset the module to use this "
               "new address?")
                .arg(newAddress, 4, 16, QLatin1Char(' ')),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes) {
        dialogs()->information(dialogParent(), ApplicationIdentity::title(),
            tr("The Module still uses the old address %1.\n\nYou can communicate with it till the next hardware "
               "reset.\n\nPlease note the new address 0x%2 and use this addressfor communication after the reset.")
                .arg(oldAddressText, QStringLiteral("%1").arg(newAddress, 4, 16, QLatin1Char('0'))),
            QMessageBox::Ok);
        return;
    }
    if (!m_session->holds(module) || m_baseAddressJob)
        return;
    auto* reset = new AddressResetJob(m_session, module, newAddress, this);
    m_baseAddressJob = reset;
    connect(reset, &ServiceJob::finished, this, &ServiceDesk::baseAddressResetEnded);
    showCancellable(dialogParent(), reset, ApplicationIdentity::title(),
        tr("Resetting the module to its new address 0x%1 ...").arg(newAddress, 4, 16, QLatin1Char('0')),
        tr("&Cancel Reset"));
    startServiceJob(reset, ServiceDialog::None);
}

void ServiceDesk::baseAddressResetEnded(ServiceJob* job)
{
    serviceJobEnded(job);
    BaseModule* module = job->module();
    if (job->error() == ServiceJob::NoError && m_session->holds(module))
        emit moduleAddressChanged(module);
    else if (job->error() == ServiceJob::GaveUp)
        dialogs()->warning(dialogParent(), ApplicationIdentity::title(), job->errorText(), QMessageBox::Ok);
    else if (job->error() == ServiceJob::Cancelled)
        m_hooks.showError(
            tr("Reset to the new base address cancelled. The module may still be in special mode; it answers at its "
               "old address until a reset."));
}
