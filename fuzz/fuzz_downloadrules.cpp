// The download list's file names and sizes. Three doubles (received, total, speed) and a state
// come first; the rest is split at the first newline into a suggested path and a MIME type.
#include "downloads/downloadrules.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    double numbers[3];
    if (size < sizeof numbers + 1)
        return 0;
    std::memcpy(numbers, data, sizeof numbers);
    const auto state = DownloadRules::State(data[sizeof numbers] % 5);
    const QByteArray rest(reinterpret_cast<const char *>(data) + sizeof numbers + 1,
                          int(size - sizeof numbers - 1));
    const int newline = rest.indexOf('\n');
    const QString path = QString::fromUtf8(newline < 0 ? rest : rest.left(newline));
    const QString mime = QString::fromUtf8(newline < 0 ? QByteArray() : rest.mid(newline + 1));

    const QString name = DownloadRules::fileNameOf(path);
    FUZZ_CHECK(!name.contains(QLatin1Char('/')));
    FUZZ_CHECK(path.endsWith(name));
    const QString suggested = DownloadRules::suggestedPath(mime, name);
    FUZZ_CHECK(suggested.endsWith(QLatin1Char('/') + name));
    FUZZ_CHECK(DownloadRules::fileNameOf(suggested) == name);
    const QString folder = DownloadRules::folderOf(path);
    FUZZ_CHECK(path.contains(QLatin1Char('/')) == !folder.isEmpty());
    const QString filter = DownloadRules::fileFilter(mime);
    FUZZ_CHECK(filter == QLatin1String("*.*") || filter == QLatin1String("*.xlsx"));

    for (const double n : numbers)
        FUZZ_CHECK(!DownloadRules::withUnit(n).isEmpty());
    const int percent = DownloadRules::percent(numbers[0], numbers[1]);
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    const DownloadRules::Progress p =
        DownloadRules::progressFor(state, numbers[0], numbers[1], numbers[2], mime);
    FUZZ_CHECK(p.value >= 0 && p.value <= 100);
    FUZZ_CHECK(p.changes == (state != DownloadRules::State::Requested));
    return 0;
}
