#include "dialogs/common/IpV4Validator.h"

#include <QTest>

class IpV4ValidatorTest : public QObject
{
    Q_OBJECT

private slots:
    void validate_data();
    void validate();
};

void IpV4ValidatorTest::validate_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("expected");

    const int invalid = QValidator::Invalid;
    const int intermediate = QValidator::Intermediate;
    const int acceptable = QValidator::Acceptable;

    QTest::newRow("empty") << "" << intermediate;
    QTest::newRow("one number") << "192" << intermediate;
    QTest::newRow("three dotted numbers") << "192.168.1" << intermediate;
    QTest::newRow("trailing dot") << "192.168.1." << intermediate;
    QTest::newRow("two dots in a row") << "192..1.2" << intermediate;
    QTest::newRow("only dots") << "..." << intermediate;
    QTest::newRow("four numbers") << "192.168.1.20" << acceptable;
    QTest::newRow("all zero") << "0.0.0.0" << acceptable;
    QTest::newRow("all 255") << "255.255.255.255" << acceptable;
    QTest::newRow("loopback") << "127.0.0.1" << acceptable;
    QTest::newRow("part 256") << "192.168.1.256" << invalid;
    QTest::newRow("first part 256") << "256" << invalid;
    QTest::newRow("five parts") << "1.2.3.4.5" << invalid;
    QTest::newRow("four dots") << "1.2.3.4." << invalid;
    QTest::newRow("trailing space") << "192.168.1.20 " << invalid;
    QTest::newRow("leading space") << " 192.168.1.20" << invalid;
    QTest::newRow("inner space") << "192.168. 1.20" << invalid;
    QTest::newRow("tab") << "192.168.1.2\t" << invalid;
    QTest::newRow("letters") << "192.168.a.1" << invalid;
    QTest::newRow("host name") << "crate" << invalid;
    QTest::newRow("negative") << "192.168.-1.1" << invalid;
    QTest::newRow("plus sign") << "+1.2.3.4" << invalid;
    QTest::newRow("port") << "127.0.0.1:161" << invalid;
    QTest::newRow("hex") << "0x7f.0.0.1" << invalid;
    // "010" would be read as octal 8 by the system's address parser.
    QTest::newRow("leading zero") << "192.168.010.5" << invalid;
    QTest::newRow("double zero") << "00.1.2.3" << invalid;
    QTest::newRow("single zero parts") << "10.0.0.1" << acceptable;
    QTest::newRow("huge number") << "99999999999.1.1.1" << invalid;
}

void IpV4ValidatorTest::validate()
{
    QFETCH(QString, input);
    QFETCH(int, expected);

    IpV4Validator validator;
    QString text = input;
    int pos = text.size();
    QCOMPARE(int(validator.validate(text, pos)), expected);
    // Validation never rewrites what the user typed, and fix-up does nothing.
    QCOMPARE(text, input);
    validator.fixup(text);
    QCOMPARE(text, input);
}

QTEST_GUILESS_MAIN(IpV4ValidatorTest)
#include "IpV4ValidatorTest.moc"
