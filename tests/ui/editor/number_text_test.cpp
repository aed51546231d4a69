// Typed numbers and value labels: whole-text parsing, exact round trips and
// the same output under a locale with a decimal comma.

#include "ui/editor/number_text.h"

#include <QLocale>
#include <QTest>

#include <clocale>
#include <cmath>
#include <limits>

using namespace ondaline::editor;

class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) qWarning("de_DE.UTF-8 missing: only the Qt locale is German");
        QLocale::setDefault(QLocale::German);
    }

    void parsesOnlyWholeDecimalText()
    {
        QCOMPARE(parseFontSize("24"), 24.0);
        QCOMPARE(parseFontSize("+24"), 24.0);
        QCOMPARE(parseFontSize("-3.5"), -3.5);
        QCOMPARE(parseFontSize("2.4e1"), 24.0);
        QCOMPARE(parseFontSize("0"), 0.0);
        for (const char* bad :
             {" 24", "24 ", "abc", "", "nan", "inf", "0x18", "1e999", "+-1", "24,5", "1e", ".", "2.4e1x"})
            QVERIFY2(!parseFontSize(bad), bad);

        QCOMPARE(parseInteger("-1"), -1);
        QCOMPARE(parseInteger("+2"), 2);
        QCOMPARE(parseInteger("07"), 7);
        QCOMPARE(parseInteger("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
        for (const char* bad : {"1.5", "", " 7", "7 ", "7a", "+-1", "-", "9223372036854775808"})
            QVERIFY2(!parseInteger(bad), bad);
    }

    void shortestTextReadsBackExactly()
    {
        QCOMPARE(shortestNumberText(24), "24");
        QCOMPARE(shortestNumberText(24.7), "24.7");
        QCOMPARE(shortestNumberText(22.5), "22.5");
        QCOMPARE(shortestNumberText(0.1), "0.1");
        for (double value : {0.29 * 100, 1e20, -7.25, 5e-324, std::numeric_limits<double>::max()})
            QCOMPARE(parseFontSize(shortestNumberText(value)), value);
    }

    void labelsTruncateAndUseAPoint()
    {
        QCOMPARE(wholeNumberText(37.9), "37");
        QCOMPARE(wholeNumberText(24.99), "24");
        QCOMPARE(wholeNumberText(0.29 * 100), "28");
        QCOMPARE(wholeNumberText(-2.7), "-2");
        QCOMPARE(wholeNumberText(-0.5), "0");
        QCOMPARE(wholeNumberText(std::nan("")), "0");
        QCOMPARE(wholeNumberText(1e20), "100000000000000000000");
        QCOMPARE(oneDecimalText(1.5), "1.5");
        QCOMPARE(oneDecimalText(2), "2.0");
    }
};

QTEST_MAIN(NumberTextTest)
#include "number_text_test.moc"
