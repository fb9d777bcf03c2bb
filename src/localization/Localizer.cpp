#include "Localizer.h"

#include <QLoggingCategory>

namespace fernpoint {
namespace {

Q_LOGGING_CATEGORY(lcLocalization, "fernpoint.localization")

// The tables the application ships. English is the base language: it serves every language that
// has no table of its own.
QString tableFor(const QLocale& locale) {
    switch (locale.language()) {
    case QLocale::Chinese:
        // Only Simplified Chinese has a table; Traditional Chinese readers get English rather
        // than a script they may not read comfortably.
        if (locale.script() == QLocale::SimplifiedChineseScript)
            return QStringLiteral("zh_CN");
        return {};
    case QLocale::Japanese:
        return QStringLiteral("ja");
    case QLocale::English:
        return QStringLiteral("en");
    default:
        return {};
    }
}

} // namespace

Localizer::Localizer(const QLocale& processLocale, QObject* parent)
    : QObject(parent)
    , m_processLocale(processLocale)
    , m_windowLocale(processLocale) {
    loadTable(m_processTable, m_processLocale);
    loadTable(m_windowTable, m_windowLocale);
}

QLocale Localizer::localeForSetting(const QString& appLanguageRaw, const QLocale& processLocale) {
    if (appLanguageRaw == QLatin1StringView("zhHans"))
        return QLocale(QStringLiteral("zh-Hans"));
    if (appLanguageRaw == QLatin1StringView("en"))
        return QLocale(QStringLiteral("en"));
    if (appLanguageRaw == QLatin1StringView("ja"))
        return QLocale(QStringLiteral("ja"));
    return processLocale;
}

void Localizer::setAppLanguage(const QString& appLanguageRaw) {
    m_appLanguageRaw = appLanguageRaw;
    m_windowLocale = localeForSetting(appLanguageRaw, m_processLocale);
    loadTable(m_windowTable, m_windowLocale);
    Q_EMIT languageChanged();
}

QString Localizer::text(QAnyStringView id) const {
    return lookUp(m_windowTable, id);
}

QString Localizer::processText(QAnyStringView id) const {
    return lookUp(m_processTable, id);
}

void Localizer::loadTable(QTranslator& translator, const QLocale& locale) {
    // The user's ordered language preference comes first (LANGUAGE on Linux), then the locale
    // itself; the first language we have a table for wins.
    QString table;
    const QStringList candidates = locale.uiLanguages() + QStringList{locale.name()};
    for (const QString& name : candidates) {
        table = tableFor(QLocale(name));
        if (!table.isEmpty())
            break;
    }
    if (table.isEmpty())
        table = QStringLiteral("en");
    const QString path = QStringLiteral(":/i18n/fernpoint_%1.qm").arg(table);
    if (!translator.load(path))
        qCWarning(lcLocalization).noquote() << "⚠️ [app] cannot load string table" << path;
}

QString Localizer::lookUp(const QTranslator& translator, QAnyStringView id) {
    const QString key = id.toString();
    if (key.isEmpty())
        return key;
    const QString found = translator.translate(nullptr, key.toUtf8().constData());
    return found.isNull() ? key : found;
}

} // namespace fernpoint
