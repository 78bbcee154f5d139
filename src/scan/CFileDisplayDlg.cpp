#include "scan/CFileDisplayDlg.h"

#include <QChildEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QProgressBar>
#include <QTableView>
#include <QThread>
#include <QTreeWidgetItem>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

#include "app/Log.h"
#include "app/Prompter.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SourceBinding.h"
#include "preview/CMediaPlayer.h"
#include "preview/CPictureCtrl.h"
#include "preview/PreviewCopy.h"
#include "preview/PreviewKind.h"
#include "saving/CSavingDlg.h"
#include "scan/DamageMark.h"
#include "scan/ResultsText.h"
#include "scan/ScanDriver.h"
#include "ui/CButtonST.h"
#include "ui/CFolderTreeCtrl.h"
#include "ui/CTransparentStatic.h"
#include "ui/CWaitDlg.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

namespace {

constexpr int kTimer1Ms = 1000;
constexpr int kTimer2Ms = 500;
constexpr int kTimer3Ms = 100;
constexpr int kDrainMs = 40;
constexpr size_t kFillBatch = 2000;
constexpr size_t kScrollEvery = 75;

const QString kRootLabel = "Root";

QIcon treeIcon(const char* normal, const char* selected = nullptr) {
    QIcon icon;
    icon.addPixmap(ui::loadPicture(normal), QIcon::Normal);
    if (selected) icon.addPixmap(ui::loadPicture(selected), QIcon::Selected);
    return icon;
}

ui::CButtonST* navButton(QWidget* parent, const char* name, const QRect& at, const char* picture,
                         const char* hover, const QString& tip) {
    auto* button = new ui::CButtonST(parent);
    button->setObjectName(name);
    button->setGeometry(at);
    button->loadPictures(picture, ui::kToolbarKey, hover);
    button->setToolTip(tip);
    return button;
}

// The found record a list row stands for: the first with that type and name.
std::optional<FileInfo> findRecord(const std::string& type, const QString& name) {
    const std::string fileName = name.toStdString();
    std::optional<FileInfo> found;
    session().foundFiles.forEach([&](FileInfo& f) {
        if (!found && f.extName == type && f.fileName == fileName) found = f;
    });
    return found;
}

}  // namespace

CFileDisplayDlg::CFileDisplayDlg(QWidget* parent) : ui::CBDialog(parent) {
    ui::setUpPageFrame(this, "fileDisplayDlg");
    menu_ = ui::installMenu129(this);
    toolbar_ = ui::installToolbar(this);
    buildControls();

    timer1_.setInterval(kTimer1Ms);
    timer2_.setInterval(kTimer2Ms);
    timer3_.setInterval(kTimer3Ms);
    timer3_.setSingleShot(true);
    drainTimer_.setInterval(kDrainMs);
    connect(&timer1_, &QTimer::timeout, this, &CFileDisplayDlg::onTimer1);
    connect(&timer2_, &QTimer::timeout, this, &CFileDisplayDlg::onTimer2);
    connect(&timer3_, &QTimer::timeout, this, &CFileDisplayDlg::onTimer3);
    connect(&drainTimer_, &QTimer::timeout, this, &CFileDisplayDlg::drainPendingRows);

    allowGrowing();
    client()->installEventFilter(this);
    placeControls();
    ui::setUnsavedFilesCounter([this] { return unsavedCount(); });
}

CFileDisplayDlg::~CFileDisplayDlg() {
    closing_ = true;
    timer1_.stop();
    timer2_.stop();
    timer3_.stop();
    Session& s = session();
    if (s.resultsPage.load() == this && s.scanThread.running()) {
        // Back refuses while the scan runs and Exit ends the process, so only a
        // test gets here. The scan may be asking this thread something: serve it.
        s.scanStopRequested.store(1);
        pauseGate.resume();
        while (s.scanThread.running()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    previewThread().waitUntilIdle();
    listFillThread().waitUntilIdle();
    ResultsPage* self = this;
    s.resultsPage.compare_exchange_strong(self, nullptr);
    ui::setUnsavedFilesCounter({});
}

size_t CFileDisplayDlg::unsavedCount() const {
    // While the scan runs, leaving is refused or asked about anyway.
    if (!browsing_) return 0;
    const size_t found = session().foundFiles.size();
    return found > savedRecords_.size() ? found - savedRecords_.size() : 0;
}

void CFileDisplayDlg::placeControls() {
    const QSize design = ui::duSize(450, 315);
    const int dx = std::max(0, client()->width() - design.width());
    const int dy = std::max(0, client()->height() - design.height());
    const int listDy = dy / 3;  // the preview takes the larger share
    const auto grown = [](const QRect& r, int w, int h) { return r.adjusted(0, 0, w, h); };
    tree_->setGeometry(browsing_ ? grown(duRect(8, 50, 150, 217), 0, dy)
                                 : grown(duRect(8, 50, 150, 108), 0, listDy));
    list_->setGeometry(grown(duRect(165, 50, 255, 108), dx, listDy));
    picture_->setGeometry(grown(duRect(165, 163, 255, 104), dx, dy - listDy).translated(0, listDy));
    player_->setGeometry(grown(duRect(165, 163, 254, 103), dx, dy - listDy).translated(0, listDy));
    const std::pair<QWidget*, QRect> progressArea[] = {
        {group_, duRect(8, 163, 150, 104)},     {sectorLabel_, duRect(14, 169, 138, 9)},
        {sectorText_, duRect(14, 179, 138, 9)}, {filesLabel_, duRect(14, 191, 60, 9)},
        {filesText_, duRect(74, 191, 78, 9)},   {progress_, duRect(14, 203, 138, 9)},
        {rateText_, duRect(14, 213, 138, 9)},   {animation_, duRect(51, 224, 64, 40)}};
    for (const auto& [widget, at] : progressArea) widget->setGeometry(at.translated(0, listDy));
    saveButton_->setGeometry(duRect(399, 279, 35, 33).translated(dx, dy));
    stopButton_->setGeometry(duRect(399, 279, 35, 33).translated(dx, dy));
    backButton_->setGeometry(duRect(363, 284, 24, 22).translated(dx, dy));
    if (listHint_) listHint_->setGeometry(list_->viewport()->rect());
}

void CFileDisplayDlg::childEvent(QChildEvent* event) {
    // The saving dialog is this page's child while it runs: once built, its
    // outcome tells which ticked files were written.
    if (event->type() == QEvent::ChildPolished)
        if (auto* saving = qobject_cast<CSavingDlg*>(event->child()))
            connect(saving, &QDialog::finished, this, [this, saving] {
                const auto written = static_cast<size_t>(saving->run().savedCount.load());
                if (written == savingRecords_.size())
                    savedRecords_.insert(savingRecords_.begin(), savingRecords_.end());
            });
    ui::CBDialog::childEvent(event);
}

void CFileDisplayDlg::buildControls() {
    QWidget* area = client();
    saveTool_ = navButton(area, "saveToolButton", duRect(2, 7, 38, 30), "\\TSave.bmp",
                          "\\TSaveA.bmp", "Save");
    saveButton_ = navButton(area, "saveButton", duRect(399, 279, 35, 33), "\\Save.bmp",
                            "\\SaveA.bmp", "Save");
    stopButton_ = navButton(area, "stopButton", duRect(399, 279, 35, 33), "\\Stop.bmp",
                            "\\StopA.bmp", "Stop");
    backButton_ = navButton(area, "backButton", duRect(363, 284, 24, 22), "\\Back.bmp",
                            "\\BackA.bmp", "Back");
    connect(saveTool_, &ui::CButtonST::clicked, this, &CFileDisplayDlg::saveSelected);
    connect(saveButton_, &ui::CButtonST::clicked, this, &CFileDisplayDlg::saveSelected);
    connect(menu_.recoverSelected, &QAction::triggered, this, &CFileDisplayDlg::saveSelected);
    connect(stopButton_, &ui::CButtonST::clicked, this, &CFileDisplayDlg::confirmStop);
    connect(backButton_, &ui::CButtonST::clicked, this, &CFileDisplayDlg::goBack);

    tree_ = new ui::CFolderTreeCtrl(area);
    tree_->setObjectName("typeTree");  // 1001
    tree_->setGeometry(duRect(8, 50, 150, 108));
    tree_->setIconSize(QSize(16, 16));
    tree_->setRootIsDecorated(true);
    tree_->setItemsExpandable(true);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CFileDisplayDlg::showTypeFiles);
    connect(tree_, &ui::CFolderTreeCtrl::checkToggled, this, &CFileDisplayDlg::setTypeChecked);

    model_ = new CFoundFileModel(this);
    list_ = new QTableView(area);
    list_->setObjectName("fileList");  // 1002
    list_->setGeometry(duRect(165, 50, 255, 108));
    list_->setModel(model_);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    // Fixed row heights and column widths: a list of 100,000 rows then never
    // measures its rows.
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The name takes what the size leaves; the size fits its longest text.
    list_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->setColumnWidth(
        1, std::max(110,
                    list_->fontMetrics().horizontalAdvance("1023.99 MB (partial) - damaged") + 12));
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);
    connect(list_, &QTableView::clicked, this,
            [this](const QModelIndex& index) { onListClicked(index.row()); });
    connect(model_, &CFoundFileModel::rowCheckChanged, this, &CFileDisplayDlg::onRowCheckChanged);

    picture_ = new CPictureCtrl(area);  // 1010
    picture_->setGeometry(duRect(165, 163, 255, 104));
    player_ = new CMediaPlayer(area);  // 1037, over the picture control
    player_->setGeometry(duRect(165, 163, 254, 103));

    group_ = ui::makeGroupFrame(area, duRect(8, 163, 150, 104));
    group_->setObjectName("progressGroup");  // 1016
    sectorLabel_ = new ui::CTransparentStatic("Current Sector  : ", area);
    sectorLabel_->setObjectName("sectorLabel");  // 1006
    sectorLabel_->setGeometry(duRect(14, 169, 138, 9));
    sectorText_ = new ui::CTransparentStatic({}, area);
    sectorText_->setObjectName("sectorText");  // 1012
    sectorText_->setGeometry(duRect(14, 179, 138, 9));
    filesLabel_ = new ui::CTransparentStatic("File's Found  :", area);
    filesLabel_->setObjectName("filesLabel");  // 1007
    filesLabel_->setGeometry(duRect(14, 191, 60, 9));
    filesText_ = new ui::CTransparentStatic({}, area);
    filesText_->setObjectName("filesText");  // 1011
    filesText_->setGeometry(duRect(74, 191, 78, 9));
    progress_ = new QProgressBar(area);
    progress_->setObjectName("progressBar");  // 1013
    progress_->setGeometry(duRect(14, 203, 138, 9));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    rateText_ = new ui::CTransparentStatic({}, area);
    rateText_->setObjectName("rateText");
    animation_ = new QLabel(area);
    animation_->setObjectName("scanAnimation");  // 1024
    animation_->setAlignment(Qt::AlignCenter);
    movie_ = new QMovie(ui::picturePath("\\Scan.gif"), QByteArray(), this);
    animation_->setMovie(movie_);
}

void CFileDisplayDlg::initDialog() {
    if (initialised_) return;
    initialised_ = true;
    setWindowTitle(QString::fromStdString(session().windowTitle.load()));
    loadBackground("\\gui2.bmp");

    // 1. Scanning: nothing to save and no way back until the scan ends.
    menu_.recoverSelected->setEnabled(false);
    backButton_->hide();
    saveTool_->hide();
    saveButton_->hide();
    toolbar_.picture->show();
    // 2. The animation loops for as long as the scan runs.
    movie_->start();
    // 4. The tree: the root, and the pictures of its type nodes.
    rootItem_ = tree_->addItem(nullptr, kRootLabel);
    rootItem_->setIcon(0, treeIcon("\\Computer.png"));
    // 5. No preview yet.
    player_->setUiMode("Invisible");
    picture_->show();
    loadPicture(ui::picturePath("\\NoPreview.bmp").toStdString());
    previewReady.store(0);
    // 6, 7.
    timer1_.start();
    timer2_.start();
    scanStartTime_ = std::time(nullptr);
    rate_.emplace(session().rangeStart.load(), session().rangeEnd.load());
    startScan(*this);
}

int CFileDisplayDlg::exec() {
    initDialog();
    return ui::CBDialog::exec();
}

bool CFileDisplayDlg::loadPicture(const std::string& path) {
    return picture_->LoadFromFile(QString::fromStdString(path));
}

// --- the scan's progress ----------------------------------------------------

void CFileDisplayDlg::onTimer1() {
    // Whether the scan runs is looked at before its values, so the texts of the
    // tick that sees the end already hold the scan's last values.
    const ScanProgress p = scanProgress(*this);
    sectorText_->setText(QString::fromStdString(sectorProgressText(p.position, p.end)));
    filesText_->setText(QString::number(p.filesFound));
    progress_->setValue(static_cast<int>(p.percent));
    if (rate_) rateText_->setText(QString::fromStdString(rate_->text(p.position)));
    if (p.running) return;
    timer1_.stop();
    scanEndTime_ = std::time(nullptr);
    appendLines(LogKind::Activity, scanEndReport(*this, p.filesFound, scanStartTime_, scanEndTime_,
                                                 session().scanStopRequested.load() != 0));
}

QTreeWidgetItem* CFileDisplayDlg::findTypeNode(const std::string& extName) const {
    for (int i = 0; i < rootItem_->childCount(); ++i)
        if (labelNamesType(rootItem_->child(i)->text(0).toStdString(), extName))
            return rootItem_->child(i);
    return nullptr;
}

void CFileDisplayDlg::onTimer2() {
    Session& s = session();
    const bool ended = !s.scanThread.running();
    if (!s.foundFiles.empty() && previewReady.load() == 1) {
        const std::string path = tempPathBuffer.load();
        previewPath_.store(path);
        // Lowered only after the path is taken: the scan writes the next one then.
        previewReady.store(0);
        if (!loadPicture(path)) loadPicture(ui::picturePath("\\Corrpted.bmp").toStdString());
    }
    // The list's length does not change while the scan runs; extName and
    // foundCount of its records may be read meanwhile.
    for (const stExtInfo& record : s.fileTypes) {
        const int32_t count = foundCountOf(record);
        if (count <= 0) continue;
        const QString label = QString::fromStdString(typeNodeLabel(record.extName, count));
        if (QTreeWidgetItem* node = findTypeNode(record.extName)) {
            if (node->text(0) != label) node->setText(0, label);
        } else {
            QTreeWidgetItem* child = tree_->addItem(rootItem_, label);
            child->setIcon(0, treeIcon("\\Folder.png", "\\FolderOpen.png"));
            rootItem_->setExpanded(true);
        }
    }
    if (!ended) return;
    timer2_.stop();
    markDamagedBesideSessionImage();
    if (rootItem_->childCount() > 0) {
        tree_->setCurrentItem(rootItem_);
        tree_->setCurrentItem(rootItem_->child(0));  // lists the first type
    }
    switchToBrowsing();
}

void CFileDisplayDlg::switchToBrowsing() {
    toolbar_.picture->hide();
    stopButton_->hide();
    progress_->hide();
    sectorLabel_->hide();
    filesLabel_->hide();
    sectorText_->hide();
    filesText_->hide();
    rateText_->hide();
    group_->hide();
    movie_->stop();
    animation_->hide();
    backButton_->show();
    saveTool_->show();
    saveButton_->show();
    menu_.recoverSelected->setEnabled(true);
    browsing_ = true;
    placeControls();  // the progress area is gone: the tree takes its place
}

void CFileDisplayDlg::selectFirstTypeOnStop() {
    // The scan thread waits while the UI thread selects, so the selection sees
    // the scan still running and lists nothing; the timers list it afterwards.
    if (closing_) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!closing_ && rootItem_ && rootItem_->childCount() > 0)
                tree_->setCurrentItem(rootItem_->child(0));
        },
        Qt::BlockingQueuedConnection);
}

void CFileDisplayDlg::confirmStop() {
    Session& s = session();
    if (!s.scanThread.running()) return;
    movie_->stop();
    pauseGate.pause();
    timer1_.stop();
    timer2_.stop();
    if (prompter().confirm("Are you sure you want to stop this process?")) {
        s.scanStopRequested.store(1);
        progress_->hide();
        stopButton_->hide();
    }
    picture_->update();
    movie_->start();
    timer1_.start();
    timer2_.start();
    pauseGate.resume();
}

// --- listing a type ---------------------------------------------------------

QTreeWidgetItem* CFileDisplayDlg::selectedItem() const {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    return selected.isEmpty() ? tree_->currentItem() : selected.first();
}

void CFileDisplayDlg::showTypeFiles() {
    if (showingTypeFiles_ || listFillThread().running() || !rootItem_) return;
    QTreeWidgetItem* item = selectedItem();
    if (!item) return;
    showingTypeFiles_ = true;
    model_->clear();
    const QString parentLabel = item->parent() ? item->parent()->text(0) : QString();
    // An empty list during the scan is not "no files": say when they come.
    setListHint(parentLabel == kRootLabel && session().scanThread.running()
                    ? "Files are listed when the scan ends."
                    : QString());
    if (parentLabel == kRootLabel) {
        startListFill(item->text(0));
        tree_->setFocus();
        if (model_->rowCount() > 0) {
            currentRow_ = 0;
            selectRow(0);
            previewRow(0);
        }
    } else {
        loadPicture(ui::picturePath("\\SelectFile.bmp").toStdString());
    }
    tree_->setCurrentItem(item);
    showingTypeFiles_ = false;
}

void CFileDisplayDlg::setListHint(const QString& text) {
    if (!listHint_) {
        if (text.isEmpty()) return;
        listHint_ = new QLabel(list_->viewport());
        listHint_->setObjectName("listHint");
        listHint_->setAlignment(Qt::AlignCenter);
        listHint_->setWordWrap(true);
    }
    listHint_->setText(text);
    listHint_->setGeometry(list_->viewport()->rect());
    listHint_->setVisible(!text.isEmpty());
}

bool CFileDisplayDlg::startListFill(const QString& label) {
    if (session().scanThread.running() || listFillThread().running()) return false;
    selectedTypeLabel_ = label;
    if (isMediaLabel(label.toStdString())) player_->setUiMode("Full");
    {
        std::lock_guard lock(pendingLock_);
        pending_.clear();
    }
    const std::string type = label.toStdString();
    if (!listFillThread().start([this, type] { fillFileList(type); })) return false;
    drainTimer_.start();
    ui::CWaitDlg wait(this);
    wait.exec();
    drainTimer_.stop();
    drainPendingRows();  // the worker has ended: whatever it left
    list_->scrollToTop();
    return true;
}

void CFileDisplayDlg::fillFileList(const std::string& label) {
    // The count first: records appended later are not walked.
    const size_t count = session().foundFiles.size();
    std::vector<FileInfo> records = session().foundFiles.snapshot();
    if (records.size() > count) records.resize(count);
    std::vector<PendingRow> batch;
    auto hand = [&] {
        std::lock_guard lock(pendingLock_);
        for (PendingRow& r : batch) pending_.push_back(std::move(r));
        batch.clear();
    };
    for (size_t i = 0; i < records.size(); ++i) {
        const FileInfo& f = records[i];
        if (!labelNamesType(label, f.extName)) continue;
        batch.push_back(
            {{i, QString::fromLatin1(f.fileName), QString::fromStdString(fileSizeText(f)),
              f.checked != 0, f.partial, f.damaged, isJoined(f)},
             i % kScrollEvery == 0});
        if (batch.size() >= kFillBatch) hand();
    }
    hand();
}

void CFileDisplayDlg::drainPendingRows() {
    std::vector<PendingRow> taken;
    {
        std::lock_guard lock(pendingLock_);
        taken.swap(pending_);
    }
    if (taken.empty()) return;
    const int first = model_->rowCount();
    int follow = -1;
    std::vector<CFoundFileModel::Row> rows;
    rows.reserve(taken.size());
    for (size_t k = 0; k < taken.size(); ++k) {
        if (taken[k].scroll) follow = first + static_cast<int>(k);
        rows.push_back(std::move(taken[k].row));
    }
    model_->appendRows(std::move(rows));
    if (follow >= 2) list_->scrollTo(model_->index(follow - 2, 0));
}

// --- rows: clicks, keys and ticks --------------------------------------------

void CFileDisplayDlg::selectRow(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    const QModelIndex index = model_->index(row, 0);
    list_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CFileDisplayDlg::onListClicked(int row) {
    // A click that ticked a box is about the tick, not the preview.
    if (checkClicked_) {
        checkClicked_ = false;
        return;
    }
    if (waiting_ && row >= 0) {
        pendingRow_ = row;
        return;
    }
    if (session().scanThread.running() || previewThread().running() || row < 0) return;
    currentRow_ = row;
    previewRow(row);
    selectRow(currentRow_);  // a row asked for during the wait may have followed
    list_->setFocus();
}

bool CFileDisplayDlg::onArrowKey(int key) {
    const bool remember = waiting_;
    if (!remember &&
        (session().scanThread.running() || previewThread().running() || handlingArrow_))
        return true;
    const int mark = list_->currentIndex().isValid() ? list_->currentIndex().row() : -1;
    int row = -1;
    if (key == Qt::Key_Down && mark + 1 < model_->rowCount()) row = mark + 1;
    if (key == Qt::Key_Up && mark > 0) row = mark - 1;
    if (row < 0) return true;
    if (remember) {
        // The mark moves at once; the preview follows when the box closes.
        pendingRow_ = row;
        selectRow(row);
        return true;
    }
    handlingArrow_ = true;
    currentRow_ = row;
    previewRow(row);
    selectRow(currentRow_);
    list_->setFocus();
    handlingArrow_ = false;
    return true;
}

bool CFileDisplayDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client() && event->type() == QEvent::Resize) placeControls();
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) return onArrowKey(key);
    }
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress)
        checkClicked_ = false;
    return ui::CBDialog::eventFilter(watched, event);
}

void CFileDisplayDlg::alignAncestors(QTreeWidgetItem* item) {
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) {
        bool all = true;
        for (int i = 0; i < up->childCount() && all; ++i)
            all = ui::CFolderTreeCtrl::isChecked(up->child(i));
        ui::CFolderTreeCtrl::setChecked(up, all);
    }
}

void CFileDisplayDlg::onRowCheckChanged(int row, bool checked) {
    checkClicked_ = true;
    if (session().scanThread.running()) return;
    if (QTreeWidgetItem* node = selectedItem(); node && node != rootItem_) {
        ui::CFolderTreeCtrl::setChecked(node, checked || model_->checkedCount() > 0);
        alignAncestors(node);
    }
    session().foundFiles.setChecked(model_->row(row).index, checked);
}

void CFileDisplayDlg::setTypeChecked(QTreeWidgetItem*, int state) {
    Session& s = session();
    if (s.scanThread.running() || listFillThread().running()) return;
    QTreeWidgetItem* item = selectedItem();
    if (!item) return;
    const std::string label = item->text(0).toStdString();
    if (item != rootItem_) {
        s.foundFiles.forEach([&](FileInfo& f) {
            if (labelNamesType(label, f.extName)) f.checked = state;
        });
        model_->clear();
        startListFill(item->text(0));
    } else {
        s.foundFiles.forEach([&](FileInfo& f) { f.checked = state; });
    }
}

// --- preview -----------------------------------------------------------------

void CFileDisplayDlg::previewRow(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    const CFoundFileModel::Row& listed = model_->row(row);
    QTreeWidgetItem* node = selectedItem();
    const PreviewType type = previewTypeFor(node ? node->text(0).toStdString() : std::string());
    if (type.kind == PreviewKind::None) {
        player_->stop();
        player_->setUiMode("Invisible");
        picture_->show();
        loadPicture(ui::picturePath("\\Preview.bmp").toStdString());
        return;
    }
    if (type.kind == PreviewKind::Picture) {
        player_->stop();
        player_->setUiMode("Invisible");
        picture_->show();
    } else {
        picture_->hide();
    }
    const std::optional<FileInfo> record = findRecord(type.type, listed.name);
    if (!record) return;
    if (std::string problem = boundSourceProblem(); !problem.empty()) {
        prompter().showMessage(problem, MessageIcon::Error);
        return;
    }
    previewFile_ = *record;
    currentRow_ = row;
    bool started = false;
    if (type.kind == PreviewKind::Picture) {
        started = previewThread().start([this] { extractPicture(); });
    } else {
        // The player lets go of the previous file on this thread, before the
        // worker replaces it.
        player_->close();
        started = previewThread().start([this] { extractMedia(); });
    }
    if (!started) return;
    ui::CWaitDlg wait(this);
    waiting_ = true;
    wait.waitTakingInput([this](QObject* to, QEvent* e) { return takeInputDuringWait(to, e); });
    waiting_ = false;
    picture_->update();
    actOnInputDuringWait();
}

bool CFileDisplayDlg::takeInputDuringWait(QObject* receiver, QEvent* event) {
    auto* w = qobject_cast<QWidget*>(receiver);
    if (w && (w == list_ || list_->isAncestorOf(w))) return event->type() != QEvent::Close;
    const bool press =
        event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    if (press && receiver == tree_->viewport()) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            if (QTreeWidgetItem* box = tree_->boxAt(mouse->position().toPoint()))
                pendingBox_ = box;
            else if (QTreeWidgetItem* label = tree_->itemAt(mouse->position().toPoint()))
                pendingType_ = label;
        }
    }
    return false;
}

void CFileDisplayDlg::actOnInputDuringWait() {
    const int row = std::exchange(pendingRow_, -1);
    // A type's box lists that type anew: a row of the old listing means nothing then.
    if (QTreeWidgetItem* box = std::exchange(pendingBox_, nullptr)) {
        pendingType_ = nullptr;
        tree_->clickBox(box);
        return;
    }
    // Another type chosen meanwhile is listed: its rows replace these.
    if (QTreeWidgetItem* type = std::exchange(pendingType_, nullptr);
        type && type != selectedItem()) {
        tree_->setCurrentItem(type);
        return;
    }
    if (row < 0 || row >= model_->rowCount() || row == currentRow_) return;
    currentRow_ = row;
    selectRow(row);
    previewRow(row);
    selectRow(currentRow_);
}

bool CFileDisplayDlg::copyPreviewFile(std::string& path) {
    const FileInfo f = previewFile_;
    path = tempPreviewPath(f.extName);
    if (path.empty()) {
        appendLog(LogKind::Activity,
                  "Preview refused: no private temporary folder could be made under "
                  "$XDG_RUNTIME_DIR or $TMPDIR (or /tmp) for " +
                      std::string(f.fileName));
        return false;
    }
    bool createFailed = false;
    // A short copy is still shown: a picture that does not decode shows the
    // damaged-picture placeholder.
    copyFoundFile(f, path, &createFailed);
    if (createFailed) return false;
    previewPath_.store(path);
    return true;
}

void CFileDisplayDlg::extractPicture() {
    std::string path;
    if (!copyPreviewFile(path)) {
        loadPicture(ui::picturePath("\\NoPreview.bmp").toStdString());
        return;
    }
    if (!loadPicture(path)) loadPicture(ui::picturePath("\\Corrpted.bmp").toStdString());
    QMetaObject::invokeMethod(
        this, [this] { selectRow(currentRow_); }, Qt::QueuedConnection);
}

void CFileDisplayDlg::extractMedia() {
    std::string path;
    if (!copyPreviewFile(path)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                picture_->show();
                loadPicture(ui::picturePath("\\NoPreview.bmp").toStdString());
            },
            Qt::QueuedConnection);
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            timer3_.start();
            selectRow(currentRow_);
        },
        Qt::QueuedConnection);
}

void CFileDisplayDlg::onTimer3() {
    player_->setUrl(QString::fromStdString(previewPath_.load()));
    player_->play();
}

// --- leaving -----------------------------------------------------------------

void CFileDisplayDlg::saveSelected() {
    savingRecords_.clear();
    size_t index = 0;
    session().foundFiles.forEach([&](FileInfo& f) {
        if (f.checked != 0) savingRecords_.push_back(index);
        ++index;
    });
    SaveSelected(this);
}

void CFileDisplayDlg::goBack() {
    Session& s = session();
    if (s.scanThread.running()) {
        prompter().showMessage("Process is running.", MessageIcon::Exclamation);
        return;
    }
    // Back shows up with the 500 ms timer; the 1000 ms one may not have written
    // the scan's summary yet, and would not after the page has closed.
    if (timer1_.isActive()) onTimer1();
    if (const size_t unsaved = unsavedCount();
        unsaved > 0 && !prompter().confirm(ui::unsavedFilesWarning(unsaved) +
                                           "\nAre you sure you want to go back?"))
        return;
    s.foundFiles.clear();
    player_->close();
    const std::string path = previewPath_.load();
    if (!path.empty()) std::remove(path.c_str());
    ui::CBDialog::done(QDialog::Rejected);
}

void CFileDisplayDlg::reject() {
    ui::confirmExit();
}

}  // namespace kestrum
