// libFuzzer target: the console-output reader on arbitrary bytes, cut into
// reads at arbitrary places. Aborts when lines are lost, altered or joined,
// or when a reaction contradicts the line it came from.
#include "outputparser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype step = data[0] % 17 + 1;

    LineSplitter splitter;
    QByteArray joined;
    RunMonitor monitor;
    monitor.startRun();
    for (qsizetype pos = 0; pos < stream.size(); pos += step) {
        for (const QByteArray &line : splitter.feed(stream.mid(pos, step))) {
            if (!line.endsWith('\n') || line.count('\n') != 1)
                std::abort();
            joined += line;
            const LineReaction reaction = monitor.onLine(line);
            const bool progressLine = line.startsWith("Flash") || line.startsWith("Compare");
            if (reaction.progress && !progressLine)
                std::abort();
            if (reaction.end != RunEnd::None && !reaction.status)
                std::abort();
        }
    }
    const QByteArray rest = splitter.takePending();
    if (rest.contains('\n') || joined + rest != stream)
        std::abort();
    return 0;
}
