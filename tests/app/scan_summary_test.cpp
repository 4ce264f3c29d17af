// The scan summary's text: counts in words that fit the number, and a time
// that reads well at every length.

#include <QTest>

#include "app/ScanSummary.h"

using quarn::FormatScanSummary;

class ScanSummaryTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void countsAndTimes() {
        QCOMPARE(FormatScanSummary(0, 0, std::nullopt), std::string("0 files, 0 folders"));
        QCOMPARE(FormatScanSummary(1, 1, std::nullopt), std::string("1 file, 1 folder"));
        QCOMPARE(FormatScanSummary(1234567, 2, 1.234),
                 std::string("1234567 files, 2 folders in 1.23 s"));
        QCOMPARE(FormatScanSummary(3, 0, 0.0), std::string("3 files, 0 folders in 0.00 s"));
        QCOMPARE(FormatScanSummary(3, 0, 0.999), std::string("3 files, 0 folders in 1.00 s"));
        // Just under a minute rounds up to the minute, not to "60.00 s".
        QCOMPARE(FormatScanSummary(3, 0, 59.999), std::string("3 files, 0 folders in 1 min 0 s"));
        QCOMPARE(FormatScanSummary(3, 0, 125.4), std::string("3 files, 0 folders in 2 min 5 s"));
    }
};

QTEST_MAIN(ScanSummaryTest)
#include "scan_summary_test.moc"
