// A report list whose cells can be edited in place, column by column. Editing
// ends through one application-wide event hook (installed with the first such
// list, removed with the last): Enter and focus loss keep the text, Escape drops
// it, a click, wheel turn, scroll or menu outside the editor keeps it, and Tab
// and Shift+Tab move on to the next or previous editable cell, row by row.
#pragma once

#include <QHash>
#include <QSet>
#include <QTableWidget>

class QLineEdit;
class QValidator;

namespace kestrum::ui {

class CListCtrlEx : public QTableWidget {
    Q_OBJECT
public:
    explicit CListCtrlEx(QWidget* parent = nullptr);
    ~CListCtrlEx() override;

    void setColumnEditable(int column, bool editable = true);
    bool isColumnEditable(int column) const { return editableColumns_.contains(column); }
    // The editor of column accepts only what validator allows (the list keeps it).
    void setColumnValidator(int column, QValidator* validator);

    // Scrolls the cell into view and opens the editor over it, filled with the
    // cell's text and focused. False when the cell's column has no editor.
    bool editCell(int row, int column);
    // Closes the editor; with write, its text goes into the cell first.
    void endEdit(bool write);

    QLineEdit* editor() const { return editor_; }
    int editRow() const { return editRow_; }
    int editColumn() const { return editColumn_; }

    // Whether the application-wide hook is installed (while any list exists).
    static bool hookInstalled();

signals:
    void cellEdited(int row, int column, const QString& text);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    friend class CMsgHook;
    // Moves editing to the next (or previous) editable cell; at either end of
    // the list editing simply ends with the text kept.
    void moveEdit(bool forward);
    bool hookEvent(QObject* watched, QEvent* event);
    bool isInsideEditor(const QObject* object) const;

    QSet<int> editableColumns_;
    QHash<int, QValidator*> validators_;
    QLineEdit* editor_ = nullptr;
    int editRow_ = -1;
    int editColumn_ = -1;
};

}  // namespace kestrum::ui
