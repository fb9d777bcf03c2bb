#include "TrayIcon.h"

#include "Localizer.h"
#include "TextIds.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace fernpoint {

TrayIcon::TrayIcon(const QIcon& image, Localizer& localizer, QObject* parent)
    : QObject(parent)
    , m_localizer(localizer)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(new QSystemTrayIcon(this)) {
    QIcon mask = image;
    mask.setIsMask(true);
    m_icon->setIcon(mask);
    // The status area reads this as the icon's accessible name.
    m_icon->setToolTip(QStringLiteral("FernPoint"));

    m_toggleAction = m_menu->addAction(QString());
    m_menu->addSeparator();
    m_quitAction = m_menu->addAction(QString());
    m_quitAction->setMenuRole(QAction::QuitRole);
    m_icon->setContextMenu(m_menu.get());

    connect(m_toggleAction, &QAction::triggered, this, &TrayIcon::toggleRequested);
    connect(m_quitAction, &QAction::triggered, this, &TrayIcon::quitRequested);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    Q_EMIT toggleRequested();
            });
    connect(&m_localizer, &Localizer::languageChanged, this, &TrayIcon::retranslate);
    retranslate();
}

TrayIcon::~TrayIcon() {
    // The menu must outlive the tray icon that points at it.
    delete m_icon;
    m_icon = nullptr;
}

bool TrayIcon::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    m_icon->show();
    return true;
}

void TrayIcon::retranslate() {
    m_toggleAction->setText(m_localizer.text(textid::kTrayShowHide));
    m_quitAction->setText(m_localizer.text(textid::kTrayQuit));
}

} // namespace fernpoint
