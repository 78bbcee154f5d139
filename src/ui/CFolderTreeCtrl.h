// A tree whose items carry check boxes. A click on a box flips the item and
// gives its new state to every descendant; an ancestor is checked exactly when
// all of its children are. Clicks on boxes are ignored while a scan runs.
#pragma once

#include <QTreeWidget>

#include <functional>

namespace kestrum::ui {

class CFolderTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CFolderTreeCtrl(QWidget* parent = nullptr);

    // A new unchecked item under parent (at the top when parent is null).
    QTreeWidgetItem* addItem(QTreeWidgetItem* parent, const QString& text);

    static bool isChecked(const QTreeWidgetItem* item);
    // Sets one item's box and nothing else.
    static void setChecked(QTreeWidgetItem* item, bool checked);

    // What tells a running scan; by default the session's scan handle.
    void setScanRunning(std::function<bool()> scanRunning) {
        scanRunning_ = std::move(scanRunning);
    }

    // Where the item's check box is drawn, in viewport coordinates.
    QRect checkBoxRect(const QTreeWidgetItem* item) const;

signals:
    // After a click has flipped an item: 1 when it is now checked, else 0.
    void checkToggled(QTreeWidgetItem* item, int state);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

public:
    // The item whose check box lies under the point, or null.
    QTreeWidgetItem* boxAt(const QPoint& point) const;
    // What a click on item's box does.
    void clickBox(QTreeWidgetItem* item);

private:
    std::function<bool()> scanRunning_;
};

}  // namespace kestrum::ui
