#include "PanelStyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
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

QPixmap tintedPixmap(QSvgRenderer& renderer, int size, qreal ratio, const QColor& tint) {
    QPixmap pixmap(qRound(size * ratio), qRound(size * ratio));
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), tint);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

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
    // The colour is worked out from the surroundings, never from the widget's own palette: that
    // one already carries the colour set last time, and deriving from it again would drift (a
    // secondary text fading towards the background with every status update).
    const QWidget* parent = widget.parentWidget();
    const QColor colour = color(name, parent ? parent->palette() : QApplication::palette(&widget));
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

QIcon PanelStyle::icon(const QString& bundledName, const QString& themeName, const QColor& tint) {
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(bundledName));
    if (!renderer.isValid())
        return {};
    QIcon icon;
    for (const int size : {16, 20, 24, 32}) {
        icon.addPixmap(tintedPixmap(renderer, size, 1.0, tint));
        icon.addPixmap(tintedPixmap(renderer, size, 2.0, tint));
    }
    return icon;
}

} // namespace fernpoint
