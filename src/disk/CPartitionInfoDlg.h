// The first page of both workflows (dialog 103): the tree of logical drives,
// disks and, for a recovery, image folders; the facts of the chosen source; the
// sector range; and Next into the file-type or the image-creation page.
#pragma once

#include <QIcon>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/DeviceIdentity.h"
#include "ui/CBDialog.h"
#include "ui/PageCommands.h"

class QCheckBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrum {

struct SourceListing;

namespace ui {
class CButtonST;
class CTransparentStatic;
}  // namespace ui

class CPartitionInfoDlg : public ui::CBDialog {
    Q_OBJECT
public:
    static constexpr int kDiskImaging = 0;
    static constexpr int kMediaRecovery = 1;

    // Runs the file-type page of a media recovery: builds it over opener and runs
    // it with ui::runPage(opener, page). Until one is installed, Next in
    // media-recovery mode stores the choice, writes the log and stays.
    using FileTypePageRunner = std::function<void(QWidget* opener)>;
    static void setFileTypePageFactory(FileTypePageRunner runner);

    // The page as the main window's source-page factory builds it.
    static std::unique_ptr<QDialog> create(int mode, QWidget* opener);

    // Starts filling the tree on a worker at once.
    explicit CPartitionInfoDlg(int mode, QWidget* parent = nullptr);
    ~CPartitionInfoDlg() override;

    int mode() const { return mode_; }
    // True once the worker's listing is in the tree.
    bool isTreeFilled() const { return treeFilled_; }
    QStringList infoLines() const;

    QTreeWidgetItem* rootItem() const { return root_; }
    QTreeWidgetItem* logicalDriveRoot() const { return driveRoot_; }
    QTreeWidgetItem* diskRoot() const { return diskRoot_; }
    QTreeWidgetItem* imageRoot() const { return imageRoot_; }          // null when imaging
    QTreeWidgetItem* imageFileRoot() const { return imageFileRoot_; }  // null when imaging

signals:
    void treeFilled();

public slots:
    // Cancel, Escape and the close box ask whether to exit; Back closes the page.
    void reject() override;

private:
    using Identities = std::vector<std::optional<platform::DeviceIdentity>>;
    void addListing(const SourceListing& listing, const Identities& disks);
    QTreeWidgetItem* addItem(QTreeWidgetItem* parent, const QString& text);
    void selectionChanged(QTreeWidgetItem* item);
    void showDriveInfo(const QString& itemText);
    void showDiskInfo(int n);
    void chooseImageFolder();
    void chooseImageFile();
    // A click, Enter or a double click on an item: the image nodes ask for their
    // image then, never when the keyboard merely passes over them.
    void activated(QTreeWidgetItem* item);
    void setInfo(const std::vector<std::string>& lines);
    void setRangeFieldsEnabled(bool enabled);
    void next();

    int mode_;
    bool treeFilled_ = false;
    std::thread filler_;

    ui::Menu129 menu_;
    ui::Toolbar toolbar_;
    QTreeWidget* tree_;
    QTreeWidget* list_;
    QCheckBox* rangeCheck_;
    ui::CTransparentStatic* rangeLabel_;
    ui::CTransparentStatic* rangeHint_;
    ui::CTransparentStatic* startLabel_;
    ui::CTransparentStatic* endLabel_;
    QLineEdit* startEdit_;
    QLineEdit* endEdit_;
    ui::CButtonST* next_;
    ui::CButtonST* back_;

    QTreeWidgetItem* root_ = nullptr;
    QTreeWidgetItem* driveRoot_ = nullptr;
    QTreeWidgetItem* diskRoot_ = nullptr;
    QTreeWidgetItem* imageRoot_ = nullptr;
    QTreeWidgetItem* imageFileRoot_ = nullptr;
    bool asking_ = false;  // a chooser is open or about to be
    QIcon driveIcon_;
    // The disks as they were listed, and the device behind the chosen item.
    Identities listedDisks_;
    std::optional<platform::DeviceIdentity> chosen_;
};

}  // namespace kestrum
