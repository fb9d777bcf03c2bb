#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

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

} // namespace fernpoint::test
