#include "Localizer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using fernpoint::Localizer;

class tst_Localizer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void localeForSetting_data();
    void localeForSetting();
    void tableServingALanguage_data();
    void tableServingALanguage();
    void processLookupIgnoresWindowLanguage();
    void missingKeyComesBackUnchanged();
    void everyTableHasEveryKey_data();
    void everyTableHasEveryKey();
    void languageChangeIsAnnouncedAlsoWhenUnchanged();
};

void tst_Localizer::localeForSetting_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("expected"); // empty: the process locale

    QTest::newRow("zhHans") << QStringLiteral("zhHans") << QStringLiteral("zh-Hans");
    QTest::newRow("en") << QStringLiteral("en") << QStringLiteral("en");
    QTest::newRow("ja") << QStringLiteral("ja") << QStringLiteral("ja");
    QTest::newRow("system") << QStringLiteral("system") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("locale identifier, not a stored value")
        << QStringLiteral("zh-Hans") << QString();
    QTest::newRow("capitals") << QStringLiteral("EN") << QString();
    QTest::newRow("mixed case") << QStringLiteral("Ja") << QString();
    QTest::newRow("surrounding space") << QStringLiteral(" en") << QString();
}

void tst_Localizer::localeForSetting() {
    QFETCH(QString, raw);
    QFETCH(QString, expected);
    // A process locale that none of the fixed choices produce, so a fall-through is visible.
    const QLocale process(QStringLiteral("de_DE"));
    QCOMPARE(Localizer::localeForSetting(raw, process),
             expected.isEmpty() ? process : QLocale(expected));
}

void tst_Localizer::tableServingALanguage_data() {
    QTest::addColumn<QString>("processLocale");
    QTest::addColumn<QString>("appLanguage");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char* name, const char* process, const char* setting,
                        const char* text) {
        QTest::newRow(name) << QString::fromLatin1(process) << QString::fromLatin1(setting)
                            << QString::fromUtf8(text);
    };
    row("German has no table: English", "de_DE", "system", "Connect");
    row("Traditional Chinese: English", "zh_TW", "system", "Connect");
    row("zh_CN", "zh_CN", "system", "连接");
    row("zh_SG is Simplified", "zh_SG", "system", "连接");
    row("ja_JP", "ja_JP", "system", "接続");
    row("picker Chinese over English process", "en_US", "zhHans", "连接");
    row("picker English over Japanese process", "ja_JP", "en", "Connect");
    row("unknown value follows process", "ja_JP", "EN", "接続");
}

void tst_Localizer::tableServingALanguage() {
    QFETCH(QString, processLocale);
    QFETCH(QString, appLanguage);
    QFETCH(QString, expected);
    Localizer localizer{QLocale(processLocale)};
    localizer.setAppLanguage(appLanguage);
    QCOMPARE(localizer.text(QStringLiteral("button_connect")), expected);
}

void tst_Localizer::processLookupIgnoresWindowLanguage() {
    Localizer localizer{QLocale(QStringLiteral("en_US"))};
    localizer.setAppLanguage(QStringLiteral("ja"));
    const QString key = QStringLiteral("error_helper_install_failed_prefix");
    QCOMPARE(localizer.processText(key), QStringLiteral("Helper installation failed: "));
    QCOMPARE(localizer.text(key), QStringLiteral("ヘルパーのインストールに失敗しました："));
}

void tst_Localizer::missingKeyComesBackUnchanged() {
    Localizer localizer{QLocale(QStringLiteral("zh_CN"))};
    QCOMPARE(localizer.text(QStringLiteral("no_such_key")), QStringLiteral("no_such_key"));
    QCOMPARE(localizer.processText(QStringLiteral("Ünïcödé key")), QStringLiteral("Ünïcödé key"));
    // The language picker's own label is the empty key: no text in any language.
    QCOMPARE(localizer.text(QString()), QString());
}

void tst_Localizer::everyTableHasEveryKey_data() {
    QTest::addColumn<QString>("appLanguage");
    QTest::newRow("zhHans") << QStringLiteral("zhHans");
    QTest::newRow("en") << QStringLiteral("en");
    QTest::newRow("ja") << QStringLiteral("ja");
}

void tst_Localizer::everyTableHasEveryKey() {
    QFETCH(QString, appLanguage);
    // Every key of any table's source; a key missing from one table comes back unchanged.
    QStringList keys;
    const QRegularExpression message(QStringLiteral("<message id=\"([^\"]+)\""));
    const QDir sources(QStringLiteral(FERNPOINT_TRANSLATIONS_DIR));
    for (const QString& name : sources.entryList({QStringLiteral("*.ts")})) {
        QFile file(sources.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const auto& match : message.globalMatch(QString::fromUtf8(file.readAll())))
            keys.append(match.captured(1));
    }
    keys.removeDuplicates();
    QVERIFY2(keys.size() >= 30, qPrintable(keys.join(QLatin1Char(' '))));

    // The picker's segment labels are keys in one language: the three language names read as
    // themselves in every language, "跟随系统" in its own.
    const QStringList languageNames = {QStringLiteral("简体中文"), QStringLiteral("English"),
                                       QStringLiteral("日本語")};
    const QStringList segmentLabels = languageNames + QStringList{QStringLiteral("跟随系统")};
    Localizer localizer{QLocale(QStringLiteral("de_DE"))};
    localizer.setAppLanguage(appLanguage);
    for (const QString& key : std::as_const(keys)) {
        const QString text = localizer.text(key);
        QVERIFY2(!text.isEmpty() && (text != key || segmentLabels.contains(key)), qPrintable(key));
    }
    for (const QString& name : languageNames)
        QCOMPARE(localizer.text(name), name);
    // The window appends the description directly: the prefix carries its own separator.
    const QString prefix = localizer.text(QStringLiteral("error_helper_install_failed_prefix"));
    QVERIFY2(prefix.endsWith(QStringLiteral(": ")) || prefix.endsWith(QStringLiteral("：")),
             qPrintable(prefix));
}

void tst_Localizer::languageChangeIsAnnouncedAlsoWhenUnchanged() {
    Localizer localizer{QLocale(QStringLiteral("en_US"))};
    QSignalSpy spy(&localizer, &Localizer::languageChanged);
    localizer.setAppLanguage(QStringLiteral("ja"));
    localizer.setAppLanguage(QStringLiteral("ja"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(localizer.appLanguage(), QStringLiteral("ja"));
    QCOMPARE(localizer.windowLocale(), QLocale(QStringLiteral("ja")));
}

QTEST_GUILESS_MAIN(tst_Localizer)
#include "tst_Localizer.moc"
