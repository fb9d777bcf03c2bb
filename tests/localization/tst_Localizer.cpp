#include "Localizer.h"

#include <QSignalSpy>
#include <QTest>

using fernpoint::Localizer;
using namespace Qt::StringLiterals;

class TestLocalizer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void language_data() {
        QTest::addColumn<QString>("processLocale");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("window");  // the text of "button_connect" in the window
        QTest::addColumn<QString>("process"); // and in texts composed outside it

        // Only "zhHans", "en" and "ja", exactly, choose a language; anything else follows the
        // process.
        QTest::newRow("zhHans over English")
            << u"en_US"_s << u"zhHans"_s << u"连接"_s << u"Connect"_s;
        QTest::newRow("en over Japanese") << u"ja_JP"_s << u"en"_s << u"Connect"_s << u"接続"_s;
        QTest::newRow("ja over Chinese") << u"zh_CN"_s << u"ja"_s << u"接続"_s << u"连接"_s;
        QTest::newRow("capitals are no setting") << u"ja_JP"_s << u"EN"_s << u"接続"_s << u"接続"_s;
        QTest::newRow("German has no table: English")
            << u"de_DE"_s << u""_s << u"Connect"_s << u"Connect"_s;
        QTest::newRow("Traditional Chinese: English")
            << u"zh_TW"_s << u"system"_s << u"Connect"_s << u"Connect"_s;
        QTest::newRow("zh_SG is Simplified") << u"zh_SG"_s << u"system"_s << u"连接"_s << u"连接"_s;
    }
    void language() {
        QFETCH(QString, processLocale);
        QFETCH(QString, setting);
        QFETCH(QString, window);
        QFETCH(QString, process);
        Localizer localizer{QLocale(processLocale)};
        QSignalSpy changed(&localizer, &Localizer::languageChanged);
        localizer.setAppLanguage(setting);
        localizer.setAppLanguage(setting);
        QCOMPARE(changed.count(), 2); // announced also when unchanged
        QCOMPARE(localizer.text("button_connect"), window);
        QCOMPARE(localizer.processText("button_connect"), process);
        QCOMPARE(localizer.text("no_such_key"), u"no_such_key"_s); // a missing ID as it is
    }
};

QTEST_GUILESS_MAIN(TestLocalizer)
#include "tst_Localizer.moc"
