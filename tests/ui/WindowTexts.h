#pragma once

#include <QtWidgets>

namespace fernpoint::test {

// A text key shown raw: a lower-case identifier with underscores ("button_connect"). No text
// of the window, nor any value the test helpers report, has that shape.
inline bool isRawKey(const QString& text) {
    static const QRegularExpression shape(QStringLiteral("^[a-z][a-z0-9]*(_[a-z0-9]+)+$"));
    return shape.match(text).hasMatch();
}

// The texts a user (or a screen reader) can read in the widget tree below root.
inline QStringList visibleTexts(const QWidget& root) {
    QStringList texts;
    QList<QWidget*> widgets = root.findChildren<QWidget*>();
    widgets.prepend(const_cast<QWidget*>(&root));
    for (const QWidget* widget : widgets) {
        if (widget != &root && !widget->isVisibleTo(&root))
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts << button->text();
        if (const auto* field = qobject_cast<const QLineEdit*>(widget))
            texts << field->placeholderText();
        if (const auto* box = qobject_cast<const QGroupBox*>(widget))
            texts << box->title();
        texts << widget->accessibleName() << widget->accessibleDescription() << widget->toolTip();
    }
    texts.removeAll(QString());
    return texts;
}

// A dark scheme as desktops switch to it while the window is open.
inline QPalette darkPalette() {
    QPalette dark(QColor(0x3a, 0x3a, 0x3e), QColor(0x2b, 0x2b, 0x2e)); // button, window
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(0xec, 0xec, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x7c, 0xf6));
    return dark;
}

} // namespace fernpoint::test
