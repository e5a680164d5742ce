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
    (outcome.exitCode == modsim::VerifyUnreadable ? err : out) << QString::fromStdString(outcome.message) << Qt::endl;
    return outcome.exitCode;
}

struct DeviceChoice {
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

// Read end of a signalfd for the termination signals, which main blocked
// before any thread started; -1 on failure.
int terminationSignalFd()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    return signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
}

} // namespace

int main(int argc, char *argv[])
{
    // Blocked in every thread, so the signals are only ever read from the
    // signalfd, inside the event loop.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvModuleSim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated tarv high-voltage modules on a CAN bus."));
    parser.addHelpOption();
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    QStringLiteral("Check that IMAGE holds exactly the data of FIRMWARE."));
    const QCommandLineOption plugin(QStringLiteral("plugin"), QStringLiteral("QtSerialBus plugin."),
                                    QStringLiteral("name"));
    const QCommandLineOption interface(QStringLiteral("interface"), QStringLiteral("Device of the plugin."),
                                       QStringLiteral("name"));
    const QCommandLineOption bitrate(QStringLiteral("bitrate"), QStringLiteral("Bit rate in kbit/s."),
                                     QStringLiteral("kbit"));
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("Bench configuration file."),
                                    QStringLiteral("file"));
    const QCommandLineOption adapter(QStringLiteral("adapter"),
                                     QStringLiteral("Simulate the modules of this adapter index of --config."),
                                     QStringLiteral("index"));
    const QCommandLineOption module(QStringLiteral("module"), QStringLiteral("A module: key=value,key=value."),
                                    QStringLiteral("keys"));
    const QCommandLineOption ignoreStdin(QStringLiteral("ignore-stdin"),
                                         QStringLiteral("Do not end at the end of standard input."));
    parser.addOptions({verify, plugin, interface, bitrate, config, adapter, module, ignoreStdin});
    parser.addPositionalArgument(QStringLiteral("FIRMWARE IMAGE"), QStringLiteral("With --verify."));
    if (!parser.parse(app.arguments())) {
        QTextStream(stderr) << "tarvModuleSim: " << parser.errorText() << Qt::endl;
        return kExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(verify))
        return runVerify(parser.positionalArguments());

    QTextStream out(stdout);
    QTextStream err(stderr);
    std::vector<modsim::ModuleConfig> modules;
    DeviceChoice choice;
    QString error;
    if (!collectModules(parser, config, adapter, module, &modules, &choice, &error)) {
        err << "tarvModuleSim: " << error << Qt::endl;
        return kExitUsage;
    }
    if (parser.isSet(plugin))
        choice.plugin = parser.value(plugin);
    if (parser.isSet(interface))
        choice.interface = parser.value(interface);
    if (choice.plugin.isEmpty() || choice.interface.isEmpty()) {
        err << "tarvModuleSim: name the device with --plugin and --interface" << Qt::endl;
        return kExitUsage;
    }

    std::unique_ptr<QCanBusDevice> device(QCanBus::instance()->createDevice(choice.plugin, choice.interface, &error));
    if (!device) {
        err << "tarvModuleSim: cannot create " << choice.plugin << ' ' << choice.interface << ": " << error
            << Qt::endl;
        return 1;
    }
    if (parser.isSet(bitrate)) {
        bool ok = false;
        const int kbit = parser.value(bitrate).toInt(&ok);
        if (!ok || kbit <= 0) {
            err << "tarvModuleSim: bad --bitrate " << parser.value(bitrate) << Qt::endl;
            return kExitUsage;
        }
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, kbit * 1000);
    } else if (choice.plugin == QLatin1String("socketcan")) {
        // The plugin keeps a rate of its own (500 kbit/s) and, with
        // libsocketcan, applies it to the interface on connecting.
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant());
    }

    modsim::ModuleHost host(std::move(device), choice.plugin + QLatin1Char(' ') + choice.interface,
                            std::move(modules), out);
    bool stopped = false;
    auto finish = [&](int code) {
        if (stopped)
            return;
        stopped = true;
        const bool written = host.stop();
        app.exit(code != 0 ? code : (written ? 0 : 1));
    };
    QObject::connect(&host, &modsim::ModuleHost::failed, &app, [&] { finish(1); });

    const int sigFd = terminationSignalFd();
    if (sigFd < 0) {
        err << "tarvModuleSim: cannot watch termination signals" << Qt::endl;
        return 1;
    }
    QSocketNotifier signalNotifier(sigFd, QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info{};
        if (read(sigFd, &info, sizeof info) == sizeof info)
            out << "tarvModuleSim: ended by signal " << info.ssi_signo << Qt::endl;
        finish(0);
    });

    std::unique_ptr<QSocketNotifier> stdinNotifier;
    if (!parser.isSet(ignoreStdin) && fcntl(STDIN_FILENO, F_GETFD) != -1) {
        stdinNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(stdinNotifier.get(), &QSocketNotifier::activated, &app, [&] {
            char buf[256];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                stdinNotifier->setEnabled(false);
                out << "tarvModuleSim: end of standard input" << Qt::endl;
                finish(0);
            }
        });
    }

    if (!host.start())
        return 1;
    const int code = app.exec();
    close(sigFd);
    return code;
}
