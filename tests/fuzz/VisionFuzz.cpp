// libFuzzer target for what the vision command takes from outside: image bytes, feature-print
// text and recognised text. The first input byte picks the entry point; the rest is its input.
#include "core/HubError.h"
#include "vision/FeaturePrint.h"
#include "vision/NativeVisionCore.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (data[0] % 3) {
    case 0: {
        if (const auto print = FeaturePrint::parse(bytes))
            (void)print->distance(*print);
        (void)FeaturePrint::fromBase64(QString::fromLatin1(bytes));
        break;
    }
    case 1: {
        // Text as recognition would hand it over: lines become blocks with boxes from the bytes.
        const QString text = QString::fromUtf8(bytes);
        QList<NativeVisionCore::OcrBlock> blocks;
        int i = 0;
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            const int v = int(data[(++i) % size]);
            blocks.append({line, 0.5, {v, v / 2, v + 1, v / 3 + 1}});
        }
        (void)NativeVisionCore::evaluateCopyQuality(text, blocks);
        break;
    }
    default:
        try {
            (void)NativeVisionCore::reportJSON(NativeVisionCore::analyzeData(bytes, true, std::nullopt));
        } catch (const HubError &) {
        }
    }
    return 0;
}
