#include "Localizer.h"
#include "TextIds.h"

#include <QSignalSpy>
#include <QTest>

using fernpoint::Localizer;
namespace textid = fernpoint::textid;

class tst_Localizer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void language_data();
    void language();
    void lookups();
    void languageNamesReadAsThemselves_data();
    void languageNamesReadAsThemselves();
};

void tst_Localizer::language_data() {
    QTest::addColumn<QString>("processLocale");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("expected"); // the text of "button_connect"

    const auto row = [](const char* name, const char* process, const char* setting,
                        const char* text) {
        QTest::newRow(name) << QString::fromLatin1(process) << QString::fromLatin1(setting)
                            << QString::fromUtf8(text);
    };
    // Only "zhHans", "en" and "ja" choose a language; anything else follows the process.
    row("zhHans over an English process", "en_US", "zhHans", "连接");
    row("en over a Japanese process", "ja_JP", "en", "Connect");
    row("ja over a Chinese process", "zh_CN", "ja", "接続");
    row("system, Japanese process", "ja_JP", "system", "接続");
    row("empty, Chinese process", "zh_CN", "", "连接");
    row("locale identifier is no setting", "ja_JP", "zh-Hans", "接続");
    row("capitals are no setting", "ja_JP", "EN", "接続");
    row("surrounding space is no setting", "zh_CN", " en", "连接");
    row("German has no table: English", "de_DE", "system", "Connect");
    row("Traditional Chinese: English", "zh_TW", "system", "Connect");
    row("zh_SG is Simplified", "zh_SG", "system", "连接");
}

void tst_Localizer::language() {
    QFETCH(QString, processLocale);
    QFETCH(QString, setting);
    QFETCH(QString, expected);
    Localizer localizer{QLocale(processLocale)};
    localizer.setAppLanguage(setting);
    QCOMPARE(localizer.text(QStringLiteral("button_connect")), expected);
}

void tst_Localizer::lookups() {
    Localizer localizer{QLocale(QStringLiteral("en_US"))};
    QSignalSpy changed(&localizer, &Localizer::languageChanged);
    localizer.setAppLanguage(QStringLiteral("ja"));
    localizer.setAppLanguage(QStringLiteral("ja"));
    QCOMPARE(changed.count(), 2); // announced also when unchanged
    QCOMPARE(localizer.windowLocale(), QLocale(QStringLiteral("ja")));

    // Process texts follow the process locale, not the window's language.
    const QString key = QStringLiteral("error_helper_install_failed_prefix");
    QCOMPARE(localizer.processText(key), QStringLiteral("Helper installation failed: "));
    QCOMPARE(localizer.text(key), QStringLiteral("ヘルパーのインストールに失敗しました："));

    // A missing key comes back unchanged; the empty key (the picker's label) is empty.
    QCOMPARE(localizer.text(QStringLiteral("no_such_key")), QStringLiteral("no_such_key"));
    QCOMPARE(localizer.processText(QStringLiteral("Ünïcödé key")), QStringLiteral("Ünïcödé key"));
    QCOMPARE(localizer.text(QString()), QString());
}

void tst_Localizer::languageNamesReadAsThemselves_data() {
    QTest::addColumn<QString>("appLanguage");
    QTest::newRow("zhHans") << QStringLiteral("zhHans");
    QTest::newRow("en") << QStringLiteral("en");
    QTest::newRow("ja") << QStringLiteral("ja");
}

// Each language's segment of the picker shows its own name, whatever the window's language.
void tst_Localizer::languageNamesReadAsThemselves() {
    QFETCH(QString, appLanguage);
    Localizer localizer{QLocale(QStringLiteral("de_DE"))};
    localizer.setAppLanguage(appLanguage);
    for (const char* name :
         {textid::kLanguageSimplifiedChinese, textid::kLanguageEnglish, textid::kLanguageJapanese})
        QCOMPARE(localizer.text(name), QString::fromUtf8(name));
}

QTEST_GUILESS_MAIN(tst_Localizer)
#include "tst_Localizer.moc"
