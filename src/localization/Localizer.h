#pragma once

#include <QAnyStringView>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QTranslator>

namespace fernpoint {

// Looks up the interface texts by ID (TextIds.h). Two languages are in play: the window's
// language, chosen by the "AppLanguage" setting, for every text of the window; and the process
// language (the system's), for the few texts that are composed outside the window. An ID without
// a text comes back unchanged.
class Localizer final : public QObject {
    Q_OBJECT

public:
    static constexpr QLatin1StringView kSettingKey{"AppLanguage"};

    explicit Localizer(const QLocale& processLocale = QLocale::system(), QObject* parent = nullptr);

    // "zhHans", "en", "ja" (exact, case-sensitive) pick that language; anything else,
    // "system" included, is the process language.
    static QLocale localeForSetting(const QString& appLanguageRaw, const QLocale& processLocale);

    // Changes the window's language and announces it (languageChanged), also when unchanged.
    void setAppLanguage(const QString& appLanguageRaw);
    const QString& appLanguage() const { return m_appLanguageRaw; }
    const QLocale& windowLocale() const { return m_windowLocale; }

    // Window language lookup.
    QString text(QAnyStringView id) const;
    // Process language lookup.
    QString processText(QAnyStringView id) const;

Q_SIGNALS:
    void languageChanged();

private:
    static void loadTable(QTranslator& translator, const QLocale& locale);
    static QString lookUp(const QTranslator& translator, QAnyStringView id);

    QLocale m_processLocale;
    QString m_appLanguageRaw = QStringLiteral("system");
    QLocale m_windowLocale;
    QTranslator m_windowTable;
    QTranslator m_processTable;
};

} // namespace fernpoint
