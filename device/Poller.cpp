#include "device/Poller.h"

#include "device/ControllerLock.h"
#include "device/ThreadCall.h"

#include "controller/BaseController.h"
#include "device/BaseCrate.h"
#include "device/BaseModule.h"
#include "device/ModuleGroupRead.h"

#include <QEventLoop>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <mutex>

namespace {
// Cadence in ticks of Poller::tickMs.
constexpr int moduleValuesEveryTicks = 11;
constexpr int connectionEveryTicks = 5; // once a second
// What a visible tool window shows of the current module: read at least this often.
constexpr int toolWindowValuesEveryTicks = 2;

int completeCount(const QVector<ChannelReading>& channels)
{
    return int(std::count_if(channels.cbegin(), channels.cend(), [](const ChannelReading& r) { return r.complete; }));
}

int validGroups(const ModuleReading& values)
{
    return int(values.rampSpeedsValid) + int(values.statusValid) + int(values.temperaturesValid) + int(values.suppliesValid);
}

// Reads with `read` and, when the answer is short of `wanted`, once more at once: a request lost
// on the way then costs one more round trip, not a tick. Keeps the fuller of the two reads whole
// (so every part of it comes from one read) and stamps it with the moment its read started: an
// answer is at least that fresh. `count` measures how complete a read is.
template <typename Read, typename Count>
auto readWithRetry(Read read, Count count, int wanted, qint64* readAtMs)
{
    qint64 startMs = ModuleSnapshot::nowMs();
    auto best = read();
    int bestCount = count(best);
    if (bestCount < wanted) {
        const qint64 retryStartMs = ModuleSnapshot::nowMs();
        auto retry = read();
        const int retryCount = count(retry);
        if (retryCount >= bestCount && retryCount > 0) {
            best = std::move(retry);
            bestCount = retryCount;
            startMs = retryStartMs;
        }
    }
    *readAtMs = bestCount > 0 ? startMs : -1;
    return best;
}
} // namespace

Poller::Poller() = default;

Poller::~Poller()
{
    stop();
}

void Poller::setDevices(std::shared_ptr<BaseController> controller, QVector<std::shared_ptr<BaseModule>> modules,
    QVector<std::shared_ptr<BaseCrate>> crates)
{
    QMutexLocker locker(&m_mutex);
    m_controller = std::move(controller);
    m_modules = std::move(modules);
    m_crates = std::move(crates);
    ++m_generation;
    m_moduleSnapshots.clear();
    m_crateSnapshot.reset();
    m_pending.clear();
    // The current module at once; the others show their connection from the first second's
    // probe (or the overview's reads).
    if (m_currentModule >= 0 && m_currentModule < m_modules.size())
        m_pending.insert(m_currentModule);
    m_tick = 0;
    postReadPending();
}

void Poller::clearDevices()
{
    // Only references are dropped here: a read in progress on the poller's thread keeps its own
    // until it ends, and the last holder deletes the objects in their thread.
    std::shared_ptr<BaseController> controller;
    QVector<std::shared_ptr<BaseModule>> modules;
    QVector<std::shared_ptr<BaseCrate>> crates;
    {
        QMutexLocker locker(&m_mutex);
        controller.swap(m_controller);
        modules.swap(m_modules);
        crates.swap(m_crates);
        ++m_generation;
        m_moduleSnapshots.clear();
        m_crateSnapshot.reset();
        m_pending.clear();
    }
    // Released outside the lock: a module's deletion may take the controller's mutex.
    modules.clear();
    crates.clear();
    controller.reset();
}

void Poller::setCurrentModule(int moduleIndex)
{
    QMutexLocker locker(&m_mutex);
    if (m_currentModule == moduleIndex)
        return;
    m_currentModule = moduleIndex;
    if (moduleIndex >= 0) {
        m_pending.insert(moduleIndex);
        postReadPending();
    }
}

void Poller::setNeeds(Needs needs)
{
    QMutexLocker locker(&m_mutex);
    // A tool window just shown gets its values at once, not at the next module-values turn.
    const bool newWindowValues = (needs & ToolWindowValues) & ~(m_needs & ToolWindowValues);
    m_needs = needs;
    if (newWindowValues && m_currentModule >= 0 && m_currentModule < m_modules.size()) {
        m_pending.insert(m_currentModule);
        postReadPending();
    }
}

void Poller::refreshNow(int moduleIndex)
{
    QMutexLocker locker(&m_mutex);
    if (moduleIndex < 0 || moduleIndex >= m_modules.size())
        return;
    m_pending.insert(moduleIndex);
    postReadPending();
}

std::shared_ptr<const ModuleSnapshot> Poller::moduleSnapshot(int moduleIndex) const
{
    QMutexLocker locker(&m_mutex);
    return m_moduleSnapshots.value(moduleIndex);
}

std::shared_ptr<const CrateSnapshot> Poller::crateSnapshot() const
{
    QMutexLocker locker(&m_mutex);
    return m_crateSnapshot;
}

void Poller::start()
{
    QMutexLocker locker(&m_mutex);
    if (m_thread)
        return;
    m_threadEnded.store(false, std::memory_order_relaxed);
    m_thread.reset(QThread::create([this] {
        run();
        m_threadEnded.store(true, std::memory_order_release);
    }));
    m_thread->setObjectName(QStringLiteral("Poller"));
    m_thread->start();
}

void Poller::stop()
{
    std::unique_ptr<QThread> thread;
    {
        QMutexLocker locker(&m_mutex);
        thread.swap(m_thread);
    }
    if (!thread)
        return;
    thread->quit();
    thread->wait();
    m_threadEnded.load(std::memory_order_acquire);
}

void Poller::run()
{
    // The objects live on this thread's stack, so they are created and deleted in this thread.
    ThreadCall context;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &context, [this] { tick(); });
    {
        QMutexLocker locker(&m_mutex);
        timer.setInterval(m_tickIntervalMs);
        m_context = &context;
        m_tickTimer = &timer;
    }
    timer.start();
    readPending();
    runOneShotReads();
    QEventLoop loop;
    loop.exec();
    // Commands already given are still sent (switching off when the window closes).
    runOneShotReads();
    QMutexLocker locker(&m_mutex);
    m_context = nullptr;
    m_tickTimer = nullptr;
}

void Poller::setTickIntervalMs(int intervalMs)
{
    QMutexLocker locker(&m_mutex);
    m_tickIntervalMs = intervalMs;
    if (m_context)
        m_context->post([this, intervalMs] {
            if (m_tickTimer)
                m_tickTimer->setInterval(intervalMs);
        });
}

void Poller::postReadPending()
{
    // Called with m_mutex held: m_context cannot go away meanwhile.
    if (m_context)
        m_context->post([this] { readPending(); });
}

Poller::Cycle Poller::takeCycle(bool scheduled)
{
    QMutexLocker locker(&m_mutex);
    Cycle cycle;
    cycle.generation = m_generation;
    cycle.controller = m_controller;
    cycle.modules = m_modules;
    cycle.crates = m_crates;
    cycle.currentModule = m_currentModule;
    cycle.needs = m_needs;
    cycle.pending = m_pending;
    m_pending.clear();
    if (scheduled)
        cycle.tick = m_tick++;
    return cycle;
}

void Poller::readPending()
{
    Cycle cycle = takeCycle(false);
    for (int index : std::as_const(cycle.pending)) {
        handOver();
        readModule(cycle, index, true, true);
    }
}

void Poller::tick()
{
    Cycle cycle = takeCycle(true);
    if (!cycle.controller)
        return;
    // A module read out of turn above (refreshNow, new current module) is not read again here.
    for (int index : std::as_const(cycle.pending)) {
        handOver();
        readModule(cycle, index, true, true);
    }

    const bool valuesTick = cycle.tick % moduleValuesEveryTicks == 0;
    const bool windowValuesTick = cycle.tick % toolWindowValuesEveryTicks == 0;
    const bool secondTick = cycle.tick % connectionEveryTicks == 0;
    const Needs windowNeeds = ToolWindowValues | ModuleTemperatures | ModuleSupplies;
    // Every module whose channels are shown is read together (the shown module first), so the
    // whole crate costs about one round trip and the shown module's values stay one tick old
    // however many modules the overview shows.
    QVector<int> channelModules;
    for (int index = 0; index < cycle.modules.size(); ++index) {
        const bool current = index == cycle.currentModule;
        if (cycle.pending.contains(index))
            continue;
        if ((current && cycle.needs.testFlag(CurrentModuleChannels)) || cycle.needs.testFlag(AllModulesChannels)
            || (secondTick && cycle.needs.testFlag(AllModulesChannelsEachSecond))) {
            if (current)
                channelModules.prepend(index);
            else
                channelModules.append(index);
        }
    }
    if (!channelModules.isEmpty())
        handOver();
    readChannelsOf(cycle, channelModules);

    for (int index = 0; index < cycle.modules.size(); ++index) {
        if (cycle.pending.contains(index))
            continue;
        const bool current = index == cycle.currentModule;
        // The other modules' values (for the overview) come at the same rate, staggered over the
        // ticks, so no tick waits for every module's values one after another.
        const bool otherValuesTick = (cycle.tick + index) % moduleValuesEveryTicks == 0;
        const bool values = (valuesTick && current && (cycle.needs & (CurrentModuleValues | windowNeeds)))
            || (cycle.needs.testFlag(AllModulesChannels) && (current ? valuesTick : otherValuesTick))
            || (windowValuesTick && current && (cycle.needs & windowNeeds));
        const bool probe = secondTick && !channelModules.contains(index);
        if (values || probe)
            handOver();
        if (values)
            readModule(cycle, index, false, values);
        else if (probe)
            probeModule(cycle, index);
    }
    // The crate window's values stay younger than the ageing time, as the tool windows' do.
    if (secondTick || (windowValuesTick && cycle.needs.testFlag(CrateValues))) {
        handOver();
        readCrate(cycle);
    }
}

void Poller::readModule(const Cycle& cycle, int index, bool channels, bool values)
{
    if (index < 0 || index >= cycle.modules.size())
        return;
    BaseModule* module = cycle.modules.at(index).get();
    const bool current = index == cycle.currentModule;

    if (channels) {
        qint64 channelsAtMs = -1;
        const qint64 startMs = ModuleSnapshot::nowMs();
        const QVector<ChannelReading> channelReading = readWithRetry(
            [module] { return module->readChannels(); }, completeCount, module->channelNumber(), &channelsAtMs);
        publishChannels(cycle, index, channelReading, channelsAtMs, startMs);
    }
    if (!values)
        return;
    handOver();

    const bool temperatures =
        (current && cycle.needs.testFlag(ModuleTemperatures)) || cycle.needs.testFlag(AllModulesChannels);
    const bool supplies = current && cycle.needs.testFlag(ModuleSupplies);
    qint64 valuesAtMs = -1;
    const ModuleReading valueReading = readWithRetry([=] { return module->readModuleValues(temperatures, supplies); },
        validGroups, 2 + int(temperatures) + int(supplies), &valuesAtMs);
    publishModule(cycle, index, [&](ModuleSnapshot& snapshot) {
        if (valuesAtMs >= 0)
            mergeValues(snapshot, valueReading, valuesAtMs);
        snapshot.lastAnswerAtMs = std::max(snapshot.lastAnswerAtMs, valuesAtMs);
    });
    if (current && (cycle.needs & ToolWindowValues))
        readToolWindowValues(cycle, index);
}

void Poller::publishChannels(
    const Cycle& cycle, int index, const QVector<ChannelReading>& reading, qint64 channelsAtMs, qint64 startMs)
{
    BaseModule* module = cycle.modules.at(index).get();
    // A module that answered although none of its channels gave a reading (a VME module in its
    // special mode) is still there: only its channel values are unknown.
    const qint64 answeredAtMs = channelsAtMs >= 0 ? channelsAtMs : module->connected() ? startMs : -1;
    // Published before the module values are read: the table shows a command's effect one round
    // trip after it, not after the slower scalar reads as well.
    publishModule(cycle, index, [&](ModuleSnapshot& snapshot) {
        if (channelsAtMs >= 0) {
            snapshot.channels = reading;
            snapshot.channelsReadAtMs = channelsAtMs;
            snapshot.voltageUnit = module->voltageUnit();
            snapshot.currentUnit = module->currentUnit();
        }
        snapshot.lastAnswerAtMs = std::max(snapshot.lastAnswerAtMs, answeredAtMs);
    });
}

void Poller::readChannelsOf(const Cycle& cycle, const QVector<int>& indexes)
{
    if (indexes.size() == 1)
        readModule(cycle, indexes.first(), true, false);
    if (indexes.size() <= 1)
        return;
    QVector<BaseModule*> modules;
    for (int index : indexes)
        modules.append(cycle.modules.at(index).get());
    const qint64 startMs = ModuleSnapshot::nowMs();
    ModuleGroupRead::readChannels(modules, [&](int i, const QVector<ChannelReading>& reading) {
        publishChannels(cycle, indexes.at(i), reading, completeCount(reading) > 0 ? startMs : -1, startMs);
    });
}

void Poller::probeModule(const Cycle& cycle, int index)
{
    BaseModule* module = cycle.modules.at(index).get();
    const qint64 nowMs = ModuleSnapshot::nowMs();
    const bool answered = module->connected();
    publishModule(cycle, index, [&](ModuleSnapshot& snapshot) {
        if (answered)
            snapshot.lastAnswerAtMs = nowMs;
    });
}

void Poller::mergeValues(ModuleSnapshot& snapshot, const ModuleReading& next, qint64 readAtMs)
{
    // A group that was not read this time keeps its previous reading and its time (supplies are
    // read only while a window shows them; a lost group is read again at the next turn).
    ModuleReading& merged = snapshot.values;
    snapshot.valuesReadAtMs = readAtMs;
    if (next.rampSpeedsValid) {
        merged.rampSpeedsValid = true;
        merged.voltageRampSpeed = next.voltageRampSpeed;
        merged.currentRampSpeed = next.currentRampSpeed;
        merged.currentControl = next.currentControl;
        snapshot.rampSpeedsReadAtMs = readAtMs;
    }
    if (next.statusValid) {
        merged.statusValid = true;
        merged.status = next.status;
        merged.eventStatus = next.eventStatus;
        snapshot.statusReadAtMs = readAtMs;
    }
    if (next.temperaturesValid) {
        merged.temperaturesValid = true;
        std::copy(std::begin(next.temperature), std::end(next.temperature), std::begin(merged.temperature));
        snapshot.temperaturesReadAtMs = readAtMs;
    }
    if (next.suppliesValid) {
        merged.suppliesValid = true;
        merged.supplyP5 = next.supplyP5;
        merged.supplyP12 = next.supplyP12;
        merged.supplyN12 = next.supplyN12;
        merged.voltageLimit = next.voltageLimit;
        merged.currentLimit = next.currentLimit;
        snapshot.suppliesReadAtMs = readAtMs;
    }
}

template <typename Update>
void Poller::publishModule(const Cycle& cycle, int index, Update update)
{
    // Identity is constant after construction; asked outside the lock, which never waits for a
    // controller.
    const int serialNumber = cycle.modules.at(index)->serialNumber();
    {
        QMutexLocker locker(&m_mutex);
        // Devices replaced while this read ran: its results belong to modules that are gone.
        if (cycle.generation != m_generation)
            return;
        const std::shared_ptr<const ModuleSnapshot> previous = m_moduleSnapshots.value(index);
        auto snapshot = previous ? std::make_shared<ModuleSnapshot>(*previous) : std::make_shared<ModuleSnapshot>();
        snapshot->moduleIndex = index;
        snapshot->serialNumber = serialNumber;
        update(*snapshot);
        m_moduleSnapshots.insert(index, std::move(snapshot));
    }
    emit modulePublished(index);
}

void Poller::readCrate(const Cycle& cycle)
{
    auto snapshot = std::make_shared<CrateSnapshot>();
    {
        // One operation: the error text must belong to this thread's connection read.
        std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*cycle.controller));
        const QString info = cycle.controller->connectionInfo();
        const BusStatus bus = cycle.controller->busStatus();
        snapshot->answered = cycle.controller->errorString().isEmpty();
        if (snapshot->answered) {
            snapshot->connectionInfo = info;
            snapshot->busStatus = bus;
        }
        snapshot->liveInsertion = cycle.controller->liveInsertion();
    }
    if (cycle.needs.testFlag(CrateValues) && !cycle.crates.isEmpty()) {
        qint64 startMs = ModuleSnapshot::nowMs();
        snapshot->crate = cycle.crates.first()->read();
        if (!snapshot->crate.valid) {
            startMs = ModuleSnapshot::nowMs();
            snapshot->crate = cycle.crates.first()->read();
        }
        snapshot->answered = snapshot->answered || snapshot->crate.valid;
        if (snapshot->crate.valid)
            snapshot->crateReadAtMs = startMs;
    }
    snapshot->readAtMs = ModuleSnapshot::nowMs();
    {
        QMutexLocker locker(&m_mutex);
        if (cycle.generation != m_generation)
            return;
        // Crate values are kept while the crate window is not shown and they are not read, and
        // when a read was not answered: the latest answered values then age by the rules (grey,
        // then unknown) instead of vanishing at one lost request.
        if ((!cycle.needs.testFlag(CrateValues) || !snapshot->crate.valid) && m_crateSnapshot) {
            snapshot->crate = m_crateSnapshot->crate;
            snapshot->crateReadAtMs = m_crateSnapshot->crateReadAtMs;
        }
        m_crateSnapshot = std::move(snapshot);
    }
    emit cratePublished();
}

// ---- Tool-window values ---------------------------------------------------------------------

void Poller::readToolWindowValues(const Cycle& cycle, int index)
{
    BaseModule* module = cycle.modules.at(index).get();
    ToolWindowReading::Groups groups;
    groups.moduleWords = cycle.needs.testFlag(ModuleControlWords);
    groups.channelEventWords = cycle.needs.testFlag(ChannelEventWords);
    groups.hardwareNominals = cycle.needs.testFlag(ChannelHardwareNominals);
    groups.bounds = cycle.needs.testFlag(ChannelBounds);
    groups.interlockOut = cycle.needs.testFlag(InterlockOut);
    const int wanted = ToolWindowReading::readableGroups(*module, groups);
    if (wanted == 0)
        return;
    qint64 readAtMs = -1;
    const ToolWindowReading reading = readWithRetry([&] { return ToolWindowReading::read(*module, groups); },
        [](const ToolWindowReading& r) { return r.validGroups(); }, wanted, &readAtMs);
    publishModule(cycle, index, [&](ModuleSnapshot& snapshot) {
        if (readAtMs >= 0) {
            // Replaced whole: a group that was not read this time (its window closed, or its read
            // was lost) is not shown from an older read.
            snapshot.windowValues = reading;
            snapshot.windowValuesReadAtMs = readAtMs;
        }
        snapshot.lastAnswerAtMs = std::max(snapshot.lastAnswerAtMs, readAtMs);
    });
}

// ---- One-shot reads and commands ----

void Poller::readOnce(int moduleIndex, ModuleRead read)
{
    QMutexLocker locker(&m_mutex);
    if (moduleIndex < 0 || moduleIndex >= m_modules.size() || !read)
        return;
    enqueue(OneShotRead{m_generation, m_modules.at(moduleIndex), std::move(read), {}, {}, {}, {}, Priority::Normal});
}

void Poller::runCommand(int moduleIndex, Priority priority, ModuleRead work, DroppedWork dropped)
{
    if (!work)
        return;
    QMutexLocker locker(&m_mutex);
    if (moduleIndex < 0 || moduleIndex >= m_modules.size()) {
        locker.unlock();
        if (dropped)
            dropped();
        return;
    }
    enqueue(OneShotRead{m_generation, m_modules.at(moduleIndex), std::move(work), {}, {}, {}, std::move(dropped), priority});
}

void Poller::runCrateCommand(Priority priority, CrateWork work, DroppedWork dropped)
{
    if (!work)
        return;
    QMutexLocker locker(&m_mutex);
    if (!m_controller) {
        locker.unlock();
        if (dropped)
            dropped();
        return;
    }
    OneShotRead each;
    each.generation = m_generation;
    each.controller = m_controller;
    each.crate = m_crates.value(0);
    each.crateWork = std::move(work);
    each.dropped = std::move(dropped);
    each.priority = priority;
    enqueue(std::move(each));
}

void Poller::enqueue(OneShotRead work)
{
    // Urgent work goes behind the urgent work already waiting, ahead of everything else.
    auto position = m_oneShotReads.end();
    if (work.priority == Priority::Urgent)
        position = std::find_if(m_oneShotReads.begin(), m_oneShotReads.end(),
            [](const OneShotRead& waiting) { return waiting.priority != Priority::Urgent; });
    m_oneShotReads.insert(position, std::move(work));
    m_waitingWork.fetch_add(1, std::memory_order_release);
    postOneShotReads();
}

void Poller::postOneShotReads()
{
    // Before the thread runs, run() picks the queue up.
    if (m_context)
        m_context->post([this] { runOneShotReads(); });
}

void Poller::runOneShotReads()
{
    for (;;) {
        OneShotRead each;
        bool current = false;
        {
            QMutexLocker locker(&m_mutex);
            if (m_oneShotReads.isEmpty())
                return;
            each = m_oneShotReads.takeFirst();
            m_waitingWork.fetch_sub(1, std::memory_order_release);
            // Modules replaced meanwhile: the request was about one that is gone.
            current = each.generation == m_generation;
        }
        if (current && each.crateWork)
            each.crateWork(*each.controller, each.crate.get());
        else if (current)
            each.read(*each.module);
        else if (each.dropped)
            each.dropped();
        // The devices are let go here, outside the lock (a module's deletion may take the
        // controller's mutex).
    }
}

void Poller::handOver()
{
    if (workWaiting())
        runOneShotReads();
}

bool Poller::workWaiting() const
{
    return m_waitingWork.load(std::memory_order_acquire) > 0;
}
