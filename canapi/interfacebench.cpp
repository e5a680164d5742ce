// How the interface's bench is built from a bench file or text, replaced
// and ended, and the I/O thread its Qt adapters share.
#include "caninterface.h"

#include "benchsource.h"
#include "inputfiles.h"
#include "outputplaces.h"
#include "qtadapter.h"
#include "simbus.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace canapi {

namespace {

// An adapter whose trace, statistics or module image cannot be written: it
// keeps its place among the adapters, so that the lines of the others stay
// what the bench file says, but it cannot be opened, so that no run goes
// without the record it asked for.
class RefusedAdapter final : public Adapter
{
public:
    RefusedAdapter(const AdapterConfig &config, AdapterSink &sink, std::string reason)
        : Adapter(config, sink, nullptr)
        , reason_(std::move(reason))
    {}
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

} // namespace

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

std::vector<CanInterface::Slot> CanInterface::buildBench(const BenchConfig &config,
                                                         std::vector<std::string> *problems)
{
    TraceFiles files;
    const InputFiles inputs = InputFiles::ofProcess(config.path);
    // One stamp for the bench, so that adapters naming one place share its file.
    RunPlaces places(RunStamp::now());
    std::vector<Slot> slots;
    for (AdapterConfig a : config.adapters) {
        Slot slot;
        slot.statusWord = a.busStatus;
        slot.busOffAfterFrames = a.busOffAfterFrames;
        slot.busOffForGood = a.busOffForGood;
        std::shared_ptr<TraceFile> trace;
        QString problem = resolveRunPlaces(config, places, &a);
        if (problem.isEmpty())
            problem = openOutputs(config, inputs, a, files, &trace);
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

} // namespace canapi
