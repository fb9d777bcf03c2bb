#include "TrayIcon.h"

#include "Localizer.h"
#include "TextIds.h"

#include <QAction>
#include <QIconEngine>
#include <QMenu>
#include <QSystemTrayIcon>

namespace fernpoint {
namespace {

// Names a theme icon, which a status area that draws from the desktop's theme looks up and
// recolours, and paints our own picture wherever pixels are needed (the pixmap sent beside the
// name, a status area that takes pixels only). QIcon::fromTheme() would drop the name whenever
// the running theme lacks the icon. The picture is read when first drawn: a desktop without a
// status area never needs it.
class NamedIconEngine final : public QIconEngine {
public:
    NamedIconEngine(QString name, QString picturePath)
        : m_name(std::move(name))
        , m_picturePath(std::move(picturePath)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        picture().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return picture().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return picture().actualSize(size, mode, state);
    }
    // The sizes status areas use, so the exported pixmaps are drawn for them, not scaled.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
    }
    QString iconName() override { return m_name; }
    QString key() const override { return QStringLiteral("fernpoint-named"); }
    QIconEngine* clone() const override { return new NamedIconEngine(*this); }

private:
    const QIcon& picture() {
        if (m_picture.isNull())
            m_picture = QIcon(m_picturePath);
        return m_picture;
    }

    QString m_name;
    QString m_picturePath;
    QIcon m_picture;
};

QString pictureOf(TrayModel::State state) {
    switch (state) {
    case TrayModel::State::Busy:
        return QStringLiteral(":/icons/tray-busy.svg");
    case TrayModel::State::Connected:
        return QStringLiteral(":/icons/tray-connected.svg");
    case TrayModel::State::Error:
        return QStringLiteral(":/icons/tray-error.svg");
    case TrayModel::State::Disconnected:
        break;
    }
    return QStringLiteral(":/icons/tray-disconnected.svg");
}

// Menu texts show network names as they are: "&" is not a mnemonic there.
QString literalMenuText(QString text) {
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

TrayIcon::TrayIcon(const QIcon& image, Localizer& localizer, QObject* parent)
    : QObject(parent)
    , m_localizer(localizer)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(new QSystemTrayIcon(this)) {
    m_icon->setIcon(image);
    // The status area reads this as the icon's accessible name until a model names the state.
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

QIcon TrayIcon::stateIcon(TrayModel::State state) {
    return QIcon(new NamedIconEngine(TrayModel::iconName(state), pictureOf(state)));
}

bool TrayIcon::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    m_icon->show();
    return true;
}

void TrayIcon::attach(TrayModel& model) {
    m_model = &model;
    m_stateAction = new QAction(m_menu.get());
    m_stateAction->setEnabled(false);
    m_primaryAction = new QAction(m_menu.get());
    m_recentMenu = new QMenu(m_menu.get());
    m_menu->insertAction(m_toggleAction, m_stateAction);
    m_menu->insertSeparator(m_toggleAction);
    m_menu->insertAction(m_toggleAction, m_primaryAction);
    m_menu->insertMenu(m_toggleAction, m_recentMenu);
    m_menu->insertSeparator(m_toggleAction);

    connect(m_primaryAction, &QAction::triggered, &model, &TrayModel::triggerPrimary);
    connect(m_recentMenu, &QMenu::triggered, &model, [&model](QAction* action) {
        if (const QString networkID = action->data().toString(); !networkID.isEmpty())
            model.connectTo(networkID);
    });
    connect(&model, &TrayModel::viewChanged, this, &TrayIcon::showView);
    retranslate();
    showView();
}

void TrayIcon::retranslate() {
    m_toggleAction->setText(m_localizer.text(textid::kTrayShowHide));
    m_quitAction->setText(m_localizer.text(textid::kTrayQuit));
    if (m_recentMenu)
        m_recentMenu->setTitle(m_localizer.text(textid::kHistoryTitle));
}

void TrayIcon::showView() {
    const TrayModel::View& view = m_model->view();
    // Each change of the icon or tooltip is announced to the status area: only real ones.
    if (!m_shown || m_shown->state != view.state)
        m_icon->setIcon(stateIcon(view.state));
    if (!m_shown || m_shown->stateText != view.stateText) {
        m_icon->setToolTip(view.stateText);
        m_stateAction->setText(
            literalMenuText(m_menu->fontMetrics().elidedText(view.stateText, Qt::ElideRight, 360)));
    }
    m_primaryAction->setText(literalMenuText(view.primaryText));
    m_primaryAction->setEnabled(view.primaryEnabled);
    m_recentMenu->clear();
    for (const TrayModel::RecentNetwork& network : view.recentNetworks)
        m_recentMenu->addAction(literalMenuText(network.label))->setData(network.networkID);
    if (view.recentNetworks.isEmpty())
        m_recentMenu->addAction(m_localizer.text(textid::kHistoryEmpty))->setEnabled(false);
    m_recentMenu->setEnabled(view.recentNetworksEnabled);
    m_shown = view;
}

} // namespace fernpoint
