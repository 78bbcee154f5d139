#include "disk/CPartitionInfoDlg.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTreeWidget>

#include <cstdlib>

#include "app/Log.h"
#include "app/Reports.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "disk/SourceBinding.h"
#include "disk/SourceChoice.h"
#include "imaging/CImageCreationDlg.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "ui/CButtonST.h"
#include "ui/CTransparentStatic.h"
#include "ui/FolderChooser.h"
#include "ui/Shell.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

namespace {

CPartitionInfoDlg::FileTypePageRunner fileTypePageRunner;

const QString kRootText = "My Computer";
const QString kDriveRootText = "Select Logical Drive";
const QString kDiskRootText = "Select Disk";
const QString kImageRootText = "Select Image";
const QString kImageFileRootText = "Select Image File";
const QString kImageName = kSingleImageName;
// The list's heading keeps the blanks that centred it in its column.
const QString kDeviceHeading = QString(19, ' ') + "Device Information";
const QString kDriveHeading = QString(19, ' ') + "Drive Information";

std::string text(const QString& s) {
    return s.toStdString();
}

// A disk item shows its model and size beside its name; logs, messages and the
// disk number use the name alone.
QString itemName(const QTreeWidgetItem* item) {
    const QVariant name = item->data(0, Qt::UserRole);
    return name.isValid() ? name.toString() : item->text(0);
}

void refuse(const std::string& message) {
    prompter().showMessage(message, MessageIcon::Error);
}

// One column as wide as its longest line, so a long path scrolls instead of
// being cut, and never narrower than the view.
void fitColumn(QTreeWidget* view) {
    view->header()->setStretchLastSection(false);
    const QScrollBar* bar = view->verticalScrollBar();
    const int room = view->contentsRect().width() - (bar->isVisible() ? bar->width() : 0);
    view->resizeColumnToContents(0);
    if (view->columnWidth(0) < room) view->setColumnWidth(0, room);
}

}  // namespace

void CPartitionInfoDlg::setFileTypePageFactory(FileTypePageRunner runner) {
    fileTypePageRunner = std::move(runner);
}

std::unique_ptr<QDialog> CPartitionInfoDlg::create(int mode, QWidget* opener) {
    return std::make_unique<CPartitionInfoDlg>(mode, opener);
}

CPartitionInfoDlg::CPartitionInfoDlg(int mode, QWidget* parent)
    : ui::CBDialog(parent), mode_(mode) {
    ui::setUpPageFrame(this, "partitionInfoDlg");
    setWindowTitle(QString::fromStdString(session().windowTitle.load()));
    setWindowIcon(ui::appIcon());
    menu_ = ui::installMenu129(this);
    toolbar_ = ui::installToolbar(this);
    loadBackground("\\gui2.bmp");

    tree_ = new QTreeWidget(client());  // 1001
    tree_->setObjectName("sourceTree");
    tree_->setGeometry(duRect(12, 52, 196, 150));
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setIconSize(QSize(16, 16));
    tree_->setMouseTracking(true);

    list_ = new QTreeWidget(client());  // 1002
    list_->setObjectName("infoList");
    list_->setGeometry(duRect(218, 52, 220, 150));
    list_->setRootIsDecorated(false);
    list_->setColumnCount(1);
    list_->setHeaderLabels({kDeviceHeading});
    list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);

    rangeCheck_ = new QCheckBox(client());  // 1003
    rangeCheck_->setObjectName("rangeCheck");
    rangeCheck_->setGeometry(duRect(12, 211, 10, 10));
    rangeLabel_ = new ui::CTransparentStatic("Select Range", client());  // 1009
    rangeLabel_->setObjectName("rangeLabel");
    rangeLabel_->setGeometry(duRect(24, 212, 80, 9));
    rangeHint_ =
        new ui::CTransparentStatic("Enter Range to search for more Partitions", client());  // 1006
    rangeHint_->setObjectName("rangeHint");
    rangeHint_->setGeometry(duRect(24, 227, 200, 9));
    startLabel_ = new ui::CTransparentStatic("Starting Range  :", client());  // 1007
    startLabel_->setObjectName("startLabel");
    startLabel_->setGeometry(duRect(24, 244, 66, 9));
    startEdit_ = new QLineEdit(client());  // 1004
    startEdit_->setObjectName("startEdit");
    startEdit_->setGeometry(duRect(92, 242, 100, 12));
    endLabel_ = new ui::CTransparentStatic("Ending Range  :", client());  // 1008
    endLabel_->setObjectName("endLabel");
    endLabel_->setGeometry(duRect(208, 244, 62, 9));
    endEdit_ = new QLineEdit(client());  // 1005
    endEdit_->setObjectName("endEdit");
    endEdit_->setGeometry(duRect(272, 242, 100, 12));
    connect(rangeCheck_, &QCheckBox::toggled, this, [this](bool on) { setRangeFieldsEnabled(on); });

    next_ = new ui::CButtonST(client());  // 3
    next_->setObjectName("nextButton");
    next_->setGeometry(duRect(399, 279, 35, 33));
    next_->loadPictures("\\Next.bmp", ui::kToolbarKey, "\\NextA.bmp");
    next_->setToolTip("Next");
    back_ = new ui::CButtonST(client());  // 4
    back_->setObjectName("backButton");
    back_->setGeometry(duRect(363, 284, 24, 22));
    back_->loadPictures("\\Back.bmp", ui::kToolbarKey, "\\BackA.bmp");
    back_->setToolTip("Back");
    connect(next_, &ui::CButtonST::clicked, this, [this] { next(); });
    connect(back_, &ui::CButtonST::clicked, this, [this] { done(QDialog::Rejected); });

    menu_.recoverSelected->setEnabled(false);
    setRangeFieldsEnabled(false);

    driveIcon_ = QIcon(ui::loadPicture("\\Drive.png"));
    root_ = addItem(nullptr, kRootText);
    driveRoot_ = addItem(root_, kDriveRootText);
    diskRoot_ = addItem(root_, kDiskRootText);
    if (mode_ == kMediaRecovery) {
        imageRoot_ = addItem(root_, kImageRootText);
        imageFileRoot_ = addItem(root_, kImageFileRootText);
    }
    root_->setIcon(0, QIcon(ui::loadPicture("\\Computer.png")));
    root_->setExpanded(true);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { selectionChanged(current); });
    connect(tree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { activated(item); });
    connect(tree_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { activated(item); });

    // Without the install step's folder, the probe is looked for beside the program.
    std::string folder = session().applicationFolder.load();
    if (folder.empty()) folder = platform::programFolder();
    const std::string probe = platform::joinPath(folder, "GeomProbe");
    filler_ = std::thread([this, probe] {
        const SourceListing listing = listSources(probe);
        // The devices as the probe just numbered them: what the user will see.
        const Identities disks = diskIdentities();
        // Dropped by Qt if the page is gone by then.
        QMetaObject::invokeMethod(
            this, [this, listing, disks] { addListing(listing, disks); }, Qt::QueuedConnection);
    });
}

CPartitionInfoDlg::~CPartitionInfoDlg() {
    if (filler_.joinable()) filler_.join();
}

QTreeWidgetItem* CPartitionInfoDlg::addItem(QTreeWidgetItem* parent, const QString& itemText) {
    auto* item =
        parent ? new QTreeWidgetItem(parent, {itemText}) : new QTreeWidgetItem(tree_, {itemText});
    item->setIcon(0, driveIcon_);
    return item;
}

void CPartitionInfoDlg::addListing(const SourceListing& listing, const Identities& disks) {
    listedDisks_ = disks;
    for (const std::string& drive : listing.driveItems)
        addItem(driveRoot_, QString::fromStdString(drive));
    for (size_t i = 0; i < listing.diskItems.size(); ++i) {
        const QString name = QString::fromStdString(listing.diskItems[i]);
        const std::string detail = i < listing.diskDetails.size() ? listing.diskDetails[i] : "";
        QTreeWidgetItem* item = addItem(
            diskRoot_, detail.empty() ? name : name + "  (" + QString::fromStdString(detail) + ")");
        item->setData(0, Qt::UserRole, name);
    }
    driveRoot_->setExpanded(true);
    diskRoot_->setExpanded(true);
    fitColumn(tree_);
    tree_->scrollToItem(root_);
    // Selecting the root again reports no change, yet its state must show.
    if (tree_->currentItem() == root_)
        selectionChanged(root_);
    else
        tree_->setCurrentItem(root_);
    tree_->setFocus();
    treeFilled_ = true;
    emit treeFilled();
    if (listing.failure) {
        // Never silently: the user learns why before the process ends.
        refuse(listing.failure->message);
        ui::endProcess(listing.failure->exitCode);
    } else if (!listing.probeProblem.empty()) {
        // The drives and images still work; the user learns why no disk is there.
        prompter().showMessage(listing.probeProblem, MessageIcon::Exclamation);
    }
}

QStringList CPartitionInfoDlg::infoLines() const {
    QStringList lines;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) lines << list_->topLevelItem(i)->text(0);
    return lines;
}

void CPartitionInfoDlg::setInfo(const std::vector<std::string>& lines) {
    list_->clear();
    for (const std::string& line : lines)
        new QTreeWidgetItem(list_, {QString::fromStdString(line)});
    fitColumn(list_);
}

void CPartitionInfoDlg::setRangeFieldsEnabled(bool enabled) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{rangeHint_, startLabel_, endLabel_, startEdit_, endEdit_})
        w->setEnabled(enabled);
}

void CPartitionInfoDlg::selectionChanged(QTreeWidgetItem* item) {
    if (!item) return;
    startEdit_->clear();
    endEdit_->clear();
    rangeCheck_->setEnabled(true);
    rangeLabel_->setEnabled(true);
    if (!rangeCheck_->isChecked()) setRangeFieldsEnabled(false);

    const QString itemText = itemName(item);
    const QString parentText = item->parent() ? item->parent()->text(0) : QString();
    chosen_.reset();
    if (parentText == kDriveRootText) {
        session().source.store(SourceSpec{});
        if (itemText.size() >= 3)
            chosen_ = driveIdentity(itemText.at(itemText.size() - 3).toLatin1());
        showDriveInfo(itemText);
    } else if (parentText == kDiskRootText || parentText == kImageRootText) {
        if (itemText.endsWith(kImageName, Qt::CaseSensitive)) {
            showDiskInfo(selectImage(text(itemText)));
        } else {
            session().source.store(SourceSpec{});
            const int n = std::atoi(text(itemText).c_str() + 4);
            if (n >= 0 && n < static_cast<int>(listedDisks_.size())) chosen_ = listedDisks_[n];
            showDiskInfo(n);
        }
    } else if (parentText == kImageFileRootText) {
        showDiskInfo(selectImageFile(text(itemText)));
    } else {
        if (item == imageRoot_)
            setInfo({"Click or press Enter to choose the folder that holds Image0.img."});
        else if (item == imageFileRoot_)
            setInfo({"Click or press Enter to choose an image file",
                     "(.img, .dd, .raw, .iso, a ddrescue image...)."});
        else
            setInfo({" "});
        rangeCheck_->setChecked(false);
        rangeCheck_->setEnabled(false);
        rangeLabel_->setEnabled(false);
        setRangeFieldsEnabled(false);
    }
}

void CPartitionInfoDlg::showDriveInfo(const QString& itemText) {
    list_->setHeaderLabels({kDriveHeading});
    const SourceFacts facts = driveFacts(text(itemText));
    setInfo(facts.lines);
    if (facts.endSector) {
        startEdit_->setText("0");
        endEdit_->setText(QString::number(*facts.endSector));
        session().rangeStart.store(0);
        session().rangeEnd.store(*facts.endSector);
    }
}

void CPartitionInfoDlg::showDiskInfo(int n) {
    // After a drive the heading would still say "Drive Information".
    list_->setHeaderLabels({kDeviceHeading});
    const SourceFacts facts = diskFacts(n);
    setInfo(facts.lines);
    if (facts.endSector) {
        startEdit_->setText("0");
        endEdit_->setText(QString::number(*facts.endSector));
    }
}

void CPartitionInfoDlg::activated(QTreeWidgetItem* item) {
    if (asking_ || !item || (item != imageRoot_ && item != imageFileRoot_)) return;
    asking_ = true;
    // Asked once the click that chose the item is handled: a current item set
    // while the view still handles it leaves the clicked row highlighted.
    QMetaObject::invokeMethod(
        this,
        [this, item] {
            if (tree_->currentItem() == item) {
                if (item == imageRoot_)
                    chooseImageFolder();
                else
                    chooseImageFile();
            }
            asking_ = false;
        },
        Qt::QueuedConnection);
}

void CPartitionInfoDlg::chooseImageFile() {
    const QString path = ui::chooseFile(this, "Select Image File");
    if (path.isEmpty()) {
        tree_->setCurrentItem(root_);
        list_->clear();
        return;
    }
    if (!platform::fileExists(text(path)) && !platform::isBlockDevice(text(path))) {
        refuse("Image path not found. Please specify image path.");
        tree_->setCurrentItem(root_);
        return;
    }
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < imageFileRoot_->childCount() && !item; ++i)
        if (imageFileRoot_->child(i)->text(0) == path) item = imageFileRoot_->child(i);
    if (!item) item = addItem(imageFileRoot_, path);
    imageFileRoot_->setExpanded(true);
    fitColumn(tree_);
    tree_->setCurrentItem(item);
}

void CPartitionInfoDlg::chooseImageFolder() {
    const QString folder = ui::chooseFolder(this, "Select Folder of Image File");
    if (folder.isEmpty()) {
        tree_->setCurrentItem(root_);
        list_->clear();
        return;
    }
    const std::string path = platform::joinPath(text(folder), text(kImageName));
    if (!platform::findFileNoCase(text(folder), text(kImageName))) {
        refuse("Image path not found. Please specify image path.");
        tree_->setCurrentItem(root_);
        return;
    }
    QTreeWidgetItem* item = addItem(imageRoot_, QString::fromStdString(path));
    imageRoot_->setExpanded(true);
    fitColumn(tree_);
    tree_->setCurrentItem(item);
}

void CPartitionInfoDlg::next() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->parent() || item->parent() == root_) {
        const QString chosen = item ? item->text(0) : kRootText;
        if (chosen == kDiskRootText)
            refuse("Select Hard Disk");
        else if (chosen == kImageRootText)
            refuse("Select Image");
        else if (chosen == kImageFileRootText)
            refuse("Select Image File");
        else if (chosen == kDriveRootText)
            refuse("Select Logical Drive");
        else
            refuse("Select Logical Drive or Hard Disk");
        return;
    }

    uint64_t start = 0, end = 0;
    const std::string startText = text(startEdit_->text());
    const std::string endText = text(endEdit_->text());
    if (std::string message = checkRangeBoxes(startText, endText, start, end); !message.empty()) {
        refuse(message);
        return;
    }

    const std::string itemText = text(itemName(item));
    const QString parentText = item->parent()->text(0);
    Session& s = session();
    // Decided by the branch, as the selection is: a drive may be labelled "Disk2".
    if (parentText == kDiskRootText) {
        s.chooseSource(SourceSpec::disk(std::atoi(itemText.c_str() + 4)));
    } else if (parentText == kDriveRootText) {
        // "DATA (D:)": the letter inside the closing parenthesis.
        s.chooseSource(
            SourceSpec::drive(itemText.size() >= 3 ? itemText[itemText.size() - 3] : 'C'));
    }
    closeDeviceHandle();
    // DiskN is a position: hold it to the device that was listed there.
    if (!s.sourceSpec().isImage() && chosen_) {
        if (std::string problem = changedDeviceProblem(itemText, *chosen_); !problem.empty()) {
            refuse(problem);
            return;
        }
        bindSource(s.sourceSpec().devicePath, *chosen_, itemText);
    } else {
        unbindSource();
    }
    if (std::string problem = sourceOpenProblem(itemText); !problem.empty()) {
        refuse(problem);
        return;
    }
    if (const auto size = sourceSectorCount())
        if (std::string message = checkRangeEnd(end, *size); !message.empty()) {
            refuse(message);
            return;
        }
    s.rangeStart.store(start);
    s.rangeEnd.store(end);

    const QStringList lines = infoLines();
    std::vector<std::string> infoTexts;
    for (const QString& line : lines) infoTexts.push_back(text(line));
    appendLines(
        LogKind::Activity,
        sourceBlock(mode_ == kMediaRecovery ? WorkMode::MediaRecovery : WorkMode::DiskImaging,
                    text(parentText), itemText, infoTexts, startText, endText));

    if (mode_ == kDiskImaging) {
        QString changedParent = parentText;
        changedParent.replace("Select", "Selected");
        CImageCreationDlg page(lines.join("\r\n"), changedParent, item->text(0), this);
        ui::runPage(this, page);
    } else if (fileTypePageRunner) {
        fileTypePageRunner(this);
    }
}

void CPartitionInfoDlg::reject() {
    ui::confirmExit();
}

}  // namespace kestrum
