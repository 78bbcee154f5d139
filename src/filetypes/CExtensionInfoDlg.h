// The file-type page (dialog 104): the 41 catalogue rows (and, with thorough
// detection ticked, the thorough-only rows in their groups) with check boxes and
// an editable maximum size each; Next turns the ticked rows into the scan's type
// list and runs the results page, which empties it again when it returns.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "ui/CBDialog.h"
#include "ui/PageCommands.h"

class QCheckBox;
class QDialog;
class QPushButton;
class QWidget;

namespace kestrum {

namespace ui {
class CButtonST;
class CListCtrlEx;
}  // namespace ui

class CExtensionInfoDlg : public ui::CBDialog {
    Q_OBJECT
public:
    static constexpr int kSizeColumn = 2;

    // Builds the results page Next runs; tests may put their own in. An empty
    // function restores the real one.
    using ResultsPageFactory = std::function<std::unique_ptr<QDialog>(QWidget* opener)>;
    static void setResultsPageFactory(ResultsPageFactory factory);

    explicit CExtensionInfoDlg(QWidget* parent = nullptr);

    ui::CListCtrlEx* list() const { return list_; }
    QCheckBox* selectAllBox() const { return selectAll_; }
    QCheckBox* thoroughBox() const { return thorough_; }

    bool isRowChecked(int row) const;
    void setRowChecked(int row, bool checked);
    QString sizeText(int row) const;
    int checkedCount() const;

public slots:
    void next();
    // Back, Escape and the close box: empty the type list and return.
    void reject() override;
    void toggle();

private:
    // The catalogue rows, and with thorough detection the thorough-only rows in
    // their groups.
    void fillRows(bool thorough);
    void onSelectAllClicked(bool checked);
    // A size the scan cannot take is set to the nearest it can, and the user is
    // told the range; false when the cell had to be changed.
    bool clampSize(int row);
    // Enter, Alt+N and Ctrl+Tab reach Next from the list.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void alignSelectAll();

    ui::Menu129 menu_;
    ui::Toolbar toolbar_;
    ui::CListCtrlEx* list_;  // 1002
    QCheckBox* selectAll_;   // 1011
    QPushButton* toggle_;    // 1032
    QCheckBox* thorough_;    // the detection mode, remembered in the registry store
    ui::CButtonST* next_;    // 3
    ui::CButtonST* back_;    // 4
    bool settingRows_ = false;
};

// Runs the file-type page from the source page, by the chaining rule.
void runFileTypePage(QWidget* opener);

}  // namespace kestrum
