#include "Localizer.h"

#include <QSignalSpy>
#include <QTest>

using fernpoint::Localizer;

namespace {

// Every key the window, the status panel and the history popover look up.
const QStringList kInventory = {
    QStringLiteral("app_title"),
    QStringLiteral("error_helper_install_failed_prefix"),
    QStringLiteral("network_id_label"),
    QStringLiteral("network_id_placeholder"),
    QStringLiteral("history_button"),
    QStringLiteral("button_connect"),
    QStringLiteral("button_disconnect"),
    QStringLiteral("nat_toggle_title"),
    QStringLiteral("status_connected"),
    QStringLiteral("status_disconnected"),
    QStringLiteral("network_status_title"),
    QStringLiteral("network_status_empty"),
    QStringLiteral("status_row_conn_state"),
    QStringLiteral("status_row_network_name"),
    QStringLiteral("status_row_network_desc"),
    QStringLiteral("status_row_local_mgmt"),
    QStringLiteral("status_row_listen_port"),
    QStringLiteral("status_row_core_state"),
    QStringLiteral("status_row_peer_count"),
    QStringLiteral("status_row_last_policy"),
    QStringLiteral("status_row_nat"),
    QStringLiteral("nat_on"),
    QStringLiteral("nat_off"),
    QStringLiteral("status_row_endpoints_title"),
    QStringLiteral("status_row_remote_mgmt_title"),
    QStringLiteral("history_title"),
    QStringLiteral("history_empty"),
    QStringLiteral("history_delete_one"),
    QStringLiteral("history_clear_all"),
};

} // namespace

class tst_Localizer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void localeForSetting_data();
    void localeForSetting();
    void tableServingALanguage_data();
    void tableServingALanguage();
    void processLookupIgnoresWindowLanguage();
    void missingKeyComesBackUnchanged();
    void everyTableCoversTheInventory_data();
    void everyTableCoversTheInventory();
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
    const QLocale result = Localizer::localeForSetting(raw, process);
    QCOMPARE(result, expected.isEmpty() ? process : QLocale(expected));
}

void tst_Localizer::tableServingALanguage_data() {
    QTest::addColumn<QString>("processLocale");
    QTest::addColumn<QString>("appLanguage");
    QTest::addColumn<QString>("expected");

    QTest::newRow("process English") << "en_GB"
                                     << "system"
                                     << "Connect";
    QTest::newRow("C locale gets English") << "C"
                                           << "system"
                                           << "Connect";
    QTest::newRow("German has no table: English") << "de_DE"
                                                  << "system"
                                                  << "Connect";
    QTest::newRow("Traditional Chinese: English") << "zh_TW"
                                                  << "system"
                                                  << "Connect";
    QTest::newRow("zh_CN") << "zh_CN"
                           << "system"
                           << "连接";
    QTest::newRow("zh_SG is Simplified") << "zh_SG"
                                         << "system"
                                         << "连接";
    QTest::newRow("ja_JP") << "ja_JP"
                           << "system"
                           << "接続";
    QTest::newRow("picker Chinese over English process") << "en_US"
                                                         << "zhHans"
                                                         << "连接";
    QTest::newRow("picker Japanese over Chinese process") << "zh_CN"
                                                          << "ja"
                                                          << "接続";
    QTest::newRow("picker English over Japanese process") << "ja_JP"
                                                          << "en"
                                                          << "Connect";
    QTest::newRow("unknown value follows process") << "ja_JP"
                                                   << "EN"
                                                   << "接続";
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
    QCOMPARE(localizer.processText(QStringLiteral("nat_on")), QStringLiteral("On"));
    QCOMPARE(localizer.text(QStringLiteral("nat_on")), QStringLiteral("オン"));
}

void tst_Localizer::missingKeyComesBackUnchanged() {
    Localizer localizer{QLocale(QStringLiteral("zh_CN"))};
    QCOMPARE(localizer.text(QStringLiteral("no_such_key")), QStringLiteral("no_such_key"));
    QCOMPARE(localizer.processText(QStringLiteral("no_such_key")), QStringLiteral("no_such_key"));
    QCOMPARE(localizer.text(QStringLiteral("Ünïcödé key")), QStringLiteral("Ünïcödé key"));
    // The language picker's own label is the empty key: no text in any language.
    QCOMPARE(localizer.text(QString()), QString());
}

void tst_Localizer::everyTableCoversTheInventory_data() {
    QTest::addColumn<QString>("appLanguage");
    QTest::newRow("zhHans") << QStringLiteral("zhHans");
    QTest::newRow("en") << QStringLiteral("en");
    QTest::newRow("ja") << QStringLiteral("ja");
}

void tst_Localizer::everyTableCoversTheInventory() {
    QFETCH(QString, appLanguage);
    Localizer localizer{QLocale(QStringLiteral("de_DE"))};
    localizer.setAppLanguage(appLanguage);
    for (const QString& key : kInventory) {
        const QString text = localizer.text(key);
        QVERIFY2(!text.isEmpty() && text != key, qPrintable(key));
    }
    // Segment labels are keys too; whatever a table makes of them, each must have a text.
    for (const QString& segment : {QStringLiteral("跟随系统"), QStringLiteral("简体中文"),
                                   QStringLiteral("English"), QStringLiteral("日本語")})
        QVERIFY(!localizer.text(segment).isEmpty());
    // The three language names read as themselves in every language.
    QCOMPARE(localizer.text(QStringLiteral("简体中文")), QStringLiteral("简体中文"));
    QCOMPARE(localizer.text(QStringLiteral("English")), QStringLiteral("English"));
    QCOMPARE(localizer.text(QStringLiteral("日本語")), QStringLiteral("日本語"));
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
