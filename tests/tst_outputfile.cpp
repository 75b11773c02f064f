// SPDX-License-Identifier: GPL-3.0-or-later
// A new output takes its name only where none is taken, also on file systems
// without hard links, where the link is replaced by a check and a rename; and
// one that another run wrote meanwhile is left as it is.
#include "fileio/outputfile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fstream>

using namespace fileio;

class OutputFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void placesOnlyWhereNothingIs_data();
    void placesOnlyWhereNothingIs();
    void anOutputThatAppearsIsLeftAlone();
};

namespace {

std::string contentOf(const std::string& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

} // namespace

void OutputFileTest::placesOnlyWhereNothingIs_data()
{
    QTest::addColumn<int>("linkError"); // 0: the file system links
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("expected");
    for (const int linkError : {0, EPERM, EOPNOTSUPP, EMLINK}) {
        const QByteArray name =
            linkError == 0 ? "hard links" : "no hard links, errno " + QByteArray::number(linkError);
        QTest::newRow(name + ", name free") << linkError << false << 0;
        QTest::newRow(name + ", name taken") << linkError << true << EEXIST;
    }
    QTest::newRow("another link failure") << EACCES << false << EACCES;
}

void OutputFileTest::placesOnlyWhereNothingIs()
{
    QFETCH(int, linkError);
    QFETCH(bool, taken);
    QFETCH(int, expected);
    const QTemporaryDir folder;
    const std::string from = folder.filePath("new").toStdString();
    const std::string to = folder.filePath("output.png").toStdString();
    std::ofstream(from) << "rendered";
    if (taken)
        std::ofstream(to) << "the user's";
    const LinkCall link = [linkError](const char* a, const char* b) {
        if (linkError == 0)
            return ::link(a, b);
        errno = linkError;
        return -1;
    };
    QCOMPARE(placeNew(from, to, link), expected);
    const bool placed = expected == 0;
    QCOMPARE(contentOf(to), std::string(placed ? "rendered" : taken ? "the user's" : ""));
}

void OutputFileTest::anOutputThatAppearsIsLeftAlone()
{
    const QTemporaryDir folder;
    const std::string path = folder.filePath("output.png").toStdString();
    OutputFile output;
    QVERIFY(!output.open(path, false));
    QVERIFY(!output.write("rendered", 8));
    std::ofstream(path) << "another run's";
    const Error error = output.commit();
    QVERIFY(error.outputExists());
    QCOMPARE(contentOf(path), std::string("another run's"));
    QCOMPARE(QDir(folder.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             1);
}

QTEST_APPLESS_MAIN(OutputFileTest)
#include "tst_outputfile.moc"
