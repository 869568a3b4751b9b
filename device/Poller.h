#pragma once

#include "device/CrateSnapshot.h"
#include "device/ModuleSnapshot.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class BaseController;
class BaseCrate;
class BaseModule;
class QThread;
class QTimer;
class ThreadCall;

// Reads the devices on its own thread and publishes snapshots; nothing here runs in the GUI
// thread except the thread-safe accessors and setters below.
//
// Cadence (ticks of 200 ms): the current module's channels every tick; its module-level values
// on every 11th tick; while a tool window shows module values (supplies, temperatures, the
// ToolWindowValues groups) those and the module values every 2nd tick, so that what the window
// shows stays younger than FreshnessRules::ageingAfterMs; the crate connection and every other
// module's connection state once a second; every module's channels each tick while the overview
// needs them; the crate with its values every 2nd tick while the crate window needs them.
//
// A request that is lost is retried here, on the poller's thread. A module whose reads are not
// answered keeps its last snapshot, which then ages past ModuleSnapshot::freshForMs.
//
// Every public function is thread-safe unless it says otherwise.
class Poller : public QObject
{
    Q_OBJECT
public:
    // What the shown windows need read; combined from every registered owner.
    enum Need : unsigned {
        CurrentModuleChannels = 0x01,
        CurrentModuleValues = 0x02, // ramp speeds, status and event status
        ModuleTemperatures = 0x04,  // of the current module
        ModuleSupplies = 0x08,      // supplies and hardware limits of the current module
        AllModulesChannels = 0x10,  // overview: every module's channels and temperature 0
        CrateValues = 0x20,         // the crate window
        // The event log: every module's channels once a second, read together in place of the
        // connection probe, so a trip on a module no window shows is seen within a second.
        AllModulesChannelsEachSecond = 0x40,

        // Of the current module, with its module values, for the tool windows that show them
        // (ToolWindowReading).
        ModuleControlWords = 0x0100,      // control, event mask, restart time, event channel/group words
        ChannelEventWords = 0x0200,       // every channel's event status and event mask
        ChannelHardwareNominals = 0x0400, // every channel's hardware nominal voltage and current
        ChannelBounds = 0x0800,           // every channel's four interlock bounds
        InterlockOut = 0x1000,            // the six interlock-out words
        ToolWindowValues = ModuleControlWords | ChannelEventWords | ChannelHardwareNominals | ChannelBounds | InterlockOut,
    };
    Q_DECLARE_FLAGS(Needs, Need)

    static constexpr int tickMs = 200;
    // The tick's interval (tickMs unless changed), also while running. Tests shorten it so the
    // cadences above come round sooner; every cadence keeps its number of ticks.
    void setTickIntervalMs(int intervalMs);

    Poller();
    ~Poller() override;

    // The devices to read. Modules and crates are shared: the poller's reference keeps them
    // alive until its current read has finished, whatever the session does meanwhile.
    void setDevices(std::shared_ptr<BaseController> controller, QVector<std::shared_ptr<BaseModule>> modules,
        QVector<std::shared_ptr<BaseCrate>> crates);
    void clearDevices();
    void setCurrentModule(int moduleIndex);
    void setNeeds(Needs needs);
    // Reads the module's channels (and module values) at once, ahead of the cadence: after an
    // operator command, so its effect shows at the next frame.
    void refreshNow(int moduleIndex);

    // Latest snapshots; null before the first read.
    std::shared_ptr<const ModuleSnapshot> moduleSnapshot(int moduleIndex) const;
    std::shared_ptr<const CrateSnapshot> crateSnapshot() const;

    // Starts the poller's thread and its tick; stop() waits for the read in progress to end.
    void start();
    void stop();

    // ---- One-shot reads ----
    // Runs `read` once on the poller's thread with module `moduleIndex`, between the regular
    // reads, for a window that shows something the cadence does not read (a variable group).
    // Nothing runs when the index names no module or the modules were replaced before its turn.
    // `read` must not keep the module beyond its call.
    using ModuleRead = std::function<void(BaseModule& module)>;
    void readOnce(int moduleIndex, ModuleRead read);

    // ---- Commands ----
    // Runs `work` once on the poller's thread with module `moduleIndex`. Work items run one at a
    // time in the order they were given, ahead of the refresh: the poller looks for waiting work
    // before every module it reads, so a command waits at most for the one read in progress.
    // Urgent work (an emergency off) goes ahead of every waiting normal item. `dropped` (may be
    // empty) runs on the poller's thread instead when the index names no module or the modules
    // were replaced before its turn. Neither may keep the module beyond its call.
    enum class Priority { Normal, Urgent };
    using DroppedWork = std::function<void()>;
    void runCommand(int moduleIndex, Priority priority, ModuleRead work, DroppedWork dropped);
    // The same for the crate: `work` gets the controller and the first crate (null when the
    // controller has none) in the same queue, in the same order; `dropped` runs instead when no
    // controller is set or the devices were replaced before its turn.
    using CrateWork = std::function<void(BaseController& controller, BaseCrate* crate)>;
    void runCrateCommand(Priority priority, CrateWork work, DroppedWork dropped);

signals:
    // After each publication (queued to the receivers' threads).
    void modulePublished(int moduleIndex);
    void cratePublished();

private:
    // What one pass on the poller's thread works with: copies taken under the mutex, so the
    // devices stay alive for the pass whatever the session does meanwhile.
    struct Cycle
    {
        quint64 generation = 0;
        std::shared_ptr<BaseController> controller;
        QVector<std::shared_ptr<BaseModule>> modules;
        QVector<std::shared_ptr<BaseCrate>> crates;
        int currentModule = -1;
        Needs needs;
        QSet<int> pending;
        quint64 tick = 0;
    };

    // Poller thread only.
    void run();
    void tick();
    void readPending();
    void readModule(const Cycle& cycle, int index, bool channels, bool values);
    void probeModule(const Cycle& cycle, int index);
    // Reads the channels of the modules `indexes` (together where the access path allows it) and
    // publishes each.
    void readChannelsOf(const Cycle& cycle, const QVector<int>& indexes);
    void publishChannels(
        const Cycle& cycle, int index, const QVector<ChannelReading>& reading, qint64 channelsAtMs, qint64 startMs);
    void readCrate(const Cycle& cycle);
    template <typename Update>
    void publishModule(const Cycle& cycle, int index, Update update);
    // Takes the groups `next` answered into the snapshot, each with `readAtMs`.
    static void mergeValues(ModuleSnapshot& snapshot, const ModuleReading& next, qint64 readAtMs);

    // ---- Tool-window values (poller thread) ----
    // Reads what the visible tool windows need of the current module (ToolWindowValues needs).
    void readToolWindowValues(const Cycle& cycle, int index);

    Cycle takeCycle(bool scheduled);
    // With m_mutex held: asks the poller's thread to read the pending modules now.
    void postReadPending();

    mutable QMutex m_mutex;
    std::unique_ptr<QThread> m_thread;
    // Set by the thread as its last step and read after QThread::wait(): the join happens inside
    // Qt, where ThreadSanitizer cannot see it; this pair shows it that everything the thread
    // wrote happened before the objects are torn down.
    std::atomic<bool> m_threadEnded{false};
    ThreadCall* m_context = nullptr; // lives on the poller's thread while it runs
    QTimer* m_tickTimer = nullptr;   // with m_context; used on the poller's thread only
    int m_tickIntervalMs = tickMs;
    quint64 m_generation = 0;
    std::shared_ptr<BaseController> m_controller;
    QVector<std::shared_ptr<BaseModule>> m_modules;
    QVector<std::shared_ptr<BaseCrate>> m_crates;
    int m_currentModule = -1;
    Needs m_needs;
    QSet<int> m_pending; // modules to read out of turn
    quint64 m_tick = 0;
    QHash<int, std::shared_ptr<const ModuleSnapshot>> m_moduleSnapshots;
    std::shared_ptr<const CrateSnapshot> m_crateSnapshot;

    // ---- One-shot reads ----
    // One-shot reads and commands share one queue: both are work the operator waits for.
    struct OneShotRead
    {
        quint64 generation = 0;
        std::shared_ptr<BaseModule> module;
        ModuleRead read;
        // Crate work in place of `module` and `read`.
        std::shared_ptr<BaseController> controller;
        std::shared_ptr<BaseCrate> crate;
        CrateWork crateWork;
        DroppedWork dropped;
        Priority priority = Priority::Normal;
    };
    // Poller thread only: runs the queued work, one item at a time, until none is waiting (so
    // urgent work given meanwhile goes next).
    void runOneShotReads();
    // With m_mutex held.
    void postOneShotReads();
    void enqueue(OneShotRead work);
    // Poller thread only: the hand-over between two reads; runs the waiting work first.
    bool workWaiting() const;
    void handOver();
    QVector<OneShotRead> m_oneShotReads;
    // Read without m_mutex between module reads: whether work is waiting.
    std::atomic<int> m_waitingWork{0};
};
Q_DECLARE_OPERATORS_FOR_FLAGS(Poller::Needs)
