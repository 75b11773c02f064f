// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFile>
#include <QImage>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

template <typename T> T field(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<T>(bytes.constData() + offset);
}

} // namespace

class PhotoTest : public QObject {
    Q_OBJECT

private slots:
    void embeddedFileIsTheCommittedBitmap();
    void headerFields_data();
    void headerFields();
    void decodesToTheCommittedPixels();
};

void PhotoTest::embeddedFileIsTheCommittedBitmap()
{
    const QByteArray embedded = readAll(":/photo.bmp");
    QCOMPARE(embedded.size(), 108054);
    QCOMPARE(embedded, readAll(IL_SOURCE_DIR "/assets/photo.bmp"));
}

void PhotoTest::headerFields_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("file size") << 2 << 4 << qint64(108054);
    QTest::newRow("reserved") << 6 << 4 << qint64(0);
    QTest::newRow("pixel offset") << 10 << 4 << qint64(54);
    QTest::newRow("info header size") << 14 << 4 << qint64(40);
    QTest::newRow("width") << 18 << 4 << qint64(180);
    QTest::newRow("height, positive: bottom-up") << 22 << 4 << qint64(200);
    QTest::newRow("planes") << 26 << 2 << qint64(1);
    QTest::newRow("bits per pixel") << 28 << 2 << qint64(24);
    QTest::newRow("compression") << 30 << 4 << qint64(0);
    QTest::newRow("image size") << 34 << 4 << qint64(108000);
    QTest::newRow("resolution x") << 38 << 4 << qint64(0);
    QTest::newRow("resolution y") << 42 << 4 << qint64(0);
    QTest::newRow("colours used") << 46 << 4 << qint64(0);
    QTest::newRow("colours important") << 50 << 4 << qint64(0);
}

void PhotoTest::headerFields()
{
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(qint64, expected);
    const QByteArray bytes = readAll(":/photo.bmp");
    QVERIFY(bytes.startsWith("BM"));
    const qint64 value =
        size == 2 ? qint64(field<quint16>(bytes, offset)) : qint64(field<qint32>(bytes, offset));
    QCOMPARE(value, expected);
}

void PhotoTest::decodesToTheCommittedPixels()
{
    const QImage embedded(":/photo.bmp");
    QCOMPARE(embedded.size(), QSize(180, 200));
    // The first stored row is the bottom one: its first pixel, as blue, green, red.
    const QByteArray bytes = readAll(IL_SOURCE_DIR "/assets/photo.bmp");
    const auto at = [&bytes](int i) { return quint8(bytes[54 + i]); };
    QCOMPARE(embedded.pixel(0, 199), qRgb(at(2), at(1), at(0)));
    QCOMPARE(embedded.pixel(179, 0), qRgb(at(199 * 540 + 179 * 3 + 2), at(199 * 540 + 179 * 3 + 1),
                                          at(199 * 540 + 179 * 3)));
    QCOMPARE(embedded, QImage(IL_SOURCE_DIR "/assets/photo.bmp"));
}

QTEST_APPLESS_MAIN(PhotoTest)
#include "tst_photo.moc"
