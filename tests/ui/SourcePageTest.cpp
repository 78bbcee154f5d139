// The source page on real sources: the probe run for real, a FAT image on a loop
// device, a mounted ext4 filesystem, image folders; drive, disk and image
// selection switching; image registration as the next disk; the range rules;
// Next's messages, its log block and its hand-over in both modes; a source that
// cannot be opened; a registry store that fails.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sys/stat.h>

#include <filesystem>

#include "PageTestSupport.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "app/COrvDigitalMediaDlg.h"
#include "app/Session.h"
#include "disk/CPartitionInfoDlg.h"
#include "disk/DiskList.h"
#include "disk/SourceBinding.h"
#include "disk/SourceChoice.h"
#include "filetypes/CExtensionInfoDlg.h"
#include "imaging/CImageCreationDlg.h"
#include "platform/DeviceAccess.h"
#include "platform/Devices.h"
#include "platform/Folders.h"
#include "platform/Registry.h"
#include "ui/FolderChooser.h"
#include "ui/Shell.h"

using namespace kestrum;
using test::whenShown;

namespace {

constexpr int kFillMs = 30000;  // a deadline for a hung probe only

QStringList childTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
    return texts;
}

// By its text, or by its name alone for a disk (shown with model and size).
QTreeWidgetItem* childNamed(const QTreeWidgetItem* item, const QString& text) {
    for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->text(0) == text || item->child(i)->data(0, Qt::UserRole) == text)
            return item->child(i);
    return nullptr;
}

std::string readText(const std::string& path) {
    const auto bytes = test::readFile(path);
    return {bytes.begin(), bytes.end()};
}

void sparse(const std::string& path, uint64_t bytes) {
    test::writeFile(path, std::string());
    std::filesystem::resize_file(path, bytes);
}

// The folder is asked for on Enter (or a click), once that has been handled.
void chooseImageRoot(QTreeWidget* tree, const CPartitionInfoDlg& page) {
    tree->setCurrentItem(page.imageRoot());
    QTest::keyClick(tree, Qt::Key_Return);
    QCoreApplication::processEvents();
}

}  // namespace

class SourcePageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(writeInstallRegistry(KESTRUM_BIN_DIR, logs_.path()));
        loadStartupValues(session());  // the real probe beside the tests
        session().dataFolder.store(pictures_.path());
        setPrompter(&said_);
        said_.events = &events_;
        ui::setProcessEnd([this](int code) { events_.push_back("end " + std::to_string(code)); });
    }
    void cleanupTestCase() {
        setPrompter(nullptr);
        ui::setProcessEnd({});
    }
    void init() {
        said_.clear();
        events_.clear();
        typePageOpeners_.clear();
        CPartitionInfoDlg::setFileTypePageFactory(
            [this](QWidget* opener) { typePageOpeners_.push_back(opener); });
        ui::setFolderChooser({});
        Session& s = session();
        s.chooseSource(SourceSpec::disk(0));
        s.rangeStart = 0;
        s.rangeEnd = 0;
    }

    // --- the tree -----------------------------------------------------------

    void treeHoldsTheRootsOfItsModeAndWhatTheProbeFound_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("media recovery") << CPartitionInfoDlg::kMediaRecovery;
        QTest::newRow("disk imaging") << CPartitionInfoDlg::kDiskImaging;
    }
    void treeHoldsTheRootsOfItsModeAndWhatTheProbeFound() {
        QFETCH(int, mode);
        CPartitionInfoDlg page(mode);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        QCOMPARE(page.rootItem()->text(0), QString("My Computer"));
        QStringList roots{"Select Logical Drive", "Select Disk"};
        if (mode == CPartitionInfoDlg::kMediaRecovery)
            roots << "Select Image"
                  << "Select Image File";
        QCOMPARE(childTexts(page.rootItem()), roots);
        QCOMPARE(page.imageRoot() != nullptr, mode == CPartitionInfoDlg::kMediaRecovery);

        QStringList drives, disks;
        for (const auto& d : platform::logicalDrives())
            drives << QString::fromStdString(driveItemText(d));
        for (const auto& d : platform::physicalDisks())
            if (d.number < kMaxListedDisks) {
                // Model and size beside the name tell the card from the system disk.
                const std::string detail = diskDetail(d.number);
                disks << QString("Disk%1").arg(d.number) +
                             (detail.empty() ? "" : "  (" + QString::fromStdString(detail) + ")");
                if (d.sizeBytes > 0) QVERIFY(!detail.empty());
            }
        QCOMPARE(childTexts(page.logicalDriveRoot()), drives);
        QCOMPARE(childTexts(page.diskRoot()), disks);

        // The root is chosen: nothing to show, no range.
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        QCOMPARE(tree->currentItem(), page.rootItem());
        QCOMPARE(page.infoLines(), QStringList{" "});
        QVERIFY(!page.findChild<QCheckBox*>("rangeCheck")->isEnabled());
        QVERIFY(!page.findChild<QLineEdit*>("startEdit")->isEnabled());
    }

    void probedLoopDiskShowsItsFactsAndOpensTheImagingPage() {
        test::FatLoop fat(KESTRUM_TEST_DATA_DIR "/jpeg-exif.jpg");
        if (!fat.ok()) QSKIP(fat.why().c_str());
        CPartitionInfoDlg page(CPartitionInfoDlg::kDiskImaging);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        int n = -1;
        for (const auto& d : platform::physicalDisks())
            if (d.deviceNode == fat.node()) n = d.number;
        QVERIFY(n >= 0);
        QTreeWidgetItem* item = childNamed(page.diskRoot(), QString("Disk%1").arg(n));
        QVERIFY(item);
        // Its model and size beside its name tell it from the other disks.
        const QString shownAs = QString("Disk%1  (Loop device (%2), 4.0 MB)")
                                    .arg(n)
                                    .arg(QString::fromStdString(fat.image()));
        QCOMPARE(item->text(0), shownAs);
        page.findChild<QTreeWidget*>("sourceTree")->setCurrentItem(item);
        const QStringList expected{
            QString("Physical Disk Number : %1").arg(n),
            "Model   : Loop device (" + QString::fromStdString(fat.image()) + ")",
            "Media Type   : Fixed",
            "Cylinder   : 0",
            "Head   : 255",
            "Sectors Per Track   : 63",
            "Disk Size  : 4 MB"};
        QCOMPARE(page.infoLines(), expected);
        QCOMPARE(page.findChild<QLineEdit*>("startEdit")->text(), QString("0"));
        QCOMPARE(page.findChild<QLineEdit*>("endEdit")->text(), QString("8192"));

        // Next hands the page its three texts; Back on it brings this page back.
        page.show();
        QString root, chosen, info;
        auto shown = whenShown<CImageCreationDlg>([&](CImageCreationDlg* imaging) {
            auto* tree = imaging->findChild<QTreeWidget*>("sourceTree");
            root = tree->topLevelItem(0)->text(0);
            chosen = tree->currentItem()->text(0);
            info = imaging->findChild<QPlainTextEdit*>("sourceInfo")->toPlainText();
            imaging->findChild<QAbstractButton*>("backButton")->click();
        });
        page.findChild<QAbstractButton*>("nextButton")->click();
        QVERIFY(*shown);
        QCOMPARE(root, QString("Selected Disk"));
        QCOMPARE(chosen, shownAs);
        QCOMPARE(info, expected.join('\n'));
        QVERIFY(page.isVisible());
        QCOMPARE(session().selectedDevicePath(), "\\\\.\\PhysicalDrive" + std::to_string(n));
        QCOMPARE(platform::resolveDevicePath(session().selectedDevicePath()), fat.node());
        QCOMPARE(session().rangeEnd.load(), uint64_t{8192});
        QVERIFY(said_.messages.empty());
    }

    void mountedFilesystemIsALogicalDrive_data() {
        QTest::addColumn<QString>("label");
        QTest::newRow("plain label") << "KSRCTEST";
        QTest::newRow("label like a disk") << "Disk2";  // still a drive, not PhysicalDrive2
    }
    void mountedFilesystemIsALogicalDrive() {
        QFETCH(QString, label);
        test::MountedExt4 volume(label.toStdString(), 24);
        if (!volume.ok()) QSKIP(volume.why().c_str());
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        const auto drives = platform::logicalDrives();
        const auto drive = std::find_if(drives.begin(), drives.end(), [&](const auto& d) {
            return d.mountPoint == volume.mountPoint();
        });
        QVERIFY(drive != drives.end());
        const QString text = QString("%1 (%2:)").arg(label).arg(drive->letter);
        QTreeWidgetItem* item = childNamed(page.logicalDriveRoot(), text);
        QVERIFY2(item, qPrintable(childTexts(page.logicalDriveRoot()).join(", ")));
        page.findChild<QTreeWidget*>("sourceTree")->setCurrentItem(item);
        auto* list = page.findChild<QTreeWidget*>("infoList");
        QCOMPARE(list->headerItem()->text(0).trimmed(), QString("Drive Information"));
        const QStringList lines = page.infoLines();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], "Volume Name : " + label + " ");
        QCOMPARE(lines[1], QString("File System : ext4"));
        QVERIFY(lines[2].startsWith("Capacity : ") && lines[2].endsWith(" MB"));
        QCOMPARE(session().rangeEnd.load(), drive->totalBytes / 512);

        page.findChild<QAbstractButton*>("nextButton")->click();
        QCOMPARE(typePageOpeners_, std::vector<QWidget*>{&page});
        QCOMPARE(session().selectedDevicePath(), std::string("\\\\.\\") + drive->letter + ":");
        QCOMPARE(platform::resolveDevicePath(session().selectedDevicePath()), volume.node());
    }

    // --- image folders ------------------------------------------------------

    void imageFolderIsRegisteredAsTheNextDisk_data() {
        QTest::addColumn<QList<qint64>>("pieces");
        QTest::addColumn<int>("split");
        QTest::addColumn<QString>("size");
        QTest::newRow("one large file") << QList<qint64>{700000000} << 0 << "667 MB";
        QTest::newRow("pieces") << QList<qint64>{681574400, 1024} << 1 << "650 MB";
        QTest::newRow("one small file") << QList<qint64>{100} << 1 << "0 MB";
    }
    void imageFolderIsRegisteredAsTheNextDisk() {
        QFETCH(QList<qint64>, pieces);
        QFETCH(int, split);
        QFETCH(QString, size);
        test::TempDir folder;
        for (int k = 0; k < pieces.size(); ++k)
            sparse(folder.file("IMAGE" + std::to_string(k) + ".IMG"), pieces[k]);  // any case
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        const int next = page.diskRoot()->childCount();
        QString asked;
        ui::setFolderChooser([&](QWidget*, const QString& title) {
            asked = title;
            return QString::fromStdString(folder.path());
        });
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        chooseImageRoot(tree, page);
        QCOMPARE(asked, QString("Select Folder of Image File"));
        const QString path = QString::fromStdString(folder.file("Image0.img"));
        QCOMPARE(childTexts(page.imageRoot()), QStringList{path});
        QCOMPARE(tree->currentItem()->text(0), path);
        const QStringList lines = page.infoLines();
        QCOMPARE(lines.value(0), QString("Physical Disk Number : %1").arg(next));
        QCOMPARE(lines.value(1), "Model   : " + path);
        QCOMPARE(lines.value(2), QString("Media Type   : Image"));
        QCOMPARE(lines.value(6), "Disk Size  : " + size);
        QVERIFY(session().sourceSpec() == SourceSpec::imageFolder(folder.path() + "/", split != 0));

        // Drive, disk and image in turn: each choice reads its own source.
        tree->setCurrentItem(page.logicalDriveRoot()->child(0));
        QVERIFY(!session().sourceSpec().isImage());
        QVERIFY(page.infoLines().value(0).startsWith("Volume Name : "));
        tree->setCurrentItem(page.imageRoot()->child(0));
        QVERIFY(session().sourceSpec().isImage());
        QCOMPARE(page.infoLines(), lines);
        if (page.diskRoot()->childCount() > 0) {
            tree->setCurrentItem(page.diskRoot()->child(0));
            QVERIFY(!session().sourceSpec().isImage());
            QCOMPARE(page.infoLines().value(0), QString("Physical Disk Number : 0"));
            QCOMPARE(page.findChild<QTreeWidget*>("infoList")->headerItem()->text(0).trimmed(),
                     QString("Device Information"));
        }
    }

    void keysPassOverTheImageNodesWithoutAskingAndEnterAsks() {
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        int folderAsked = 0, fileAsked = 0;
        ui::setFolderChooser([&](QWidget*, const QString&) { return ++folderAsked, QString(); });
        ui::setFileChooser([&](QWidget*, const QString&) { return ++fileAsked, QString(); });
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        page.diskRoot()->setExpanded(false);
        tree->setCurrentItem(page.diskRoot());
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Down);
        QCoreApplication::processEvents();
        QCOMPARE(tree->currentItem(), page.imageFileRoot());
        QCOMPARE(folderAsked + fileAsked, 0);
        QVERIFY(
            page.infoLines().value(0).startsWith("Click or press Enter to choose an image file"));
        QTest::keyClick(tree, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(fileAsked, 1);
        QCOMPARE(folderAsked, 0);
        QCOMPARE(tree->currentItem(), page.rootItem());  // cancelled
        ui::setFileChooser({});
    }

    void anImageFileOfAnyNameIsTheSource() {
        test::TempDir folder;
        const std::string path = folder.file("phone card.dd");
        test::writePatternMedium(path, 2048, {0, 2047});
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        QString asked;
        ui::setFileChooser([&](QWidget*, const QString& title) {
            asked = title;
            return QString::fromStdString(path);
        });
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        tree->setCurrentItem(page.imageFileRoot());
        QTest::keyClick(tree, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(asked, QString("Select Image File"));
        QCOMPARE(childTexts(page.imageFileRoot()), QStringList{QString::fromStdString(path)});
        QCOMPARE(page.infoLines().value(1), "Model   : " + QString::fromStdString(path));
        QCOMPARE(page.infoLines().value(6), QString("Disk Size  : 1 MB"));
        QCOMPARE(page.findChild<QLineEdit*>("endEdit")->text(), QString("2048"));
        QVERIFY(session().sourceSpec() == SourceSpec::imageFile(path));
        QCOMPARE(sourceSectorCount(), std::optional<uint64_t>(2048));
        page.findChild<QAbstractButton*>("nextButton")->click();
        QVERIFY2(said_.messages.empty(), said_.last().c_str());
        QCOMPARE(typePageOpeners_.size(), size_t{1});
        // The scan reads the file itself, from its first sector to its last.
        std::vector<uint8_t> sector(kSectorSize);
        QCOMPARE(readSectors(2047, 1, sector.data(), session().selectedDevicePath()), 1);
        QCOMPARE(sector, test::patternSector(2047));

        // Another choice reads its own source: the file no longer counts.
        tree->setCurrentItem(page.logicalDriveRoot()->child(0));
        QVERIFY(!session().sourceSpec().isImage());
        ui::setFileChooser({});
    }

    void imageFolderCancelledOrWithoutAnImage() {
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        ui::setFolderChooser([](QWidget*, const QString&) { return QString(); });
        chooseImageRoot(tree, page);
        QCOMPARE(tree->currentItem(), page.rootItem());
        QVERIFY(page.infoLines().isEmpty());
        QVERIFY(said_.messages.empty());

        test::TempDir empty;
        ui::setFolderChooser(
            [&](QWidget*, const QString&) { return QString::fromStdString(empty.path()); });
        chooseImageRoot(tree, page);
        QCOMPARE(said_.last(), std::string("Image path not found. Please specify image path."));
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QCOMPARE(tree->currentItem(), page.rootItem());
        QCOMPARE(page.imageRoot()->childCount(), 0);
    }

    void clickedImageRootLeavesTheNewCurrentItemHighlighted() {
        test::TempDir empty, folder;
        sparse(folder.file("Image0.img"), 1 << 20);
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        // Cancel, a folder without an image, a folder with one.
        for (const std::string& chosen : {std::string(), empty.path(), folder.path()}) {
            ui::setFolderChooser(
                [&](QWidget*, const QString&) { return QString::fromStdString(chosen); });
            tree->setCurrentItem(page.diskRoot());
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                              tree->visualItemRect(page.imageRoot()).center());
            QCoreApplication::processEvents();
            QTreeWidgetItem* expected =
                chosen == folder.path() ? page.imageRoot()->child(0) : page.rootItem();
            QCOMPARE(tree->currentItem(), expected);
            QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{expected});
        }
    }

    // --- Next -----------------------------------------------------------------

    void nextNamesWhatToChoose_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("message");
        QTest::newRow("root") << "My Computer"
                              << "Select Logical Drive or Hard Disk";
        QTest::newRow("drives") << "Select Logical Drive"
                                << "Select Logical Drive";
        QTest::newRow("disks") << "Select Disk"
                               << "Select Hard Disk";
        QTest::newRow("images") << "Select Image"
                                << "Select Image";
    }
    void nextNamesWhatToChoose() {
        QFETCH(QString, item);
        QFETCH(QString, message);
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        ui::setFolderChooser([](QWidget*, const QString&) { return QString(); });
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        // Selecting "Select Image" asks for a folder and returns to the root, so
        // the item is made current without the selection handling.
        QTreeWidgetItem* target =
            item == "My Computer" ? page.rootItem() : childNamed(page.rootItem(), item);
        {
            const QSignalBlocker quiet(tree);
            tree->setCurrentItem(target);
        }
        page.findChild<QAbstractButton*>("nextButton")->click();
        QCOMPARE(said_.messages.size(), size_t{1});
        QCOMPARE(QString::fromStdString(said_.last()), message);
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QVERIFY(typePageOpeners_.empty());
    }

    void rangeRules_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty start") << ""
                                     << "100"
                                     << "Start sector is not valid.";
        QTest::newRow("word start") << "abc"
                                    << "100"
                                    << "Start sector is not valid.";
        QTest::newRow("negative start") << "-1"
                                        << "100"
                                        << "Start sector is not valid.";
        QTest::newRow("word end") << "0"
                                  << "x"
                                  << "End sector is not valid.";
        QTest::newRow("zero to zero") << "0"
                                      << "0"
                                      << "End sector should be bigger than start sector.";
        QTest::newRow("backwards") << "100"
                                   << "50"
                                   << "End sector should be bigger than start sector.";
        // 64-bit numbers reach the size check whole; the 1 MB image has 2048 sectors.
        QTest::newRow("beyond 32 bits")
            << "4294967296"
            << "5860533168"
            << "The Ending Range 5860533168 lies past the end of the source, which has 2048 "
               "sectors. Enter an Ending Range of at most 2048.";
        QTest::newRow("one past the end") << "0"
                                          << "2049"
                                          << "The Ending Range 2049 lies past the end of the "
                                             "source, which has 2048 sectors. Enter an Ending "
                                             "Range of at most 2048.";
        QTest::newRow("to the end") << "2047"
                                    << "2048" << QString();
        QTest::newRow("blanks around") << " 8 "
                                       << " 16" << QString();
    }
    void rangeRules() {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, message);
        test::TempDir folder;
        sparse(folder.file("Image0.img"), 1 << 20);
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        ui::setFolderChooser(
            [&](QWidget*, const QString&) { return QString::fromStdString(folder.path()); });
        chooseImageRoot(page.findChild<QTreeWidget*>("sourceTree"), page);
        auto* check = page.findChild<QCheckBox*>("rangeCheck");
        auto* startEdit = page.findChild<QLineEdit*>("startEdit");
        QVERIFY(check->isEnabled() && !startEdit->isEnabled());
        check->setChecked(true);
        QVERIFY(startEdit->isEnabled());
        startEdit->setText(start);
        page.findChild<QLineEdit*>("endEdit")->setText(end);
        page.findChild<QAbstractButton*>("nextButton")->click();
        if (!message.isEmpty()) {
            QCOMPARE(QString::fromStdString(said_.last()), message);
            QVERIFY(typePageOpeners_.empty());
            QCOMPARE(session().rangeEnd.load(), uint64_t{0});
            return;
        }
        QVERIFY(said_.messages.empty());
        QCOMPARE(typePageOpeners_.size(), size_t{1});
        QCOMPARE(session().rangeStart.load(), uint64_t{start.trimmed().toULongLong()});
        QCOMPARE(session().rangeEnd.load(), uint64_t{end.trimmed().toULongLong()});
        // Unticking the box disables the fields again.
        check->setChecked(false);
        QVERIFY(!startEdit->isEnabled());
    }

    void diskRangePastItsEndIsRefused() {
        test::FatLoop fat(KESTRUM_TEST_DATA_DIR "/jpeg-exif.jpg");
        if (!fat.ok()) QSKIP(fat.why().c_str());
        CPartitionInfoDlg page(CPartitionInfoDlg::kDiskImaging);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        int n = -1;
        for (const auto& d : platform::physicalDisks())
            if (d.deviceNode == fat.node()) n = d.number;
        QVERIFY(n >= 0);
        page.findChild<QTreeWidget*>("sourceTree")
            ->setCurrentItem(childNamed(page.diskRoot(), QString("Disk%1").arg(n)));
        page.findChild<QCheckBox*>("rangeCheck")->setChecked(true);
        page.findChild<QLineEdit*>("endEdit")->setText("600000");
        const auto windows = QApplication::topLevelWidgets().size();
        page.findChild<QAbstractButton*>("nextButton")->click();
        QCOMPARE(QString::fromStdString(said_.last()),
                 QString("The Ending Range 600000 lies past the end of the source, which has "
                         "8192 sectors. Enter an Ending Range of at most 8192."));
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);  // no imaging page
        QCOMPARE(session().rangeEnd.load(), uint64_t{0});
    }

    void aChosenDiskThatIsPulledIsNamedAndNeverReadInItsPlace() {
        if (std::string why = test::loopUnavailableReason(); !why.empty()) QSKIP(why.c_str());
        test::TempDir media, dest;
        sparse(media.file("card.img"), 1 << 20);
        sparse(media.file("other.img"), 2 << 20);
        auto card = std::make_unique<test::LoopDevice>(media.file("card.img"));
        test::LoopDevice other(media.file("other.img"));
        QVERIFY(card->ok() && other.ok());
        const std::string cardNode = card->node();
        CPartitionInfoDlg page(CPartitionInfoDlg::kDiskImaging);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        page.show();
        int n = -1;
        for (const auto& d : platform::physicalDisks())
            if (d.deviceNode == cardNode) n = d.number;
        QVERIFY(n >= 0);
        const QString disk = QString("Disk%1").arg(n);
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        tree->setCurrentItem(childNamed(page.diskRoot(), disk));

        // Pulled before Next: whatever moved into its number is not taken for it.
        closeDeviceHandle();
        card->detach();
        const auto windows = QApplication::topLevelWidgets().size();
        page.findChild<QAbstractButton*>("nextButton")->click();
        const std::string gone = disk.toStdString() + " (" + cardNode + ", loop device of " +
                                 media.file("card.img") + ", 1 MB) is gone";
        QVERIFY2(said_.last().rfind(gone, 0) == 0, said_.last().c_str());
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);

        // Back in again (wherever it lands) it is the same card; pulled once the
        // imaging page is open, Start names it and writes nothing.
        card = std::make_unique<test::LoopDevice>(media.file("card.img"));
        QVERIFY(card->ok());
        said_.clear();
        std::string atStart;
        bool imageWritten = true;
        auto shown = whenShown<CImageCreationDlg>([&](CImageCreationDlg* imaging) {
            closeDeviceHandle();
            card->detach();
            imaging->findChild<QLineEdit*>("destinationEdit")
                ->setText(QString::fromStdString(dest.path()));
            imaging->findChild<QAbstractButton*>("startButton")->click();
            atStart = said_.last();
            imageWritten = platform::fileExists(dest.file("Image0.img"));
            imaging->findChild<QAbstractButton*>("backButton")->click();
        });
        page.findChild<QAbstractButton*>("nextButton")->click();
        QVERIFY(*shown);
        QVERIFY2(atStart.rfind(disk.toStdString() + " (", 0) == 0 &&
                     atStart.find(") is gone") != std::string::npos,
                 atStart.c_str());
        QVERIFY(!imageWritten);
        unbindSource();
    }

    void nextWritesTheSourceBlockOfItsMode() {
        test::TempDir folder;
        sparse(folder.file("Image0.img"), 1 << 20);
        const std::string log = logs_.file("Activity Log.txt");
        std::remove(log.c_str());
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        ui::setFolderChooser(
            [&](QWidget*, const QString&) { return QString::fromStdString(folder.path()); });
        chooseImageRoot(page.findChild<QTreeWidget*>("sourceTree"), page);
        const QStringList lines = page.infoLines();
        page.findChild<QAbstractButton*>("nextButton")->click();
        QCOMPARE(typePageOpeners_.size(), size_t{1});
        const std::string expected =
            "\r\n\r\n\r\nMEDIA RECOVERY\r\n------\r\n\r\nSelected Image "
            "Information :\r\n" +
            folder.file("Image0.img") + "\r\n" +
            // each entry is cut at 200 bytes
            lines.join("\r\n").toStdString().substr(0, 200) +
            "\r\nStarting Range : 0\r\nEnding Range : 2048";
        QCOMPARE(readText(log), expected);
    }

    void nextWithoutTheFileTypePageStays() {
        CPartitionInfoDlg::setFileTypePageFactory({});
        test::TempDir folder;
        sparse(folder.file("Image0.img"), 1 << 20);
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        page.show();
        ui::setFolderChooser(
            [&](QWidget*, const QString&) { return QString::fromStdString(folder.path()); });
        chooseImageRoot(page.findChild<QTreeWidget*>("sourceTree"), page);
        page.findChild<QAbstractButton*>("nextButton")->click();
        QVERIFY(page.isVisible());
        QVERIFY(said_.messages.empty());
        QCOMPARE(session().rangeEnd.load(), uint64_t{2048});
    }

    void nextGoesOnToTheFileTypePageAndBack() {
        // As the application wires it: media recovery goes on to the type page.
        CPartitionInfoDlg::setFileTypePageFactory(runFileTypePage);
        test::TempDir folder;
        sparse(folder.file("Image0.img"), 1 << 20);
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        page.show();
        ui::setFolderChooser(
            [&](QWidget*, const QString&) { return QString::fromStdString(folder.path()); });
        chooseImageRoot(page.findChild<QTreeWidget*>("sourceTree"), page);
        // Each page opens where the one it replaces was, and Back returns the favour.
        page.move(123, 77);
        const QPoint sourceAt = page.pos();
        bool sawTypePage = false, sourceHidden = false;
        QPoint typesAt;
        QTimer::singleShot(200, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* types = qobject_cast<CExtensionInfoDlg*>(w);
                    types && types->isVisible()) {
                    sawTypePage = true;
                    sourceHidden = !page.isVisible();
                    typesAt = types->pos();
                    types->move(sourceAt + QPoint(40, 30));  // the user moved it
                    types->findChild<QAbstractButton*>("backButton")->click();
                }
        });
        page.findChild<QAbstractButton*>("nextButton")->click();
        QVERIFY(sawTypePage);
        QVERIFY(sourceHidden);
        QVERIFY(page.isVisible());
        QCOMPARE(typesAt, sourceAt);
        QCOMPARE(page.pos(), sourceAt + QPoint(40, 30));
        QCOMPARE(page.windowTitle().toStdString(), session().windowTitle.load());
    }

    void unreadableDiskIsExplainedOnNext() {
        int n = -1;
        std::string node;
        for (const auto& d : platform::physicalDisks())
            if (n < 0 && !platform::openProblem(d.deviceNode).empty()) {
                n = d.number;
                node = d.deviceNode;
            }
        if (n < 0) QSKIP("every disk of this machine can be opened by this user");
        CPartitionInfoDlg page(CPartitionInfoDlg::kDiskImaging);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        page.show();
        page.findChild<QTreeWidget*>("sourceTree")
            ->setCurrentItem(childNamed(page.diskRoot(), QString("Disk%1").arg(n)));
        const auto windows = QApplication::topLevelWidgets().size();
        page.findChild<QAbstractButton*>("nextButton")->click();
        const std::string said = said_.last();
        QVERIFY2(said.find(node) != std::string::npos, said.c_str());
        QVERIFY2(said.find(platform::openProblem(node)) != std::string::npos, said.c_str());
        // Who may not read it learns what would give access.
        QVERIFY2(said.find(::geteuid() == 0 ? "administrator" : "root") != std::string::npos,
                 said.c_str());
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QVERIFY(page.isVisible());
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    }

    // --- registry failure, Back, Escape, main window ---------------------------

    void failingProbeIsToldWithItsReason() {
        test::TempDir folder;
        const std::string probe = folder.file("GeomProbe");
        test::writeFile(probe, "#!/bin/sh\necho 'no disks for you' >&2\nexit 1\n");
        ::chmod(probe.c_str(), 0755);
        const std::string kept = session().applicationFolder.load();
        session().applicationFolder.store(folder.path());
        CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        session().applicationFolder.store(kept);
        QCOMPARE(page.diskRoot()->childCount(), 0);
        QVERIFY2(said_.last().find("no disks for you") != std::string::npos, said_.last().c_str());
        QVERIFY(events_.empty() || events_.back().rfind("end", 0) != 0);  // the page stays
    }

    void registryFailureIsToldBeforeTheProcessEnds() {
        test::TempDir dir;
        test::writeFile(dir.file("file"), "x");
        const std::string previous = std::getenv("KESTRUM_REGISTRY");
        ::setenv("KESTRUM_REGISTRY", dir.file("file/registry").c_str(), 1);
        {
            CPartitionInfoDlg page(CPartitionInfoDlg::kMediaRecovery);
            QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        }
        ::setenv("KESTRUM_REGISTRY", previous.c_str(), 1);
        QCOMPARE(events_.size(), size_t{2});
        QVERIFY2(events_[0].find("registry store") != std::string::npos, events_[0].c_str());
        QVERIFY2(events_[0].find("Not a directory") != std::string::npos, events_[0].c_str());
        QCOMPARE(events_[1], std::string("end 0"));
    }

    void backClosesThePageAndEscapeAsksToExit() {
        CPartitionInfoDlg page(CPartitionInfoDlg::kDiskImaging);
        QTRY_VERIFY_WITH_TIMEOUT(page.isTreeFilled(), kFillMs);
        QTimer::singleShot(0, &page, [&] {
            QTest::keyClick(&page, Qt::Key_Escape);
            QCOMPARE(said_.questions, std::vector<std::string>{"Are you sure you want to exit?"});
            QVERIFY(page.isVisible());
            page.findChild<QAbstractButton*>("backButton")->click();
        });
        QCOMPARE(page.exec(), int(QDialog::Rejected));
        QVERIFY(events_.empty());
    }

    void mainWindowOpensThePageInTheModeOfItsButton_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("images");
        QTest::newRow("Digital Media") << "digitalMediaButton" << true;
        QTest::newRow("Image Creation") << "imageCreationButton" << false;
    }
    void mainWindowOpensThePageInTheModeOfItsButton() {
        QFETCH(QString, button);
        QFETCH(bool, images);
        COrvDigitalMediaDlg::setSplashEnabled(false);
        COrvDigitalMediaDlg::setSourcePageFactory(CPartitionInfoDlg::create);
        COrvDigitalMediaDlg main;
        main.initDialog();
        main.show();
        bool offersImages = !images;
        auto shown = whenShown<CPartitionInfoDlg>([&](CPartitionInfoDlg* page) {
            offersImages = page->imageRoot() != nullptr;
            page->findChild<QAbstractButton*>("backButton")->click();
        });
        main.findChild<QAbstractButton*>(button)->click();
        QVERIFY(*shown);
        QCOMPARE(offersImages, images);
        QVERIFY(main.isVisible());
        COrvDigitalMediaDlg::setSourcePageFactory({});
    }

private:
    test::ScopedRegistry registry_;
    test::TempDir logs_, pictures_;
    test::RecordingPrompter said_;
    std::vector<std::string> events_;
    std::vector<QWidget*> typePageOpeners_;
};

QTEST_MAIN(SourcePageTest)
#include "SourcePageTest.moc"
