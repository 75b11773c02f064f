// SPDX-License-Identifier: GPL-3.0-or-later
// The command line, parsed in this process: what each option sets, and a
// usage error (status 2, one line saying what works) for what it refuses.
// The format table the options name is checked for consistency too.
#include "command/formatcatalogue.h"
#include "command/parse.h"
#include "formats/formats.h"

#include <QCoreApplication>
#include <QTest>

#include <set>

namespace {

// The formats of the table, as a build that writes every one would offer them.
class EveryFormat : public command::FormatCatalogue {
public:
    std::optional<std::string> writableName(std::string_view nameOrSuffix, bool) const override
    {
        const formats::Format* format = formats::named(nameOrSuffix);
        return format && (!format->saver.empty() || format->film)
                   ? std::optional(std::string(format->name))
                   : std::nullopt;
    }
    std::string listing(bool) const override { return "every format"; }
};

command::ParsedCommandLine parsed(const QString& line)
{
    std::vector<std::string> arguments{"inverse-logistic-render"};
    for (const QString& word : line.split(' ', Qt::SkipEmptyParts))
        arguments.push_back(word.toStdString());
    return command::parseCommandLine(arguments, EveryFormat());
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusedWithWhatWorks_data();
    void refusedWithWhatWorks();
    void optionsTaken();
    void theFormatTableAgreesWithItself();
};

void CommandLineTest::refusedWithWhatWorks_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("said");
    QTest::newRow("-o and -d") << "-o a.png -d out x.png"
                               << "give exactly one of -o FILE and -d DIR";
    QTest::newRow("-a that is no number") << "-a abc -o x.png"
                                          << "give one such as 4, 4.5 or 6";
    QTest::newRow("-Q out of range") << "-Q 101 -o x.png"
                                     << "not a quality from 1 to 100";
    QTest::newRow("-y with --skip-existing") << "-y --skip-existing -d out x.png"
                                             << "give one";
    QTest::newRow("--sheet below 4") << "--sheet 3 -o x.png"
                                     << "is below 4";
    QTest::newRow("--sheet with -b") << "--sheet 4 -b upper -o x.png"
                                     << "a sheet shows both";
    QTest::newRow("--json - with -o -") << "--json - -o - x.png"
                                        << "would both write standard output";
    QTest::newRow("--name with -o") << "--name {stem}.{ext} -o x.png y.png"
                                    << "-o names its one file itself";
    QTest::newRow("--name without {stem}") << "--name x.{ext} -d out y.png"
                                           << "it needs {stem}";
    QTest::newRow("an unknown suffix for -o") << "-o x.abc y.png"
                                              << "the suffix";
    QTest::newRow("-o with two inputs") << "-o x.png a.png b.png"
                                        << "use -d DIR for several";
    QTest::newRow("--shard 3/2") << "--shard 3/2 -d out a.png"
                                 << "is not K/N";
}

void CommandLineTest::refusedWithWhatWorks()
{
    QFETCH(QString, line);
    QFETCH(QString, said);
    const auto result = parsed(line);
    QVERIFY(!result.options);
    QCOMPARE(result.exitStatus, 2);
    QVERIFY2(QString::fromStdString(result.message).contains(said), result.message.c_str());
}

void CommandLineTest::optionsTaken()
{
    const auto result = parsed("-a 5.5 -b upper --seed 7 -d out --name {stem}-il.{ext} -r "
                               "--autorotate --json results.json -q a b/");
    QVERIFY2(result.options, result.message.c_str());
    const command::Options& options = *result.options;
    QCOMPARE(options.a, 5.5f);
    QCOMPARE(options.branch, command::BranchChoice::Upper);
    QCOMPARE(options.seed, std::optional<std::uint64_t>(7));
    QCOMPARE(options.outputDir, std::string("out"));
    QCOMPARE(options.name, std::string("{stem}-il.{ext}"));
    QVERIFY(options.recursive && options.autorotate && options.quiet && !options.verbose);
    QCOMPARE(options.json, std::string("results.json"));
    QCOMPARE(options.inputs.size(), std::size_t(2));
    QCOMPARE(std::string(options.inputs[1].path), std::string("b/"));
    // A value below 4 counts as 4, as the window takes it.
    QCOMPARE(parsed("-a 2 -o x.png").options->a, 4.0f);
}

void CommandLineTest::theFormatTableAgreesWithItself()
{
    std::set<std::string_view> names;
    std::set<std::string_view> suffixes;
    for (const formats::Format& format : formats::all()) {
        QVERIFY2(names.insert(format.name).second, format.name.data());
        QVERIFY(!format.title.empty());
        for (const std::string_view suffix : format.suffixes) {
            QVERIFY2(suffixes.insert(suffix).second, suffix.data());
            QCOMPARE(formats::named(suffix), &format);
            QCOMPARE(formats::suffixOf("x." + std::string(suffix)), std::string(suffix));
        }
        QCOMPARE(formats::named(format.name), &format);
        // A row is read by a loader, is a film, or is raw (found to be refused).
        QVERIFY2(!format.loader.empty() || format.film || format.raw || !format.saver.empty(),
                 format.name.data());
        QVERIFY(!(format.raw && !format.saver.empty()));
        QVERIFY(format.film == !format.muxer.empty());
        // A variant is told to a saver through one of its options; only a
        // loader a row names can be trusted here.
        QVERIFY(format.variant.empty() == format.variantOption.empty());
        QVERIFY(!format.variant.empty() <= !format.saver.empty());
        QVERIFY(format.loaderTrustedHere <= !format.loader.empty());
        QVERIFY(format.describingFields.empty() || !format.loader.empty());
        // A file that starts as a row says is found to be that row, or an
        // earlier one that claims the same start.
        for (const formats::Magic& magic : format.magic) {
            const std::string start = std::string(magic.at, ' ') + std::string(magic.bytes);
            const formats::Format* found = formats::byMagic(start);
            QVERIFY2(found, format.name.data());
            QVERIFY2(found == &format || found < &format, format.name.data());
        }
    }
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
