// tarvModuleSim: simulated modules on a QtSerialBus device, and the image check.
//
//   tarvModuleSim --plugin P --interface I [--bitrate KBIT] (--config FILE --adapter N | --module K=V,...)...
//   tarvModuleSim --verify FIRMWARE IMAGE
//
// Exit codes: 0 normal end (images written) or image equal; 1 start-up failure,
// an image not written, or image differs; 2 bad arguments or unreadable input
// to --verify.
#include "benchconfig.h"
#include "modulehost.h"
#include "moduleoption.h"
#include "verify.h"

#include <QCanBus>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <fcntl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr int kExitUsage = 2;

int runVerify(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (args.size() != 2) {
        err << "tarvModuleSim: --verify takes FIRMWARE IMAGE" << Qt::endl;
        return kExitUsage;
    }
    const modsim::VerifyOutcome outcome = modsim::verifyImage(args[0].toStdString(), args[1].toStdString());
    (outcome.exitCode == modsim::VerifyUnreadable ? err : out)
        << QString::fromStdString(outcome.message) << Qt::endl;
    return outcome.exitCode;
}

struct DeviceChoice
{
    QString plugin;
    QString interface;
};

bool collectModules(const QCommandLineParser &parser, const QCommandLineOption &config,
                    const QCommandLineOption &adapter, const QCommandLineOption &module,
                    std::vector<modsim::ModuleConfig> *modules, DeviceChoice *device, QString *error)
{
    if (parser.isSet(config)) {
        if (!parser.isSet(adapter)) {
            *error = QStringLiteral("--config needs --adapter N");
            return false;
        }
        bool ok = false;
        const int index = parser.value(adapter).toInt(&ok);
        canapi::BenchConfig bench;
        if (!ok) {
            *error = QStringLiteral("--adapter takes an adapter index");
            return false;
        }
        if (!canapi::loadBenchConfig(parser.value(config), &bench, error))
            return false;
        const canapi::AdapterConfig *a = bench.adapter(index);
        if (!a) {
            *error = QStringLiteral("%1: no adapter with index %2").arg(parser.value(config)).arg(index);
            return false;
        }
        if (a->backend == canapi::AdapterConfig::Backend::Qt) {
            device->plugin = a->plugin;
            device->interface = a->interface;
        }
        for (const canapi::ModuleEntry &entry : bench.modulesOn(index))
            modules->push_back(entry.config);
    }
    for (const QString &text : parser.values(module)) {
        modsim::ModuleConfig c;
        if (!modsim::parseModuleOption(text, QDir::currentPath(), &c, error))
            return false;
        modules->push_back(c);
    }
    return modsim::checkModuleSet(*modules, error);
}

sigset_t terminationSignals()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    return mask;
}

// Read end of a signalfd for the termination signals, which main blocked
// before any thread started; -1 on failure.
int terminationSignalFd()
{
    const sigset_t mask = terminationSignals();
    return signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
}

struct Options
{
    QCommandLineOption verify{QStringLiteral("verify"),
                              QStringLiteral("Check that IMAGE holds exactly the data of FIRMWARE.")};
    QCommandLineOption plugin{QStringLiteral("plugin"), QStringLiteral("QtSerialBus plugin."),
                              QStringLiteral("name")};
    QCommandLineOption interface {
        QStringLiteral("interface"), QStringLiteral("Device of the plugin."), QStringLiteral("name")
    };
    QCommandLineOption bitrate{QStringLiteral("bitrate"), QStringLiteral("Bit rate in kbit/s."),
                               QStringLiteral("kbit")};
    QCommandLineOption config{QStringLiteral("config"), QStringLiteral("Bench configuration file."),
                              QStringLiteral("file")};
    QCommandLineOption adapter{QStringLiteral("adapter"),
                               QStringLiteral("Simulate the modules of this adapter index of --config."),
                               QStringLiteral("index")};
    QCommandLineOption module{QStringLiteral("module"), QStringLiteral("A module: key=value,key=value."),
                              QStringLiteral("keys")};
    QCommandLineOption ignoreStdin{QStringLiteral("ignore-stdin"),
                                   QStringLiteral("Do not end at the end of standard input.")};
};

void describeOptions(QCommandLineParser &parser, const Options &o)
{
    parser.setApplicationDescription(QStringLiteral("Simulated tarv high-voltage modules on a CAN bus."));
    parser.addHelpOption();
    parser.addOptions({o.verify, o.plugin, o.interface, o.bitrate, o.config, o.adapter, o.module, o.ignoreStdin});
    parser.addPositionalArgument(QStringLiteral("FIRMWARE IMAGE"), QStringLiteral("With --verify."));
}

// --plugin and --interface win over the adapter of --config.
bool nameDevice(const QCommandLineParser &parser, const Options &o, DeviceChoice *choice, QString *error)
{
    if (parser.isSet(o.plugin))
        choice->plugin = parser.value(o.plugin);
    if (parser.isSet(o.interface))
        choice->interface = parser.value(o.interface);
    if (choice->plugin.isEmpty() || choice->interface.isEmpty()) {
        *error = QStringLiteral("name the device with --plugin and --interface");
        return false;
    }
    return true;
}

std::unique_ptr<QCanBusDevice> createDevice(const DeviceChoice &choice, QString *error, QTextStream &err)
{
    std::unique_ptr<QCanBusDevice> device(
        QCanBus::instance()->createDevice(choice.plugin, choice.interface, error));
    if (!device)
        err << "tarvModuleSim: cannot create " << choice.plugin << ' ' << choice.interface << ": " << *error
            << Qt::endl;
    return device;
}

bool setBitRate(QCanBusDevice &device, const QCommandLineParser &parser, const Options &o,
                const DeviceChoice &choice, QTextStream &err)
{
    if (parser.isSet(o.bitrate)) {
        bool ok = false;
        const int kbit = parser.value(o.bitrate).toInt(&ok);
        if (!ok || kbit <= 0) {
            err << "tarvModuleSim: bad --bitrate " << parser.value(o.bitrate) << Qt::endl;
            return false;
        }
        device.setConfigurationParameter(QCanBusDevice::BitRateKey, kbit * 1000);
    } else if (choice.plugin == QLatin1String("socketcan")) {
        // The plugin keeps a rate of its own (500 kbit/s) and, with
        // libsocketcan, applies it to the interface on connecting.
        device.setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant());
    }
    return true;
}

// Stops the host once, whichever of a failure, a signal or the end of
// standard input comes first; the exit code is the first reason's.
class Finisher
{
public:
    Finisher(modsim::ModuleHost &host, QCoreApplication &app)
        : host_(host)
        , app_(app)
    {}

    void operator()(int code)
    {
        if (stopped_)
            return;
        stopped_ = true;
        const bool written = host_.stop();
        app_.exit(code != 0 ? code : (written ? 0 : 1));
    }

private:
    modsim::ModuleHost &host_;
    QCoreApplication &app_;
    bool stopped_ = false;
};

void finishOnSignal(QSocketNotifier &notifier, int sigFd, QTextStream &out, Finisher &finish)
{
    QObject::connect(&notifier, &QSocketNotifier::activated, QCoreApplication::instance(),
                     [sigFd, &out, &finish] {
                         signalfd_siginfo info{};
                         if (read(sigFd, &info, sizeof info) == sizeof info)
                             out << "tarvModuleSim: ended by signal " << info.ssi_signo << Qt::endl;
                         finish(0);
                     });
}

// Null when standard input is closed from the start.
std::unique_ptr<QSocketNotifier> finishAtEndOfInput(QTextStream &out, Finisher &finish)
{
    if (fcntl(STDIN_FILENO, F_GETFD) == -1)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, QCoreApplication::instance(),
                     [stdinNotifier = notifier.get(), &out, &finish] {
                         char buf[256];
                         const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
                         if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                             stdinNotifier->setEnabled(false);
                             out << "tarvModuleSim: end of standard input" << Qt::endl;
                             finish(0);
                         }
                     });
    return notifier;
}

int runHost(QCoreApplication &app, std::unique_ptr<QCanBusDevice> device, const DeviceChoice &choice,
            std::vector<modsim::ModuleConfig> modules, bool watchStdin, QTextStream &out, QTextStream &err)
{
    modsim::ModuleHost host(std::move(device), choice.plugin + QLatin1Char(' ') + choice.interface,
                            std::move(modules), out);
    Finisher finish(host, app);
    QObject::connect(&host, &modsim::ModuleHost::failed, &app, [&finish] { finish(1); });

    const int sigFd = terminationSignalFd();
    if (sigFd < 0) {
        err << "tarvModuleSim: cannot watch termination signals" << Qt::endl;
        return 1;
    }
    QSocketNotifier signalNotifier(sigFd, QSocketNotifier::Read);
    finishOnSignal(signalNotifier, sigFd, out, finish);
    const std::unique_ptr<QSocketNotifier> stdinNotifier = watchStdin ? finishAtEndOfInput(out, finish) : nullptr;

    if (!host.start())
        return 1;
    const int code = app.exec();
    close(sigFd);
    return code;
}

int simulate(QCoreApplication &app, const QCommandLineParser &parser, const Options &o)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    std::vector<modsim::ModuleConfig> modules;
    DeviceChoice choice;
    QString error;
    if (!collectModules(parser, o.config, o.adapter, o.module, &modules, &choice, &error)
        || !nameDevice(parser, o, &choice, &error)) {
        err << "tarvModuleSim: " << error << Qt::endl;
        return kExitUsage;
    }
    std::unique_ptr<QCanBusDevice> device = createDevice(choice, &error, err);
    if (!device)
        return 1;
    if (!setBitRate(*device, parser, o, choice, err))
        return kExitUsage;
    return runHost(app, std::move(device), choice, std::move(modules), !parser.isSet(o.ignoreStdin), out, err);
}

} // namespace

int main(int argc, char *argv[])
{
    // Blocked in every thread, so the signals are only ever read from the
    // signalfd, inside the event loop.
    const sigset_t mask = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvModuleSim"));

    QCommandLineParser parser;
    const Options options;
    describeOptions(parser, options);
    if (!parser.parse(app.arguments())) {
        QTextStream(stderr) << "tarvModuleSim: " << parser.errorText() << Qt::endl;
        return kExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(options.verify))
        return runVerify(parser.positionalArguments());
    return simulate(app, parser, options);
}
