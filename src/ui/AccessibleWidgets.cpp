#include "AccessibleWidgets.h"

#include "ContentView.h"
#include "HistoryPopover.h"
#include "HistoryPopoverRow.h"
#include "SegmentedPicker.h"

#include <QAbstractButton>
#include <QAccessibleWidget>

namespace fernpoint {
namespace {

// The window content, with the open history popover as its last child.
class AccessibleContentView final : public QAccessibleWidget {
public:
    explicit AccessibleContentView(QWidget* view)
        : QAccessibleWidget(view) {}

    int childCount() const override { return ownChildren() + (openPopover() ? 1 : 0); }

    QAccessibleInterface* child(int index) const override {
        if (index == ownChildren())
            if (QWidget* popover = openPopover())
                return QAccessible::queryAccessibleInterface(popover);
        return QAccessibleWidget::child(index);
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child && child->object() && child->object() == openPopover())
            return ownChildren();
        return QAccessibleWidget::indexOfChild(child);
    }

private:
    int ownChildren() const { return QAccessibleWidget::childCount(); }
    QWidget* openPopover() const {
        auto* popover = widget()->findChild<HistoryPopover*>(QString(), Qt::FindDirectChildrenOnly);
        return popover && popover->isVisible() ? popover : nullptr;
    }
};

// One network of the history: a list item whose press picks it. The current row is the
// selected one.
class AccessibleHistoryRow final : public QAccessibleWidget {
public:
    explicit AccessibleHistoryRow(QWidget* row)
        : QAccessibleWidget(row, QAccessible::ListItem) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = row()->isCurrent();
        return state;
    }

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& actionName) override {
        if (actionName == pressAction())
            row()->pick();
        else
            QAccessibleWidget::doAction(actionName);
    }

private:
    HistoryPopoverRow* row() const { return static_cast<HistoryPopoverRow*>(widget()); }
};

// One segment of the language picker: a radio button of its group, toggled to choose it.
class AccessibleSegment final : public QAccessibleWidget {
public:
    explicit AccessibleSegment(QWidget* segment)
        : QAccessibleWidget(segment, QAccessible::RadioButton) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        return state;
    }

    QStringList actionNames() const override {
        return QStringList{toggleAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& actionName) override {
        // As a click does: an unchecked segment is chosen, the checked one stays.
        if (actionName == toggleAction() || actionName == pressAction())
            button()->click();
        else
            QAccessibleWidget::doAction(actionName);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* makeInterface(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1StringView("fernpoint::ContentView"))
        return new AccessibleContentView(widget);
    if (className == QLatin1StringView("fernpoint::HistoryPopoverRow"))
        return new AccessibleHistoryRow(widget);
    if (qobject_cast<QAbstractButton*>(object) && qobject_cast<SegmentedPicker*>(object->parent()))
        return new AccessibleSegment(widget);
    if (object->objectName() == QLatin1StringView(HistoryPopover::kListName))
        return new QAccessibleWidget(widget, QAccessible::List);
    return nullptr;
}

} // namespace

void installAccessibleWidgets() {
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace fernpoint
