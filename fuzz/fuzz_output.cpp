// cloudflared's output as it may arrive: any bytes, split into chunks anywhere. Line assembly must keep
// its bound, the line rules and the readable log line must take any line, and a public address they
// accept must be an https address on the quick-tunnel domain. The failure diagnosis keeps its bound and
// names any failure.

#include "session/FailureDiagnosis.h"
#include "session/OutputInterpreter.h"
#include "session/OutputLineSplitter.h"
#include "session/TunnelSession.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte sets the chunk size, so the fuzzer also explores where chunks end.
    const qsizetype chunk = 1 + data[0] % 64;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size) - 1);

    static TunnelSession session(TunnelProfile {}, {});
    OutputLineSplitter splitter;
    FailureDiagnosis diagnosis;
    const auto onLine = [&diagnosis](const QString &line) {
        if (line.toUtf8().size() > OutputLineSplitter::maxLineBytes)
            std::abort();
        session.handleOutputLine(line);
        for (const QStringView piece : OutputInterpreter::splitLines(line)) {
            const OutputEvent event = OutputInterpreter::interpret(piece, false);
            if (event.kind == OutputEvent::Kind::publicUrl
                && (!event.url.isValid() || event.url.scheme() != u"https"
                    || !event.url.host().endsWith(u".trycloudflare.com") || !event.url.path().isEmpty()))
                std::abort();
            (void)OutputInterpreter::readableLogLine(piece);
            diagnosis.record(piece);
        }
    };
    for (qsizetype at = 0; at < bytes.size(); at += chunk)
        splitter.feed(bytes.sliced(at, std::min(chunk, bytes.size() - at)), onLine);
    splitter.finish(onLine);
    if (diagnosis.lines().size() > FailureDiagnosis::keptLines || diagnosis.diagnoseExit(1).description().isEmpty()
        || diagnosis.diagnoseTimeOut(false).description().isEmpty())
        std::abort();
    return 0;
}
