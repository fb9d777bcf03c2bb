#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QPalette;
class QWidget;

namespace fernpoint {

// The named colours of the status panel and the history popover. Views keep the name and turn it
// into a concrete colour only when painting, so that a palette change (dark mode) follows.
enum class PanelColor { Primary, Secondary, Green, Red, Gray, Separator, Selection };

// Fonts, colours and icons shared by the panel and the popover. Sizes are given in the layout
// points of the window's design (13 = body text); they are scaled to the desktop's own font size
// so that the panel sits well next to the rest of a Linux desktop.
class PanelStyle final {
public:
    PanelStyle() = delete;

    static constexpr qreal kBodyPoints = 13.0;

    static QColor color(PanelColor name, const QPalette& palette);

    // The system font at the given design size, regular weight, optionally monospaced.
    static QFont systemFont(qreal designPoints, bool monospaced = false);
    static QFont headlineFont();
    static QFont subheadlineFont();

    // Gives the label (or any widget drawing with WindowText) the named colour, worked out again
    // whenever the palette changes.
    static void applyTextColor(QWidget& widget, PanelColor name);

    // A bundled monochrome drawing (":/icons/<name>.svg"), or the desktop theme's icon of the
    // same meaning when the theme has one, tinted in the given colour.
    static QIcon icon(const QString& bundledName, const QString& themeName, const QColor& tint);
};

} // namespace fernpoint
