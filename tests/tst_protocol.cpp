// SPDX-License-Identifier: GPL-3.0-or-later
// What a job's process sends the program is read as a stranger's: every
// frame that breaks the protocol fails the job with one line, whether its
// bytes come at once or one at a time, and what reaches a line is shown as
// names are.
#include "workers/protocol.h"

#include <QTest>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// A frame as a job's process would write it, any field chosen by the test.
std::string frame(std::uint64_t job, int says, int kind, int cause, const std::string& reason,
                  int zero = 0, std::int64_t length = -1)
{
    std::string bytes;
    for (int byte = 0; byte < 8; ++byte)
        bytes += char((job >> (8 * byte)) & 0xff);
    bytes += char(says);
    bytes += char(kind);
    bytes += char(cause);
    bytes += char(zero);
    const auto told = std::uint32_t(length < 0 ? std::int64_t(reason.size()) : length);
    for (int byte = 0; byte < 4; ++byte)
        bytes += char((told >> (8 * byte)) & 0xff);
    return bytes + reason;
}

constexpr std::uint64_t job = 7;
constexpr int theirPace = 1;
constexpr int answer = 3;
constexpr int progress = 4;
const int rendered = int(Outcome::Kind::Rendered);
const int warned = int(Outcome::Kind::Warned);
const int failed = int(Outcome::Kind::Failed);
const int exists = int(Outcome::Kind::OutputExists);
const int program = int(Error::Cause::Program);
const int existsCause = int(Error::Cause::OutputExists);

} // namespace

class ProtocolTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesAreBelievedOnlyWithinTheProtocol_data();
    void framesAreBelievedOnlyWithinTheProtocol();
    void framesWeWriteAreFramesWeRead();
};

void ProtocolTest::framesAreBelievedOnlyWithinTheProtocol_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // Empty: the frames are sound, and the answer's kind is `kind`.
    QTest::addColumn<QString>("broken");
    QTest::addColumn<int>("kind");

    const auto row = [](const char* name, const std::string& bytes, const char* broken,
                        int kind = -1) {
        QTest::newRow(name) << QByteArray::fromStdString(bytes) << QString(broken) << kind;
    };
    row("rendered", frame(job, answer, rendered, program, ""), "", rendered);
    row("warned", frame(job, answer, warned, program, "kept less"), "", warned);
    row("failed", frame(job, answer, failed, program, "no"), "", failed);
    row("exists", frame(job, answer, exists, existsCause, "there"), "", exists);
    row("pace, then an answer",
        frame(job, theirPace, 0, 0, "") + frame(job, 2, 0, 0, "") +
            frame(job, answer, rendered, program, ""),
        "", rendered);
    row("nothing yet", "", "", -1);
    row("another job's answer", frame(job + 1, answer, rendered, program, ""),
        "answered for another job");
    row("an answer too many",
        frame(job, answer, rendered, program, "") + frame(job, answer, rendered, program, ""),
        "said more after its answer");
    row("a byte after the answer", frame(job, answer, rendered, program, "") + "x",
        "cut its answer short");
    row("cut short in the header", frame(job, answer, failed, program, "why").substr(0, 9),
        "cut its answer short");
    row("cut short in the reason", frame(job, answer, failed, program, "why").substr(0, 17),
        "cut its answer short");
    row("a reason too long to be ours", frame(job, answer, failed, program, "", 0, 1 << 20),
        "longer than any of ours");
    row("a kind that does not exist", frame(job, answer, 99, program, "x"), "does not know");
    row("a skip, which is the program's to say",
        frame(job, answer, int(Outcome::Kind::Skipped), program, ""), "does not know");
    row("a frame that says nothing known", frame(job, 9, rendered, program, ""), "does not know");
    row("a cause that does not exist", frame(job, answer, failed, 9, "x"), "does not know");
    row("a cause at odds with its kind", frame(job, answer, failed, existsCause, "x"),
        "does not know");
    row("a reserved byte set", frame(job, answer, rendered, program, "", 1), "does not know");
    row("a pace notice with a reason", frame(job, theirPace, 0, 0, "x"), "does not know");
    row("a film's progress, then an answer",
        frame(job, progress, 0, 0, "12") + frame(job, answer, rendered, program, ""), "", rendered);
    row("progress that is no count", frame(job, progress, 0, 0, "12x"), "does not know");
    row("progress with no count", frame(job, progress, 0, 0, ""), "does not know");
    row("progress past any film", frame(job, progress, 0, 0, std::string(19, '9')),
        "does not know");
    row("progress with a kind", frame(job, progress, warned, program, "1"), "does not know");
    row("progress after the answer",
        frame(job, answer, rendered, program, "") + frame(job, progress, 0, 0, "1"),
        "said more after its answer");
    row("rendered, with a reason", frame(job, answer, rendered, program, "x"),
        "without the reason its answer needs");
    row("failed, without one", frame(job, answer, failed, program, ""),
        "without the reason its answer needs");
}

void ProtocolTest::framesAreBelievedOnlyWithinTheProtocol()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, broken);
    QFETCH(int, kind);
    // All at once, then a byte at a time: the same verdict.
    for (const std::size_t step : {std::size_t(bytes.size()) + 1, std::size_t(1)}) {
        workers::protocol::AnswerReader reader(job);
        Error error;
        for (qsizetype at = 0; at < bytes.size() && !error; at += qsizetype(step))
            error = reader.feed(std::string_view(bytes.constData() + at,
                                                 std::min<std::size_t>(step, bytes.size() - at)));
        if (!error)
            error = reader.ended();
        QVERIFY2(broken.isEmpty() ? !error
                                  : error.reason().find(broken.toStdString()) != std::string::npos,
                 error.reason().c_str());
        QCOMPARE(reader.answer().has_value(), broken.isEmpty() && kind >= 0);
        if (reader.answer())
            QCOMPARE(int(reader.answer()->kind()), kind);
    }
}

void ProtocolTest::framesWeWriteAreFramesWeRead()
{
    // A reason that would clear the screen and forge a line arrives shown
    // as names are; pace notices say whose pace it is.
    // (An ESC, a newline, a C1 control introducer and a right-to-left override.)
    const std::string forged = "x\x1b[2J\n\xc2\x9b"
                               "2J\xe2\x80\xae"
                               "inverse-logistic-render: 9 rendered";
    workers::protocol::AnswerReader reader(job);
    QVERIFY(!reader.feed(workers::protocol::pace(job, true)));
    QVERIFY(reader.atTheirPace());
    QVERIFY(!reader.feed(workers::protocol::pace(job, false)));
    QVERIFY(!reader.atTheirPace());
    QCOMPARE(reader.pictures(), std::uint64_t(0));
    QVERIFY(!reader.feed(workers::protocol::progress(job, 1234)));
    QCOMPARE(reader.pictures(), std::uint64_t(1234));
    QVERIFY(!reader.feed(workers::protocol::answer(job, Outcome::failed(Error(forged)))));
    QVERIFY(!reader.ended());
    const std::string shown = reader.answer()->reason();
    QVERIFY2(std::none_of(shown.begin(), shown.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
             shown.c_str());
    QVERIFY2(shown.find("$'\\302'$'\\233'") != std::string::npos &&
                 shown.find("$'\\342'$'\\200'$'\\256'") != std::string::npos,
             shown.c_str());
    QVERIFY(shown.find("9 rendered") != std::string::npos);
    // An error that an output exists stays one, which a resumed run counts as done.
    workers::protocol::AnswerReader existing(job);
    QVERIFY(
        !existing.feed(workers::protocol::answer(job, Outcome::failed(Error::exists("out.png")))));
    QCOMPARE(existing.answer()->kind(), Outcome::Kind::OutputExists);
}

QTEST_APPLESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
