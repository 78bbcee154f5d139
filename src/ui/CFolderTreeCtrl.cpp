#include "ui/CFolderTreeCtrl.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

#include "app/Session.h"

namespace kestrum::ui {

CFolderTreeCtrl::CFolderTreeCtrl(QWidget* parent)
    : QTreeWidget(parent), scanRunning_([] { return session().scanThread.running(); }) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QTreeWidgetItem* CFolderTreeCtrl::addItem(QTreeWidgetItem* parent, const QString& text) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    // The box is drawn from the check-state data; without the user-checkable
    // flag the view itself never flips it, so every flip goes through clickBox.
    setChecked(item, false);
    return item;
}

bool CFolderTreeCtrl::isChecked(const QTreeWidgetItem* item) {
    return item->data(0, Qt::CheckStateRole).toInt() == Qt::Checked;
}

void CFolderTreeCtrl::setChecked(QTreeWidgetItem* item, bool checked) {
    item->setData(0, Qt::CheckStateRole, checked ? Qt::Checked : Qt::Unchecked);
}

QRect CFolderTreeCtrl::checkBoxRect(const QTreeWidgetItem* item) const {
    const QModelIndex index = indexFromItem(item);
    if (!index.isValid()) return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    option.index = index;
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

QTreeWidgetItem* CFolderTreeCtrl::boxAt(const QPoint& point) const {
    QTreeWidgetItem* item = itemAt(point);
    return item && checkBoxRect(item).contains(point) ? item : nullptr;
}

void CFolderTreeCtrl::clickBox(QTreeWidgetItem* item) {
    if (scanRunning_ && scanRunning_()) return;
    setCurrentItem(item);
    const bool checked = !isChecked(item);
    setChecked(item, checked);
    QList<QTreeWidgetItem*> pending{item};
    while (!pending.isEmpty()) {
        QTreeWidgetItem* next = pending.takeLast();
        for (int i = 0; i < next->childCount(); ++i) {
            setChecked(next->child(i), checked);
            pending.append(next->child(i));
        }
    }
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) {
        bool all = true;
        for (int i = 0; i < up->childCount() && all; ++i) all = isChecked(up->child(i));
        setChecked(up, all);
    }
    emit checkToggled(item, checked ? 1 : 0);
}

void CFolderTreeCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (QTreeWidgetItem* item = boxAt(event->position().toPoint())) {
            clickBox(item);
            return;
        }
    }
    QTreeWidget::mousePressEvent(event);
}

void CFolderTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double click on a box is one more click on it, not
    // an expand.
    if (event->button() == Qt::LeftButton) {
        if (QTreeWidgetItem* item = boxAt(event->position().toPoint())) {
            clickBox(item);
            return;
        }
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

}  // namespace kestrum::ui
