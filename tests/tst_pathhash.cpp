// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/pathhash.h"

#include <QTest>

using transform::Branch;

// Renderings of older batches must stay reproducible, so the answers for a
// few paths are pinned here; they were worked out apart from this code, from
// the hash's definition (FNV-1a 64 of the path's bytes, splitmix64's mixer).
class PathHashTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pinnedAnswers_data();
    void pinnedAnswers();
    void branchesAndShardsSpreadEvenly();
};

void PathHashTest::pinnedAnswers_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("draw"); // in units of 2^-24
    QTest::addColumn<Branch>("branch");
    QTest::addColumn<QList<int>>("shards"); // of 1, 2, 4 and 7
    QTest::newRow("a.png") << quint64(0) << QByteArray("a.png") << 8817652 << Branch::Upper
                           << QList<int>{1, 2, 2, 5};
    QTest::newRow("IMG_0001") << quint64(42) << QByteArray("photos/IMG_0001.jpg") << 12079954
                              << Branch::Upper << QList<int>{1, 2, 4, 3};
    QTest::newRow("IMG_0002") << quint64(42) << QByteArray("photos/IMG_0002.jpg") << 15176048
                              << Branch::Upper << QList<int>{1, 2, 4, 6};
    QTest::newRow("./IMG_0001, as given") << quint64(42) << QByteArray("./photos/IMG_0001.jpg")
                                          << 8159093 << Branch::Lower << QList<int>{1, 2, 2, 4};
    QTest::newRow("non-ASCII") << quint64(7) << QByteArray("/data/x/\xc3\xbc.tif") << 14652654
                               << Branch::Upper << QList<int>{1, 1, 1, 4};
    QTest::newRow("largest seed") << quint64(18446744073709551615u) << QByteArray("-") << 1606473
                                  << Branch::Lower << QList<int>{1, 1, 3, 6};
}

void PathHashTest::pinnedAnswers()
{
    QFETCH(quint64, seed);
    QFETCH(QByteArray, path);
    QFETCH(int, draw);
    QFETCH(Branch, branch);
    QFETCH(QList<int>, shards);
    QCOMPARE(batch::pathhash::drawFor(seed, path.toStdString()), float(draw) * 0x1p-24f);
    QCOMPARE(batch::pathhash::branchFor(seed, path.toStdString()), branch);
    const QList<int> counts = {1, 2, 4, 7};
    for (qsizetype i = 0; i < counts.size(); ++i)
        QCOMPARE(batch::pathhash::shardOf(path.toStdString(), counts[i]), shards[i]);
}

void PathHashTest::branchesAndShardsSpreadEvenly()
{
    int lower = 0;
    QList<int> perShard(5, 0);
    for (int i = 0; i < 4000; ++i) {
        const std::string path = QString("archive/%1/frame%2.png").arg(i % 37).arg(i).toStdString();
        lower += batch::pathhash::branchFor(1, path) == Branch::Lower;
        ++perShard[batch::pathhash::shardOf(path, 5) - 1];
    }
    QVERIFY2(lower > 1800 && lower < 2200, qPrintable(QString::number(lower)));
    for (int count : perShard)
        QVERIFY2(count > 700 && count < 900, qPrintable(QString::number(count)));
}

QTEST_APPLESS_MAIN(PathHashTest)
#include "tst_pathhash.moc"
