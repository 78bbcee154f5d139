#include "filetypes/CExtensionInfoDlg.h"

#include <QCheckBox>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>

#include <map>
#include <string>

#include "app/Log.h"
#include "app/Prompter.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "disk/SourceBinding.h"
#include "filetypes/Catalogue.h"
#include "scan/CFileDisplayDlg.h"
#include "scan/DetectionSetting.h"
#include "ui/CButtonST.h"
#include "ui/CListCtrlEx.h"
#include "ui/CTransparentStatic.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

namespace {

CExtensionInfoDlg::ResultsPageFactory resultsPageFactory;

std::unique_ptr<QDialog> makeResultsPage(QWidget* opener) {
    if (resultsPageFactory) return resultsPageFactory(opener);
    return std::make_unique<CFileDisplayDlg>(opener);
}

}  // namespace

void CExtensionInfoDlg::setResultsPageFactory(ResultsPageFactory factory) {
    resultsPageFactory = std::move(factory);
}

CExtensionInfoDlg::CExtensionInfoDlg(QWidget* parent)
    : ui::CBDialog(parent),
      list_(new ui::CListCtrlEx(client())),
      selectAll_(new QCheckBox("Select All", client())),
      toggle_(new QPushButton("&Toggle", client())),
      thorough_(new QCheckBox("Thorough detection", client())) {
    ui::setUpPageFrame(this, "extensionInfoDlg");
    // 1. The common frame; nothing to recover on this page.
    menu_ = ui::installMenu129(this);
    toolbar_ = ui::installToolbar(this);
    loadBackground("\\gui2.bmp");
    menu_.recoverSelected->setEnabled(false);

    next_ = new ui::CButtonST(client());
    next_->setObjectName("nextButton");
    next_->setGeometry(duRect(399, 279, 35, 33));
    next_->loadPictures("\\Next.bmp", ui::kToolbarKey, "\\NextA.bmp");
    next_->setToolTip("Next");
    back_ = new ui::CButtonST(client());
    back_->setObjectName("backButton");
    back_->setGeometry(duRect(363, 284, 24, 22));
    back_->loadPictures("\\Back.bmp", ui::kToolbarKey, "\\BackA.bmp");
    back_->setToolTip("Back");
    connect(next_, &ui::CButtonST::clicked, this, &CExtensionInfoDlg::next);
    connect(back_, &ui::CButtonST::clicked, this, &CExtensionInfoDlg::reject);

    // 2-4. The list: a 10-point face, grid, check boxes, whole rows, sizes editable.
    list_->setObjectName("typeList");
    list_->setGeometry(duRect(15, 50, 420, 186));
    QFont font("Arial Unicode MS");
    font.setPointSize(10);
    list_->setFont(font);
    list_->setShowGrid(true);
    list_->setWordWrap(false);
    list_->setColumnCount(3);
    list_->setHorizontalHeaderLabels({"File Type", "Description", "Maximum Size (in KB)"});
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
    list_->setColumnWidth(0, 130);
    list_->setColumnWidth(1, 190);
    list_->setColumnWidth(2, 160);
    list_->setColumnEditable(kSizeColumn);
    // A size is a number of kilobytes: "12ab" would be stored as it is typed.
    list_->setColumnValidator(kSizeColumn,
                              new QRegularExpressionValidator(QRegularExpression("[0-9]*")));
    connect(list_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!settingRows_ && item->column() == 0) alignSelectAll();
    });
    // Checked once the editing has ended: the message box must not open inside
    // the click or key that ended it.
    connect(list_, &ui::CListCtrlEx::cellEdited, this, [this](int row, int column) {
        if (column == kSizeColumn)
            QMetaObject::invokeMethod(
                this, [this, row] { clampSize(row); }, Qt::QueuedConnection);
    });
    // Tab leaves the list (Tab inside an open size editor still moves cell to cell).
    list_->setTabKeyNavigation(false);
    list_->installEventFilter(this);
    auto* nextKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_N), this);
    nextKey->setObjectName("nextKey");
    connect(nextKey, &QShortcut::activated, this, &CExtensionInfoDlg::next);

    selectAll_->setObjectName("selectAllCheck");  // 1011
    selectAll_->setGeometry(duRect(15, 242, 70, 12));
    connect(selectAll_, &QCheckBox::clicked, this, &CExtensionInfoDlg::onSelectAllClicked);
    toggle_->setObjectName("toggleButton");  // 1032
    toggle_->setGeometry(duRect(92, 241, 50, 14));
    toggle_->setAutoDefault(false);
    connect(toggle_, &QPushButton::clicked, this, &CExtensionInfoDlg::toggle);
    auto* note = new ui::CTransparentStatic(
        "* Note : Please click on size to set or change default size", client());
    note->setObjectName("noteText");  // 1007
    note->setGeometry(duRect(15, 260, 300, 9));

    // The detection mode: thorough unless the user chose classic in an earlier run.
    thorough_->setObjectName("thoroughCheck");
    thorough_->setGeometry(duRect(160, 242, 110, 12));
    thorough_->setChecked(rememberedThoroughMode());
    session().thoroughMode.store(thorough_->isChecked());
    fillRows(thorough_->isChecked());
    connect(thorough_, &QCheckBox::toggled, this, [this](bool on) {
        session().thoroughMode.store(on);
        rememberThoroughMode(on);
        fillRows(on);
    });
    auto* thoroughNote = new ui::CTransparentStatic(
        "* Thorough detection: exact lengths from each file's own structure, more variants, "
        "slower; a size changed from 2000 KB caps a file, else its structure decides",
        client());
    thoroughNote->setObjectName("thoroughNote");
    thoroughNote->setWordWrap(true);
    thoroughNote->setGeometry(duRect(15, 270, 340, 26));

    // Tab goes down the page to Next and Back, as the eye does.
    QWidget::setTabOrder(list_, selectAll_);
    QWidget::setTabOrder(selectAll_, toggle_);
    QWidget::setTabOrder(toggle_, thorough_);
    QWidget::setTabOrder(thorough_, next_);
    QWidget::setTabOrder(next_, back_);
}

bool CExtensionInfoDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress && !list_->editor()) {
        const auto* press = static_cast<QKeyEvent*>(event);
        if (press->key() == Qt::Key_Return || press->key() == Qt::Key_Enter) {
            next();
            return true;
        }
        if (press->key() == Qt::Key_Tab && (press->modifiers() & Qt::ControlModifier)) {
            next_->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return ui::CBDialog::eventFilter(watched, event);
}

bool CExtensionInfoDlg::clampSize(int row) {
    QTableWidgetItem* cell = list_->item(row, kSizeColumn);
    if (!cell) return true;
    const QString typed = cell->text().trimmed();
    bool corrected = false;
    sizeKbFromText(typed.toStdString(), &corrected);
    if (!corrected) return true;
    // The validator lets digits only through; a long run is simply too large.
    const qint64 value = typed.isEmpty() ? -1 : typed.left(12).toLongLong();
    const int32_t kept = value < 0 ? kDefaultSizeKb : value < kMinSizeKb ? kMinSizeKb : kMaxSizeKb;
    settingRows_ = true;
    cell->setText(QString::number(kept));
    settingRows_ = false;
    const std::string type = list_->item(row, 0)->text().toStdString();
    const std::string range =
        "sizes go from " + std::to_string(kMinSizeKb) + " to " + std::to_string(kMaxSizeKb) + " KB";
    const std::string said = value < 0 ? type + ": no Maximum Size was given (" + range + ")."
                                       : type + ": a Maximum Size of " + typed.toStdString() +
                                             " KB cannot be used (" + range + ").";
    prompter().showMessage(said + " It is set to " + std::to_string(kept) + " KB.",
                           MessageIcon::Exclamation);
    return false;
}

void CExtensionInfoDlg::fillRows(bool thorough) {
    list_->endEdit(true);
    // A row the user ticked or sized keeps its state when the rows change.
    struct Kept {
        Qt::CheckState check;
        QString size;
    };
    std::map<QString, Kept> kept;
    for (int r = 0; r < list_->rowCount(); ++r)
        kept[list_->item(r, 0)->text()] = {list_->item(r, 0)->checkState(), sizeText(r)};
    // With every row ticked, the rows that appear are ticked too.
    const bool all = list_->rowCount() > 0 && checkedCount() == list_->rowCount();
    const std::vector<CatalogueRow> rows = offeredRows(thorough);
    settingRows_ = true;
    list_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const QString name = QString::fromLatin1(rows[r].type.data(), rows[r].type.size());
        const auto old = kept.find(name);
        auto* type = new QTableWidgetItem(name);
        type->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        type->setCheckState(old != kept.end() ? old->second.check
                            : all             ? Qt::Checked
                                              : Qt::Unchecked);
        list_->setItem(r, 0, type);
        auto* description = new QTableWidgetItem(
            QString::fromLatin1(rows[r].description.data(), rows[r].description.size()));
        description->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        list_->setItem(r, 1, description);
        auto* size =
            new QTableWidgetItem(old == kept.end() ? QString(kDefaultSizeText) : old->second.size);
        size->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        list_->setItem(r, kSizeColumn, size);
    }
    settingRows_ = false;
    alignSelectAll();
}

bool CExtensionInfoDlg::isRowChecked(int row) const {
    const QTableWidgetItem* item = list_->item(row, 0);
    return item && item->checkState() == Qt::Checked;
}

void CExtensionInfoDlg::setRowChecked(int row, bool checked) {
    if (QTableWidgetItem* item = list_->item(row, 0))
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

QString CExtensionInfoDlg::sizeText(int row) const {
    const QTableWidgetItem* item = list_->item(row, kSizeColumn);
    return item ? item->text() : QString();
}

int CExtensionInfoDlg::checkedCount() const {
    int n = 0;
    for (int r = 0; r < list_->rowCount(); ++r) n += isRowChecked(r) ? 1 : 0;
    return n;
}

void CExtensionInfoDlg::alignSelectAll() {
    selectAll_->setChecked(checkedCount() == list_->rowCount());
}

void CExtensionInfoDlg::onSelectAllClicked(bool checked) {
    settingRows_ = true;
    for (int r = 0; r < list_->rowCount(); ++r) setRowChecked(r, checked);
    settingRows_ = false;
    alignSelectAll();
}

void CExtensionInfoDlg::toggle() {
    settingRows_ = true;
    for (int r = 0; r < list_->rowCount(); ++r) setRowChecked(r, !isRowChecked(r));
    settingRows_ = false;
    alignSelectAll();
}

void CExtensionInfoDlg::next() {
    list_->endEdit(true);
    // A corrected size is shown before any scan uses it.
    for (int r = 0; r < list_->rowCount(); ++r)
        if (isRowChecked(r) && !clampSize(r)) return;
    const bool all = selectAll_->isChecked();
    std::vector<SelectedType> selected;
    std::vector<std::string> names;
    for (int r = 0; r < list_->rowCount(); ++r) {
        if (!isRowChecked(r)) continue;
        // At most four characters of the type name, as the record holds.
        const std::string type = list_->item(r, 0)->text().left(4).toStdString();
        selected.push_back({type, sizeText(r).toStdString()});
        names.push_back(type);
    }
    Session& s = session();
    // The heading goes to the log even when nothing is ticked.
    appendLines(LogKind::Activity, typeSelectionBlock(all, names));
    s.thoroughMode.store(thorough_->isChecked());
    s.fileTypes = buildSelection(selected, thorough_->isChecked());
    // Corrected sizes go back into their cells.
    for (int r = 0, k = 0; r < list_->rowCount(); ++r) {
        if (!isRowChecked(r)) continue;
        list_->item(r, kSizeColumn)->setText(QString::fromStdString(selected[k++].sizeText));
    }
    if (selected.empty()) {
        prompter().showMessage("Select the Extention", MessageIcon::Error);
        return;
    }
    // The scan reads the chosen disk anew: it must still be the one the user saw.
    if (std::string problem = boundSourceProblem(); !problem.empty()) {
        prompter().showMessage(problem, MessageIcon::Error);
        s.fileTypes.clear();
        return;
    }
    closeDeviceHandle();
    std::unique_ptr<QDialog> results = makeResultsPage(this);
    if (results) ui::runPage(this, *results);
    s.fileTypes.clear();
}

void CExtensionInfoDlg::reject() {
    list_->endEdit(false);
    session().fileTypes.clear();
    ui::CBDialog::reject();
}

void runFileTypePage(QWidget* opener) {
    CExtensionInfoDlg page(opener);
    ui::runPage(opener, page);
}

}  // namespace kestrum
