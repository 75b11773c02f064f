// SPDX-License-Identifier: GPL-3.0-or-later
#include "numbers.h"
#include "runtime.h"
#include "runtimeerror.h"

#include <QTest>

#include <cmath>
#include <limits>

using platform::RuntimeError;

class RuntimeTest : public QObject {
    Q_OBJECT

private slots:
    void roundToInt16RoundsTiesToEven_data();
    void roundToInt16RoundsTiesToEven();
    void roundToInt16RejectsWhatDoesNotFit_data();
    void roundToInt16RejectsWhatDoesNotFit();
    void rgbPacksAndChecksChannels();
    void squareRootRejectsNegativeAndNaN();
    void nextRandomStaysInUnitInterval();
    void textToSingleAcceptsNumbers_data();
    void textToSingleAcceptsNumbers();
    void textToSingleRejectsWhatIsNoNumber_data();
    void textToSingleRejectsWhatIsNoNumber();
};

void RuntimeTest::roundToInt16RoundsTiesToEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("0.5") << 0.5 << 0;
    QTest::newRow("1.5") << 1.5 << 2;
    QTest::newRow("2.5") << 2.5 << 2;
    QTest::newRow("127.5") << 127.5 << 128;
    QTest::newRow("-0.5") << -0.5 << 0;
    QTest::newRow("-1.5") << -1.5 << -2;
    QTest::newRow("2.4999") << 2.4999 << 2;
    QTest::newRow("32767.4") << 32767.4 << 32767;
    QTest::newRow("-32768.5") << -32768.5 << -32768;
}

void RuntimeTest::roundToInt16RoundsTiesToEven()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(int(platform::roundToInt16(value)), expected);
}

void RuntimeTest::roundToInt16RejectsWhatDoesNotFit_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("32767.5") << 32767.5;
    QTest::newRow("-32769") << -32769.0;
    QTest::newRow("1e10") << 1e10;
    QTest::newRow("inf") << std::numeric_limits<double>::infinity();
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
}

void RuntimeTest::roundToInt16RejectsWhatDoesNotFit()
{
    QFETCH(double, value);
    try {
        platform::roundToInt16(value);
        QFAIL("no error");
    } catch (const RuntimeError& error) {
        QCOMPARE(error.code(), RuntimeError::Code::Overflow);
    }
}

void RuntimeTest::rgbPacksAndChecksChannels()
{
    QCOMPARE(platform::rgb(1, 2, 3), 1 + 2 * 256 + 3 * 65536);
    QCOMPARE(platform::rgb(255, 255, 255), 0xffffff);
    QVERIFY_THROWS_EXCEPTION(RuntimeError, platform::rgb(256, 0, 0));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, platform::rgb(0, -1, 0));
}

void RuntimeTest::squareRootRejectsNegativeAndNaN()
{
    QCOMPARE(platform::squareRoot(0.25), 0.5);
    QCOMPARE(platform::squareRoot(0.0), 0.0);
    QVERIFY_THROWS_EXCEPTION(RuntimeError, platform::squareRoot(-1e-300));
    QVERIFY_THROWS_EXCEPTION(RuntimeError,
                             platform::squareRoot(std::numeric_limits<double>::quiet_NaN()));
}

void RuntimeTest::nextRandomStaysInUnitInterval()
{
    platform::randomize();
    int below = 0;
    for (int i = 0; i < 100000; ++i) {
        const float t = platform::nextRandom();
        QVERIFY(t >= 0.0f && t < 1.0f);
        below += t < 0.5f;
    }
    // Both branches must be drawn about equally often.
    QVERIFY2(below > 48000 && below < 52000, qPrintable(QString::number(below)));
}

void RuntimeTest::textToSingleAcceptsNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<float>("expected");
    const QLocale point(QLocale::English, QLocale::UnitedStates);
    const QLocale comma(QLocale::German, QLocale::Germany);
    QTest::newRow("integer") << "3" << point << 3.0f;
    QTest::newRow("decimal point") << "4.5" << point << 4.5f;
    QTest::newRow("decimal comma") << "4,5" << comma << 4.5f;
    QTest::newRow("surrounding spaces") << " 7 " << point << 7.0f;
    QTest::newRow("negative") << "-10" << point << -10.0f;
    QTest::newRow("exponent") << "2.5e3" << point << 2500.0f;
    QTest::newRow("underflows to zero") << "1e-50" << point << 0.0f;
    QTest::newRow("largest float") << "3.4028234e38" << point << 3.4028234e38f;
}

void RuntimeTest::textToSingleAcceptsNumbers()
{
    QFETCH(QString, text);
    QFETCH(QLocale, locale);
    QFETCH(float, expected);
    QCOMPARE(platform::textToSingle(text, locale), expected);
}

void RuntimeTest::textToSingleRejectsWhatIsNoNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<RuntimeError::Code>("code");
    const QLocale point(QLocale::English, QLocale::UnitedStates);
    const QLocale comma(QLocale::German, QLocale::Germany);
    QTest::newRow("empty") << "" << point << RuntimeError::Code::TypeMismatch;
    QTest::newRow("blank") << "   " << point << RuntimeError::Code::TypeMismatch;
    QTest::newRow("word") << "abc" << point << RuntimeError::Code::TypeMismatch;
    QTest::newRow("trailing letters") << "4.5abc" << point << RuntimeError::Code::TypeMismatch;
    QTest::newRow("nan") << "nan" << point << RuntimeError::Code::TypeMismatch;
    QTest::newRow("inf") << "inf" << point << RuntimeError::Code::TypeMismatch;
    QTest::newRow("comma where a point is used")
        << "4,5" << point << RuntimeError::Code::TypeMismatch;
    QTest::newRow("point where a comma is used")
        << "4.5" << comma << RuntimeError::Code::TypeMismatch;
    QTest::newRow("beyond float") << "1e39" << point << RuntimeError::Code::Overflow;
    QTest::newRow("beyond float, negative") << "-1e39" << point << RuntimeError::Code::Overflow;
    QTest::newRow("beyond double") << "1e400" << point << RuntimeError::Code::Overflow;
}

void RuntimeTest::textToSingleRejectsWhatIsNoNumber()
{
    QFETCH(QString, text);
    QFETCH(QLocale, locale);
    QFETCH(RuntimeError::Code, code);
    try {
        const float value = platform::textToSingle(text, locale);
        QFAIL(qPrintable(QString("accepted as %1").arg(double(value))));
    } catch (const RuntimeError& error) {
        QCOMPARE(error.code(), code);
    }
}

QTEST_APPLESS_MAIN(RuntimeTest)
#include "tst_runtime.moc"
