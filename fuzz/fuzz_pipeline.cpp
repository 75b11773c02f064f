// Arbitrary bytes through the batch renderer's pipeline, all in memory:
// decode (Netpbm stream or Qt's readers, with the program's allocation
// limit), map, encode.
#include "decoderwarnings.h"
#include "netpbm.h"
#include "qtimage.h"

#include <QBuffer>
#include <QCoreApplication>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    decoderwarnings::install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer input;
    input.setData(bytes);
    input.open(QIODevice::ReadOnly);
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    if (const char kind = netpbm::binaryKind(input))
        netpbm::render(input, output, 4.5f, transform::Branch::Lower, 1);
    else
        qtimage::render(input, output, "bmp", 4.5f, transform::Branch::Upper, 1);
    decoderwarnings::take();
    return 0;
}
