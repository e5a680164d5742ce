#include "outputplaces.h"

#include "imagefile.h"
#include "outputfile.h"

#include <optional>
#include <string>

namespace canapi {

namespace {

// An output written over an input would destroy what the run reads: the
// firmware being flashed, or the bench file.
QString inputProblem(const BenchConfig &bench, const InputFiles &inputs, int line, const QString &what,
                     const QString &path)
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

// The module starts from the image an earlier run left: one it cannot read
// would otherwise be written over at its first restart.
QString imageFileProblem(const BenchConfig &bench, int line, const QString &what, const QString &path)
{
    modsim::Image image;
    std::optional<modsim::ImageState> state;
    std::string error;
    if (modsim::readImageFile(path.toStdString(), &image, &state, &error) != modsim::ImageFileRead::Failed)
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
        const QString what = QStringLiteral("image of [module.%1]").arg(m.name);
        QString problem = placeProblem(bench, inputs, m.imageLine, what, path);
        if (problem.isEmpty())
            problem = imageFileProblem(bench, m.imageLine, what, path);
        if (!problem.isEmpty())
            return problem;
    }
    return a.tracePath.isEmpty()
               ? QString()
               : inputProblem(bench, inputs, a.traceLine, QStringLiteral("trace of ") + owner, a.tracePath);
}

QString resolvePlace(const BenchConfig &bench, RunPlaces &places, int line, const QString &what, QString *path)
{
    if (path->isEmpty())
        return QString();
    QString problem;
    const QString resolved = places.resolve(*path, &problem);
    if (resolved.isEmpty())
        return bench.at(line, QStringLiteral("%1: %2").arg(what, problem));
    *path = resolved;
    return QString();
}

} // namespace

QString resolveRunPlaces(const BenchConfig &bench, RunPlaces &places, AdapterConfig *a)
{
    const QString owner = QStringLiteral(" of [adapter.%1]").arg(a->name);
    const QString problem =
        resolvePlace(bench, places, a->traceLine, QStringLiteral("trace") + owner, &a->tracePath);
    if (!problem.isEmpty())
        return problem;
    return resolvePlace(bench, places, a->statsLine, QStringLiteral("stats") + owner, &a->statsPath);
}

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
    return bench.at(a.traceLine,
                    QStringLiteral("trace of [adapter.%1]: %2").arg(a.name, QString::fromStdString(error)));
}

} // namespace canapi
