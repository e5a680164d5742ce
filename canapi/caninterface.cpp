#include "caninterface.h"

#include "autodetect.h"
#include "bustiming.h"
#include "inputfiles.h"
#include "outputfile.h"
#include "qtadapter.h"
#include "simbus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QVariant>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace canapi {

namespace {

// Above 9, so that a clean-up pass never takes a plugged adapter for a stale
// registration, and outside 1..3, so that it expects line n on handle 16 - n,
// which is where the driver lists it.
constexpr uint32_t kKindUsb = 11;
constexpr uint32_t kKindPci = 12;
constexpr uint32_t kKindOther = 13;

const char *const kDrivers[] = {"pcan_usb", "pcan_pci", "peakcan"};

bool knownDriver(const char *name)
{
    if (name == nullptr)
        return false;
    for (const char *d : kDrivers) {
        if (std::strcmp(d, name) == 0)
            return true;
    }
    return false;
}

std::string productName(const AdapterConfig &a)
{
    const char *product = a.driver == QLatin1String("pcan_usb") ? "PCAN-USB"
        : a.driver == QLatin1String("pcan_pci")                 ? "PCAN-PCI"
                                                                : "PCAN";
    return std::string(product) + " (" + a.name.toStdString() + ")";
}

QString libraryFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&CanApi_LoadDriver), &info) == 0 || info.dli_fname == nullptr)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
}

// Where the bench file describes the adapters, for the caller's own error
// line after a failed set-up: the interface's set-up texts are too short for
// a path, and the caller runs in this process. "FILE:LINE: ..." in the
// application object's property "tarvcanapi.bench", set only on the thread
// that owns that object, where the caller sets up its line.
void noteBenchPlace(const QString &text)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() == app->thread())
        app->setProperty("tarvcanapi.bench", text);
}

// The bench of this process: the file named by TARVCAN_CONFIG, else
// tarvcan.ini beside the library (a build folder), else the machine's in
// /etc, else the adapters found on the machine. A bad file is reported and
// gives no adapters at all.
BenchConfig environmentBench()
{
    BenchConfig bench;
    const QString folder = libraryFolder();
    const QString path = benchFilePath(qEnvironmentVariable("TARVCAN_CONFIG"),
                                       {folder.isEmpty() ? QString() : folder + QStringLiteral("/tarvcan.ini"),
                                        QString::fromLatin1(SystemBenchPath)});
    if (path.isEmpty())
        return detectBench();
    QString error;
    if (!loadBenchConfig(path, &bench, &error)) {
        std::fprintf(stderr, "tarvcanapi: %s\n", qPrintable(error));
        std::fprintf(stderr, "tarvcanapi: no CAN adapter is offered\n");
        noteBenchPlace(error);
        return BenchConfig();
    }
    if (bench.adapters.isEmpty()) {
        std::fprintf(stderr, "tarvcanapi: %s: the bench file has no [adapter.NAME] section, so no CAN adapter is offered\n",
                     qPrintable(path));
        noteBenchPlace(path + QStringLiteral(": the bench file has no [adapter.NAME] section"));
    }
    return bench;
}

// An adapter whose trace, statistics or module image cannot be written: it
// keeps its place among the adapters, so that the lines of the others stay
// what the bench file says, but it cannot be opened, so that no run goes
// without the record it asked for.
class RefusedAdapter final : public Adapter {
public:
    RefusedAdapter(const AdapterConfig &config, AdapterSink &sink, std::string reason)
        : Adapter(config, sink, nullptr)
        , reason_(std::move(reason))
    {
    }
    bool open(uint32_t, std::string *error) override
    {
        if (error)
            *error = reason_;
        return false;
    }
    bool transmit(const ApiFrame &, uint64_t, int64_t) override { return false; }
    void stop() override {}

private:
    std::string reason_;
};

// An output written over an input would destroy what the run reads: the
// firmware being flashed, or the bench file.
QString inputProblem(const BenchConfig &bench, const InputFiles &inputs, int line, const QString &what, const QString &path)
{
    const QString input = inputs.whatIs(path);
    return input.isEmpty() ? QString() : bench.at(line, QStringLiteral("%1: %2: %3").arg(what, path, input));
}

QString placeProblem(const BenchConfig &bench, const InputFiles &inputs, int line, const QString &what,
                     const QString &path)
{
    if (const QString problem = inputProblem(bench, inputs, line, what, path); !problem.isEmpty())
        return problem;
    std::string error;
    if (modsim::checkOutputPlace(path.toStdString(), &error))
        return QString();
    return bench.at(line, QStringLiteral("%1: %2").arg(what, QString::fromStdString(error)));
}

// The places of the statistics and the module images are checked here and
// opened when they are written, at the end or at a module's restart.
QString outputPlaceProblem(const BenchConfig &bench, const InputFiles &inputs, const AdapterConfig &a)
{
    const QString owner = QStringLiteral("[adapter.%1]").arg(a.name);
    if (!a.statsPath.isEmpty()) {
        const QString problem =
            placeProblem(bench, inputs, a.statsLine, QStringLiteral("stats of ") + owner, a.statsPath);
        if (!problem.isEmpty())
            return problem;
    }
    for (const ModuleEntry &m : bench.modulesOn(a.index)) {
        const QString path = QString::fromStdString(m.config.imagePath);
        if (path.isEmpty())
            continue;
        const QString problem =
            placeProblem(bench, inputs, m.imageLine, QStringLiteral("image of [module.%1]").arg(m.name), path);
        if (!problem.isEmpty())
            return problem;
    }
    return a.tracePath.isEmpty()
               ? QString()
               : inputProblem(bench, inputs, a.traceLine, QStringLiteral("trace of ") + owner, a.tracePath);
}

// Opens the adapter's trace (shared with adapters naming the same file) and
// checks its other output places. The first that fails, as "FILE:LINE: ..."
// naming the key, the adapter or module and the file.
QString openOutputs(const BenchConfig &bench, const InputFiles &inputs, const AdapterConfig &a, TraceFiles &files,
                    std::shared_ptr<TraceFile> *trace)
{
    const QString problem = outputPlaceProblem(bench, inputs, a);
    if (!problem.isEmpty() || a.tracePath.isEmpty())
        return problem;
    std::string error;
    *trace = files.open(a.tracePath.toStdString(), &error);
    if (*trace)
        return QString();
    return bench.at(a.traceLine, QStringLiteral("trace of [adapter.%1]: %2").arg(a.name, QString::fromStdString(error)));
}

} // namespace

bool EventFdSink::isEvent(uint32_t handle) const
{
    if (handle == 0 || handle > INT32_MAX)
        return false;
    char target[64] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(handle);
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 && std::strcmp(target, "anon_inode:[eventfd]") == 0;
}

void EventFdSink::signal(uint32_t handle)
{
    const uint64_t one = 1;
    // A full counter already wakes the reader; nothing is lost by a failed add.
    [[maybe_unused]] const ssize_t n = write(static_cast<int>(handle), &one, sizeof one);
}

bool driverLists(const std::string &loadedDriver, const QString &adapterDriver)
{
    return loadedDriver == "peakcan" || adapterDriver.toStdString() == loadedDriver;
}

uint32_t hardwareKind(const QString &adapterDriver)
{
    if (adapterDriver == QLatin1String("pcan_usb"))
        return kKindUsb;
    if (adapterDriver == QLatin1String("pcan_pci"))
        return kKindPci;
    return kKindOther;
}

CanInterface &CanInterface::instance()
{
    // Never destroyed: finalShutdown ends the threads at exit, and a
    // destructor would run after objects that the I/O thread still uses.
    static CanInterface *const self = [] {
        auto *created = new CanInterface;
        std::atexit(&CanInterface::finalShutdown);
        return created;
    }();
    return *self;
}

CanInterface::CanInterface()
    : registry_(events_)
    , clock_(monotonicNs())
{
}

void CanInterface::finalShutdown()
{
    // Runs from exit(): an exception here would end the process in
    // std::terminate instead of with the caller's exit code.
    try {
        CanInterface &self = instance();
        self.shutdown();
        std::lock_guard lock(self.ioMutex_);
        self.io_.reset();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarvcanapi: ending the bench failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tarvcanapi: ending the bench failed\n");
    }
}

QtIoThread &CanInterface::io()
{
    std::lock_guard lock(ioMutex_);
    if (!io_) {
        io_ = std::make_unique<QtIoThread>();
        // Exit handlers run in reverse order of registration: this one ends
        // the thread before the Qt objects made from here on are destroyed.
        std::atexit(&CanInterface::finalShutdown);
    }
    return *io_;
}

std::vector<CanInterface::Slot> CanInterface::buildBench(const BenchConfig &config, std::vector<std::string> *problems)
{
    TraceFiles files;
    const InputFiles inputs = InputFiles::ofProcess(config.path);
    std::vector<Slot> slots;
    for (const AdapterConfig &a : config.adapters) {
        Slot slot;
        slot.statusWord = a.busStatus;
        slot.busOffAfterFrames = a.busOffAfterFrames;
        slot.busOffForGood = a.busOffForGood;
        std::shared_ptr<TraceFile> trace;
        QString problem = openOutputs(config, inputs, a, files, &trace);
        if (!problem.isEmpty()) {
            problem += QStringLiteral("; adapter %1 cannot be opened").arg(a.name);
            problems->push_back(problem.toStdString());
            slot.adapter = std::make_shared<RefusedAdapter>(a, *this, problem.toStdString());
        } else if (a.backend == AdapterConfig::Backend::Sim) {
            slot.adapter = std::make_shared<SimBus>(a, *this, trace, config.modulesOn(a.index));
        } else {
            slot.adapter = std::make_shared<QtAdapter>(a, *this, trace, io());
        }
        slots.push_back(std::move(slot));
    }
    return slots;
}

std::vector<CanInterface::Slot> CanInterface::takeBenchLocked()
{
    std::vector<Slot> old;
    old.swap(slots_);
    registry_.clear();
    drivers_.clear();
    ++generation_;
    return old;
}

void CanInterface::installBench(std::vector<Slot> slots, double driftPpm)
{
    std::lock_guard lock(mutex_);
    slots_ = std::move(slots);
    benchLoaded_ = true;
    clock_.setCorrectionMs(0);
    clock_.setDriftPpm(driftPpm, monotonicNs());
}

void CanInterface::ensureBenchLocked()
{
    if (benchLoaded_)
        return;
    benchLoaded_ = true;
    const BenchConfig config = environmentBench();
    benchFile_ = config.path;
    std::vector<std::string> problems;
    slots_ = buildBench(config, &problems);
    for (const std::string &problem : problems)
        std::fprintf(stderr, "tarvcanapi: %s\n", problem.c_str());
    clock_.setDriftPpm(config.clockDriftPpm, monotonicNs());
}

bool CanInterface::configure(const std::string &iniText, std::string *error)
{
    BenchConfig config;
    QString problem;
    const bool parsed = parseBenchConfig(QString::fromStdString(iniText), QStringLiteral("bench"),
                                         QDir::currentPath(), &config, &problem);
    std::vector<Slot> old;
    {
        std::lock_guard lock(mutex_);
        old = takeBenchLocked();
        benchLoaded_ = true;
        benchFile_.clear();
    }
    for (Slot &s : old)
        s.adapter->stop();
    if (!parsed) {
        if (error)
            *error = problem.toStdString();
        return false;
    }
    std::vector<std::string> problems;
    installBench(buildBench(config, &problems), config.clockDriftPpm);
    if (!problems.empty() && error)
        *error = problems.front();
    return problems.empty();
}

void CanInterface::shutdown()
{
    std::vector<Slot> old;
    {
        std::lock_guard lock(mutex_);
        old = takeBenchLocked();
        benchLoaded_ = true;
    }
    for (Slot &s : old)
        s.adapter->stop();
}

ApiResult CanInterface::loadDriver(const char *name)
{
    if (!knownDriver(name))
        return API_ERR_NODRIVER;
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    drivers_.insert(name);
    for (size_t s = 0; s < slots_.size(); ++s) {
        const AdapterConfig &a = slots_[s].adapter->config();
        const int slot = static_cast<int>(s);
        if (!driverLists(name, a.driver) || registry_.handleOfSlot(slot) != 0)
            continue;
        const uint8_t hw = registry_.freeHardwareFromTop();
        if (hw == 0)
            break;
        HardwareInfo info;
        info.kind = hardwareKind(a.driver);
        info.name = productName(a);
        info.slot = slot;
        info.statusWord = slots_[s].statusWord;
        info.busOff = slots_[s].busOff;
        registry_.plugHardware(hw, info);
    }
    noteDriverLinesLocked(name);
    return API_OK;
}

// A line beyond the adapters the bench file lists for the driver has none:
// the note points at the last of them.
void CanInterface::noteDriverLinesLocked(const char *driver)
{
    if (benchFile_.isEmpty())
        return;
    const AdapterConfig *last = nullptr;
    int lines = 0;
    for (const Slot &slot : slots_) {
        if (driverLists(driver, slot.adapter->config().driver)) {
            last = &slot.adapter->config();
            ++lines;
        }
    }
    noteBenchPlace(last == nullptr
                       ? QStringLiteral("%1: it lists no adapter for %2").arg(benchFile_, QString::fromLatin1(driver))
                       : QStringLiteral("%1:%2: [adapter.%3], the last adapter it lists for %4, serves line %5")
                             .arg(benchFile_)
                             .arg(last->line)
                             .arg(last->name, QString::fromLatin1(driver))
                             .arg(lines - 1));
}

ApiResult CanInterface::readHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    return registry_.readHwParam(hw, param, buf, len);
}

ApiResult CanInterface::readNetParam(uint8_t net, uint16_t param, void *buf, uint16_t len)
{
    std::lock_guard lock(mutex_);
    return registry_.readNetParam(net, param, buf, len);
}

ApiResult CanInterface::readClientParam(uint8_t client, uint16_t param, void *buf, uint16_t len)
{
    std::lock_guard lock(mutex_);
    return registry_.readClientParam(client, param, buf, len);
}

ApiResult CanInterface::readDriverParam(uint16_t param, void *buf, uint16_t len)
{
    if (param != API_DRVPARAM_CLOCKCORR)
        return API_ERR_ILLPARAM;
    if (buf == nullptr || len < sizeof(int32_t))
        return API_ERR_ILLPARAM;
    const int32_t correction = clock_.correctionMs();
    std::memcpy(buf, &correction, sizeof correction);
    return API_OK;
}

ApiResult CanInterface::writeDriverParam(uint16_t param, uint32_t value)
{
    if (param != API_DRVPARAM_CLOCKCORR)
        return API_ERR_ILLPARAM;
    clock_.setCorrectionMs(static_cast<int32_t>(value));
    return API_OK;
}

ApiResult CanInterface::writeClientParam(uint8_t client, uint16_t param, uint32_t value)
{
    std::lock_guard lock(mutex_);
    return registry_.writeClientParam(client, param, value);
}

ApiResult CanInterface::registerNet(uint8_t net, const char *name, uint8_t hw, uint16_t btr0btr1)
{
    const uint32_t bitRate = bitRateFromBusTiming(btr0btr1);
    if (bitRate == 0)
        return API_ERR_ILLPARAM;
    std::shared_ptr<Adapter> adapter;
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        ensureBenchLocked();
        const ApiResult r = registry_.registerNet(net, name, hw, btr0btr1, bitRate);
        if (r != API_OK)
            return r;
        adapter = slots_[static_cast<size_t>(registry_.slotOf(hw))].adapter;
        generation = generation_;
    }
    // Outside the lock: a device may take a while to connect, and its
    // frames come in through this object meanwhile.
    std::string error;
    if (adapter->open(bitRate, &error)) {
        if (adapter->config().backend == AdapterConfig::Backend::Qt) {
            // Qt's virtual bus made its server, a global object living on
            // the I/O thread, with the first device. Exit handlers run in
            // reverse order, so this one ends the thread before that object
            // is destroyed.
            static std::once_flag afterFirstDevice;
            std::call_once(afterFirstDevice, [] { std::atexit(&CanInterface::finalShutdown); });
        }
        return API_OK;
    }
    // The end of the caller's run: said where its user reads, on a line of
    // the kind that ends a run in the front end.
    std::fprintf(stderr, "Error: %s\n", error.c_str());
    std::lock_guard lock(mutex_);
    if (!benchFile_.isEmpty())
        noteBenchPlace(QStringLiteral("%1:%2: [adapter.%3] cannot be opened")
                           .arg(benchFile_)
                           .arg(adapter->config().line)
                           .arg(adapter->config().name));
    if (generation == generation_)
        registry_.removeNet(net);
    return API_ERR_ILLHW;
}

ApiResult CanInterface::registerClient(const char *name, uint32_t notify, uint8_t *client)
{
    std::lock_guard lock(mutex_);
    return registry_.registerClient(name, notify, client);
}

ApiResult CanInterface::connectClient(uint8_t client, const char *netName, uint8_t *net)
{
    std::lock_guard lock(mutex_);
    return registry_.connectClient(client, netName, net);
}

ApiResult CanInterface::registerMsgRange(uint8_t client, uint8_t net, const ApiRangeBound *first, const ApiRangeBound *last)
{
    std::lock_guard lock(mutex_);
    return registry_.registerMsgRange(client, net, first, last);
}

ApiResult CanInterface::resetClient(uint8_t client)
{
    std::lock_guard lock(mutex_);
    return registry_.resetClient(client);
}

ApiResult CanInterface::resetHardware(uint8_t hw)
{
    std::lock_guard lock(mutex_);
    const int slot = registry_.slotOf(hw);
    if (slot >= 0) {
        Slot &s = slots_[static_cast<size_t>(slot)];
        // A broken bus: the controller is back off the bus as soon as it is reset.
        if (s.busOff && s.busOffForGood)
            return API_OK;
        if (s.busOff && s.adapter)
            s.adapter->traceBusState(CanErrRestarted, monotonicNs());
        s.busOff = false;
    }
    return registry_.resetHardware(hw);
}

ApiResult CanInterface::removeClient(uint8_t client)
{
    std::lock_guard lock(mutex_);
    return registry_.removeClient(client);
}

ApiResult CanInterface::detachClient(uint8_t client, uint8_t net)
{
    std::lock_guard lock(mutex_);
    return registry_.detachClient(client, net);
}

ApiResult CanInterface::removeNet(uint8_t net)
{
    std::lock_guard lock(mutex_);
    return registry_.removeNet(net);
}

ApiResult CanInterface::removeHardware(uint8_t hw)
{
    std::lock_guard lock(mutex_);
    return registry_.removeHardware(hw);
}

ApiResult CanInterface::readClock(ApiTimeStamp *now)
{
    if (now == nullptr)
        return API_ERR_ILLPARAM;
    *now = clock_.at(monotonicNs());
    return API_OK;
}

ApiResult CanInterface::readFrame(uint8_t client, ApiFrame *frame, uint8_t *net, ApiTimeStamp *ts)
{
    std::lock_guard lock(mutex_);
    return registry_.readFrame(client, frame, net, ts);
}

ApiResult CanInterface::readBusStatus(uint8_t hw)
{
    std::shared_ptr<Adapter> adapter;
    {
        std::lock_guard lock(mutex_);
        ensureBenchLocked();
        const int slot = registry_.slotOf(hw);
        if (slot < 0)
            return API_ERR_ILLHW;
        adapter = slots_[static_cast<size_t>(slot)].adapter;
        // The word kept here (set by a test, or bus off) wins over a device.
        const uint16_t word = registry_.busStatus(hw);
        if (word != 0 || adapter->config().backend == AdapterConfig::Backend::Sim)
            return word;
    }
    // Outside the lock: the device answers on its own thread, which may
    // be waiting for this lock to hand over a frame.
    return adapter->deviceStatus().value_or(0);
}

ApiResult CanInterface::sendFrame(uint8_t client, uint8_t net, const ApiFrame *frame, ApiTimeStamp *ts)
{
    std::shared_ptr<Adapter> adapter;
    uint64_t origin = 0;
    {
        std::lock_guard lock(mutex_);
        uint8_t hw = 0;
        const ApiResult r = registry_.checkSend(client, net, frame, &hw, &origin);
        if (r != API_OK)
            return r;
        adapter = slots_[static_cast<size_t>(registry_.slotOf(hw))].adapter;
    }
    const int64_t now = monotonicNs();
    int64_t at = 0;
    // A time stamp given with the frame is when it is to go out.
    if (ts != nullptr && !isZero(*ts))
        at = clock_.monoAt(fromTimeStamp(*ts));
    if (!adapter->transmit(*frame, origin, at > now ? at : 0))
        return API_ERR_QXMTFULL;
    if (ts != nullptr)
        *ts = clock_.at(std::max(at, now));
    return API_OK;
}

int CanInterface::slotOfIndexLocked(int adapterIndex) const
{
    for (size_t s = 0; s < slots_.size(); ++s) {
        if (slots_[s].adapter->config().index == adapterIndex)
            return static_cast<int>(s);
    }
    return -1;
}

std::shared_ptr<Adapter> CanInterface::adapterOfIndex(int adapterIndex)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    const int slot = slotOfIndexLocked(adapterIndex);
    return slot < 0 ? nullptr : slots_[static_cast<size_t>(slot)].adapter;
}

sim::BusStats CanInterface::busStats(int adapterIndex)
{
    const auto adapter = adapterOfIndex(adapterIndex);
    return adapter ? adapter->stats() : sim::BusStats{};
}

void CanInterface::resetBusStats(int adapterIndex)
{
    if (const auto adapter = adapterOfIndex(adapterIndex))
        adapter->resetStats();
}

void CanInterface::setBusStatus(int adapterIndex, uint16_t word)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    const int slot = slotOfIndexLocked(adapterIndex);
    if (slot < 0)
        return;
    slots_[static_cast<size_t>(slot)].statusWord = word;
    registry_.setStatusWord(registry_.handleOfSlot(slot), word);
}

void CanInterface::setBusOff(int adapterIndex, bool off)
{
    std::lock_guard lock(mutex_);
    ensureBenchLocked();
    const int slot = slotOfIndexLocked(adapterIndex);
    if (slot < 0)
        return;
    slots_[static_cast<size_t>(slot)].busOff = off;
    registry_.setBusOff(registry_.handleOfSlot(slot), off);
}

void CanInterface::setClockDriftPpm(double ppm)
{
    clock_.setDriftPpm(ppm, monotonicNs());
}

void CanInterface::dropClient(uint8_t client)
{
    std::lock_guard lock(mutex_);
    registry_.removeClient(client);
}

void CanInterface::dropNet(uint8_t net)
{
    std::lock_guard lock(mutex_);
    registry_.removeNet(net);
}

std::unique_ptr<sim::Peer> CanInterface::attachPeer(int adapterIndex, std::function<void(const sim::BusFrame &)> onFrame)
{
    const auto adapter = adapterOfIndex(adapterIndex);
    return adapter ? adapter->attachPeer(std::move(onFrame)) : nullptr;
}

void CanInterface::onBusFrame(const Adapter &adapter, const ApiFrame &frame, uint64_t origin, int64_t monoNs)
{
    const ApiTimeStamp ts = clock_.at(monoNs);
    std::lock_guard lock(mutex_);
    for (size_t s = 0; s < slots_.size(); ++s) {
        Slot &slot = slots_[s];
        if (slot.adapter.get() != &adapter)
            continue;
        const uint8_t hw = registry_.handleOfSlot(static_cast<int>(s));
        if (hw != 0)
            registry_.deliver(hw, frame, origin, ts);
        // Once only: a reset brings the controller back, unless the bus is
        // broken for good.
        if (++slot.frames == slot.busOffAfterFrames) {
            adapter.traceBusState(CanErrBusOff, monoNs);
            slot.busOff = true;
            registry_.setBusOff(hw, true);
        }
        return;
    }
}

} // namespace canapi
