#include "PanelStyle.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QWidget>

namespace fernpoint {
namespace {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor mixed(const QColor& a, const QColor& b, qreal amountOfA) {
    const qreal rest = 1.0 - amountOfA;
    return QColor::fromRgbF(a.redF() * amountOfA + b.redF() * rest,
                            a.greenF() * amountOfA + b.greenF() * rest,
                            a.blueF() * amountOfA + b.blueF() * rest);
}

// The application font stands for the design's 13-point body text.
qreal scaled(qreal designPoints) {
    const QFont base = QApplication::font();
    const qreal basePoints = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    return designPoints * basePoints / PanelStyle::kBodyPoints;
}

// A bundled drawing in one colour, rendered only at the sizes that are really painted (once
// each): rendering every size up front cost start-up time for pixmaps that were never shown.
class TintedSvgEngine final : public QIconEngine {
public:
    TintedSvgEngine(QString path, const QColor& tint)
        : m_path(std::move(path))
        , m_tint(tint) {}

    QIconEngine* clone() const override { return new TintedSvgEngine(*this); }
    QString key() const override { return QStringLiteral("fernpoint-tinted-svg"); }
    QString iconName() override { return m_path; }
    bool isNull() override { return false; }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {20, 20}, {24, 24}, {32, 32}};
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return rendered(qMin(size.width(), size.height()), 1.0, mode);
    }

    // QIcon passes the size in device pixels here.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        return rendered(qMin(size.width(), size.height()), qMax<qreal>(scale, 1.0), mode);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal ratio =
            qMax<qreal>(painter->device() ? painter->device()->devicePixelRatioF() : 1.0, 1.0);
        const int side = qMin(rect.width(), rect.height());
        const QPixmap shown = rendered(qRound(side * ratio), ratio, mode);
        if (shown.isNull())
            return;
        painter->drawPixmap(QRectF(rect.x() + (rect.width() - side) / 2.0,
                                   rect.y() + (rect.height() - side) / 2.0, side, side),
                            shown, QRectF(shown.rect()));
    }

private:
    // A square of `devicePixels` device pixels, at the given device pixel ratio.
    // The disabled look is the style's, as for any other icon.
    QPixmap rendered(int devicePixels, qreal ratio, QIcon::Mode mode) {
        if (devicePixels <= 0)
            return {};
        const bool disabled = mode == QIcon::Disabled;
        const quint64 cacheKey = (static_cast<quint64>(devicePixels) << 32) |
                                 (static_cast<quint64>(disabled) << 31) |
                                 static_cast<quint32>(qRound(ratio * 100));
        if (const auto found = m_pixmaps.constFind(cacheKey); found != m_pixmaps.constEnd())
            return *found;
        QSvgRenderer renderer(m_path);
        if (!renderer.isValid())
            return {};
        QPixmap pixmap(devicePixels, devicePixels);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), m_tint);
        }
        pixmap.setDevicePixelRatio(ratio);
        if (disabled) {
            QStyleOption option;
            option.palette = QApplication::palette();
            pixmap = QApplication::style()->generatedIconPixmap(QIcon::Disabled, pixmap, &option);
        }
        m_pixmaps.insert(cacheKey, pixmap);
        return pixmap;
    }

    QString m_path;
    QColor m_tint;
    QHash<quint64, QPixmap> m_pixmaps;
};

// A widget's named text colour, kept on the widget so that it can be worked out again.
constexpr char kTextColorProperty[] = "fernpointPanelTextColor";

void setTextColor(QWidget& widget, PanelColor name) {
    // The colour is worked out from the surroundings, never from the widget's own palette: that
    // one already carries the colour set last time, and deriving from it again would drift (a
    // secondary text fading towards the background with every status update).
    const QWidget* parent = widget.parentWidget();
    const QColor colour =
        PanelStyle::color(name, parent ? parent->palette() : QApplication::palette(&widget));
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

// Sets the named colours again whenever a widget's palette changes (a light/dark switch): the
// colours set explicitly would otherwise keep the old scheme's values.
class TextColorFollower final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange && watched->isWidgetType()) {
            const QVariant name = watched->property(kTextColorProperty);
            if (name.isValid())
                setTextColor(*static_cast<QWidget*>(watched), PanelColor(name.toInt()));
        }
        return false;
    }
};

} // namespace

QColor PanelStyle::color(PanelColor name, const QPalette& palette) {
    const bool dark = isDark(palette);
    switch (name) {
    case PanelColor::Primary:
        return palette.color(QPalette::WindowText);
    case PanelColor::Secondary:
        // A dimmed text colour that stays readable on the window background.
        return mixed(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.6);
    case PanelColor::Green:
        return dark ? QColor(0x32, 0xd7, 0x4b) : QColor(0x1e, 0x9e, 0x3a);
    case PanelColor::Red:
        return dark ? QColor(0xff, 0x45, 0x3a) : QColor(0xd7, 0x1f, 0x1f);
    case PanelColor::Gray:
        return QColor(0x8e, 0x8e, 0x93);
    case PanelColor::Separator:
        return mixed(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.18);
    case PanelColor::Selection:
        // A light wash of the highlight, so the row's own text colours stay readable on it.
        return mixed(palette.color(QPalette::Highlight), palette.color(QPalette::Window), 0.22);
    }
    return palette.color(QPalette::WindowText);
}

QFont PanelStyle::systemFont(qreal designPoints, bool monospaced) {
    QFont font =
        monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QApplication::font();
    font.setPointSizeF(scaled(designPoints));
    font.setWeight(QFont::Normal);
    return font;
}

QFont PanelStyle::headlineFont() {
    QFont font = systemFont(kBodyPoints);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont PanelStyle::subheadlineFont() {
    return systemFont(11.0);
}

void PanelStyle::applyTextColor(QWidget& widget, PanelColor name) {
    static TextColorFollower follower;
    widget.setProperty(kTextColorProperty, int(name));
    widget.installEventFilter(&follower);
    setTextColor(widget, name);
}

QIcon PanelStyle::icon(const QString& bundledName, const QString& themeName, const QColor& tint) {
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    // One icon per drawing and colour, shared: painting code may ask for it on every paint. The
    // pixmaps go with the application.
    static QHash<QString, QIcon> made;
    static const bool clearedAtExit = [] {
        qAddPostRoutine([] { made.clear(); });
        return true;
    }();
    Q_UNUSED(clearedAtExit);
    const QString path = QStringLiteral(":/icons/%1.svg").arg(bundledName);
    const QString key = path + QLatin1Char('|') + tint.name(QColor::HexArgb);
    if (const auto found = made.constFind(key); found != made.constEnd())
        return *found;
    if (!QFile::exists(path))
        return {};
    const QIcon icon(new TintedSvgEngine(path, tint));
    made.insert(key, icon);
    return icon;
}

} // namespace fernpoint
