#include "ui/CListCtrlEx.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QValidator>

#include <algorithm>

namespace kestrum::ui {

// Sees every event of the UI thread and hands it to each list that is editing.
class CMsgHook : public QObject {
public:
    static void attach(CListCtrlEx* list) {
        if (!instance) {
            instance = new CMsgHook;
            qApp->installEventFilter(instance);
        }
        instance->lists_.insert(list);
    }
    static void detach(CListCtrlEx* list) {
        if (!instance) return;
        instance->lists_.remove(list);
        if (instance->lists_.isEmpty()) {
            qApp->removeEventFilter(instance);
            delete instance;
            instance = nullptr;
        }
    }
    static inline CMsgHook* instance = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto lists = lists_;  // a handler may end editing and delete an editor
        for (CListCtrlEx* list : lists)
            if (list->editor_ && list->hookEvent(watched, event)) return true;
        return false;
    }

private:
    QSet<CListCtrlEx*> lists_;
};

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTableWidget(parent) {
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    auto endOnScroll = [this] { endEdit(true); };
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, endOnScroll);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, endOnScroll);
    CMsgHook::attach(this);
}

CListCtrlEx::~CListCtrlEx() {
    CMsgHook::detach(this);
}

bool CListCtrlEx::hookInstalled() {
    return CMsgHook::instance != nullptr;
}

void CListCtrlEx::setColumnEditable(int column, bool editable) {
    if (editable)
        editableColumns_.insert(column);
    else
        editableColumns_.remove(column);
}

void CListCtrlEx::setColumnValidator(int column, QValidator* validator) {
    validator->setParent(this);
    validators_.insert(column, validator);
}

bool CListCtrlEx::editCell(int row, int column) {
    if (!isColumnEditable(column) || row < 0 || row >= rowCount()) return false;
    endEdit(true);
    const QModelIndex index = model()->index(row, column);
    scrollTo(index);
    QRect cell = visualRect(index);
    // Never past the client width less 4 pixels, even for a wide last column.
    const int limit = viewport()->width() - 4;
    if (cell.right() >= limit) cell.setRight(limit - 1);

    editor_ = new QLineEdit(viewport());
    editor_->setObjectName("cellEditor");
    editor_->setFrame(false);
    if (QValidator* validator = validators_.value(column)) editor_->setValidator(validator);
    editRow_ = row;
    editColumn_ = column;
    const QTableWidgetItem* cellItem = item(row, column);
    editor_->setText(cellItem ? cellItem->text() : QString());
    editor_->setGeometry(cell);
    editor_->show();
    editor_->setFocus(Qt::OtherFocusReason);
    editor_->selectAll();
    return true;
}

void CListCtrlEx::endEdit(bool write) {
    QLineEdit* closing = editor_;
    if (!closing) return;
    // Forget the editor first: hiding it moves the focus, and that focus loss
    // must not end the editing a second time.
    editor_ = nullptr;
    const bool hadFocus = closing->hasFocus();
    if (write) {
        QTableWidgetItem* cellItem = item(editRow_, editColumn_);
        if (!cellItem) {
            cellItem = new QTableWidgetItem;
            setItem(editRow_, editColumn_, cellItem);
        }
        cellItem->setText(closing->text());
        emit cellEdited(editRow_, editColumn_, closing->text());
    }
    closing->hide();
    closing->deleteLater();
    if (hadFocus) setFocus(Qt::OtherFocusReason);
}

void CListCtrlEx::moveEdit(bool forward) {
    QList<int> columns(editableColumns_.begin(), editableColumns_.end());
    std::sort(columns.begin(), columns.end());
    int row = editRow_;
    int position = static_cast<int>(columns.indexOf(editColumn_)) + (forward ? 1 : -1);
    if (position >= static_cast<int>(columns.size())) {
        ++row;
        position = 0;
    } else if (position < 0) {
        --row;
        position = static_cast<int>(columns.size()) - 1;
    }
    if (row < 0 || row >= rowCount() || columns.isEmpty()) {
        endEdit(true);
        return;
    }
    endEdit(true);
    editCell(row, columns[position]);
}

bool CListCtrlEx::isInsideEditor(const QObject* object) const {
    for (; object; object = object->parent())
        if (object == editor_) return true;
    return false;
}

bool CListCtrlEx::hookEvent(QObject* watched, QEvent* event) {
    const bool inside = isInsideEditor(watched);
    switch (event->type()) {
        case QEvent::KeyPress: {
            if (watched != editor_) return false;
            const auto* press = static_cast<QKeyEvent*>(event);
            const int key = press->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                endEdit(true);
                return true;
            }
            if (key == Qt::Key_Escape) {
                endEdit(false);
                return true;  // not also the page's Cancel
            }
            if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
                // Shift+Tab arrives as Backtab from a keyboard, as Tab with
                // Shift from some input methods.
                moveEdit(key == Qt::Key_Tab && !(press->modifiers() & Qt::ShiftModifier));
                return true;
            }
            return false;
        }
        case QEvent::FocusOut:
            // The editor's own context menu takes the focus without ending it.
            if (watched == editor_ &&
                static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
                endEdit(true);
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::Wheel:
            if (watched->isWidgetType() && !inside) endEdit(true);
            return false;
        case QEvent::Show:
            if (qobject_cast<QMenu*>(watched) && !inside) endEdit(true);
            return false;
        default:
            return false;
    }
}

void CListCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && editCell(index.row(), index.column())) return;
    QTableWidget::mouseDoubleClickEvent(event);
}

}  // namespace kestrum::ui
