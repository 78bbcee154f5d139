// The media-recovery workflow end to end on an image of real files: the file-type
// page runs the scan and empties its list again; the results page shows progress
// and a live thumbnail, counts per type and the summary in the activity log,
// lists a type, previews pictures and plays audio, takes ticks by row, type node
// and root, saves byte for byte, fills a list of 100,000 files, and stops on
// request with the progress counted from the range's start.
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMediaPlayer>
#include <QMessageBox>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableView>
#include <QTest>

#include <memory>

#include "RecoveryTestSupport.h"
#include "UiTestSupport.h"
#include "app/Log.h"
#include "app/Reports.h"
#include "filetypes/CExtensionInfoDlg.h"
#include "filetypes/Catalogue.h"
#include "platform/Folders.h"
#include "preview/CMediaPlayer.h"
#include "preview/CPictureCtrl.h"
#include "preview/PreviewCopy.h"
#include "preview/PreviewKind.h"
#include "saving/CSavingDlg.h"
#include "scan/CFileDisplayDlg.h"
#include "scan/CFoundFileModel.h"
#include "scan/DetectionSetting.h"
#include "scan/ResultsText.h"
#include "ui/CButtonST.h"
#include "ui/CFolderTreeCtrl.h"
#include "ui/CMessageDlg.h"
#include "ui/CWaitDlg.h"
#include "ui/QtPrompter.h"
#include "ui/Shell.h"
#include "ui/Skin.h"

using namespace kestrum;
using namespace kestrum::test;
using ui::CFolderTreeCtrl;

namespace {

constexpr int kScanTimeoutMs = 60000;

TypeList allTypes() {
    std::vector<SelectedType> rows;
    for (const CatalogueRow& r : catalogueRows())
        rows.push_back({std::string(r.type), kDefaultSizeText});
    return buildSelection(rows);
}

QByteArray pictureFile(const char* name) {
    return bytesOf(readFile(ui::picturePath(name).toStdString()));
}

QTreeWidgetItem* typeNode(CFileDisplayDlg& page, const std::string& ext) {
    QTreeWidgetItem* root = page.rootItem();
    for (int i = 0; i < root->childCount(); ++i)
        if (labelNamesType(root->child(i)->text(0).toStdString(), ext)) return root->child(i);
    return nullptr;
}

void clickBox(CFolderTreeCtrl* tree, QTreeWidgetItem* item) {
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->checkBoxRect(item).center());
}

void clickRowBox(QTableView* list, int row) {
    // The check indicator sits at the left of the first cell.
    const QRect cell = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(cell.left() + 10, cell.center().y()));
}

void clickRow(QTableView* list, int row) {
    const QRect cell = list->visualRect(list->model()->index(row, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
}

// The lines of the activity log from the last occurrence of first on.
std::vector<std::string> logLinesFrom(const std::string& first) {
    const std::string text = readText(logPath(LogKind::Activity));
    const size_t at = text.rfind(first);
    std::vector<std::string> lines;
    if (at == std::string::npos) return lines;
    size_t pos = at;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// The last line of the latest scan summary: "Analysing Completed" or "Aborted".
std::string lastSummaryOutcome() {
    const std::vector<std::string> lines = logLinesFrom("Analysing Files Information :");
    return lines.size() > 5 ? lines[5] : std::string();
}

int summaryCount() {
    const std::string text = readText(logPath(LogKind::Activity));
    int n = 0;
    for (size_t at = text.find("Analysing Files Information :"); at != std::string::npos;
         at = text.find("Analysing Files Information :", at + 1))
        ++n;
    return n;
}

}  // namespace

class RecoveryWorkflowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
        QVERIFY(writeInstallRegistry(app_.path(), logs_.path()));
        QVERIFY(rememberThoroughMode(false));  // the classic rules, asked for
        loadStartupValues(session());
        session().dataFolder.store(installedDataFolder());
        prompter_ = std::make_unique<ui::QtPrompter>();
        setPrompter(prompter_.get());
        ui::setProcessEnd([](int) { QFAIL("the process would have ended"); });
        ui::setUrlOpener([](const QUrl&) { return true; });
        image_ = buildTestImage(imageDir_.path(), true);
        useImage(image_);
        setFolderChooser([this](QWidget*, const QString& title) {
            chooserTitle_ = title;
            return QString::fromStdString(destination_.path());
        });
    }
    void cleanupTestCase() {
        page_.reset();
        setPrompter(nullptr);
        setFolderChooser({});
        ui::setProcessEnd({});
        ui::setUrlOpener({});
    }

    // --- the file-type page runs the results page ----------------------------

    void typePageScansAndEmptiesItsListWhenTheResultsPageReturns() {
        CExtensionInfoDlg types;
        types.show();
        types.selectAllBox()->click();
        QCOMPARE(types.checkedCount(), 41);
        size_t typesWhileScanning = 0;
        bool browsed = false;
        auto shown = whenShown<CFileDisplayDlg>([&](CFileDisplayDlg* page) {
            QVERIFY(!types.isVisible());  // the opener hides while its page runs
            QTRY_VERIFY_WITH_TIMEOUT(page->isBrowsing(), kScanTimeoutMs);
            browsed = true;
            typesWhileScanning = session().fileTypes.size();
            whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
            page->findChild<ui::CButtonST*>("backButton")->click();
        });
        types.findChild<ui::CButtonST*>("nextButton")->click();
        QVERIFY(*shown);
        QVERIFY(browsed);
        QCOMPARE(typesWhileScanning, size_t{40});  // DIVX adds no record
        QVERIFY(session().fileTypes.empty());
        QVERIFY(session().foundFiles.empty());  // Back empties the found files
        QVERIFY(types.isVisible());
        QCOMPARE(types.checkedCount(), 41);  // the choice stays for the next Next

        const std::vector<std::string> lines = logLinesFrom("Selected Extensions Information : ");
        QVERIFY(lines.size() > 8);
        QCOMPARE(lines[1], std::string("All Extensions"));
        QCOMPARE(lines[2], std::string());  // the summary opens with a blank line
        QCOMPARE(lines[3], std::string("Analysing Files Information :"));
        const std::string end = std::to_string(image_.sectors());
        QCOMPARE(lines[4], "Current Sector : " + end + " / " + end);
        QVERIFY(lines[5].rfind("Files Found : ", 0) == 0);
        QVERIFY(lines[6].rfind("Starting Time : ", 0) == 0);
        QVERIFY(lines[7].rfind("Elapsed Time : 0 Mins ", 0) == 0);
        QCOMPARE(lines[8], std::string("Analysing Completed"));
    }

    // --- the results page, opened directly -----------------------------------

    void scanShowsProgressAndALiveThumbnail() {
        session().fileTypes = allTypes();
        session().foundFiles.clear();
        page_ = std::make_unique<CFileDisplayDlg>();
        CFileDisplayDlg& page = *page_;
        // Held after its first batch, so the scanning state can be looked at.
        page.pauseGate.pause();
        auto resume = qScopeGuard([&] { page.pauseGate.resume(); });
        page.initDialog();
        page.show();
        QVERIFY(page.findChild<QMovie*>()->state() == QMovie::Running);
        QVERIFY(page.findChild<QWidget*>("stopButton")->isVisible());
        QVERIFY(!page.findChild<QWidget*>("backButton")->isVisible());
        QVERIFY(!page.findChild<QWidget*>("saveButton")->isVisible());
        QVERIFY(!page.findChild<QWidget*>("saveToolButton")->isVisible());
        QVERIFY(page.findChild<QWidget*>("toolbarPicture")->isVisible());
        QVERIFY(!page.findChild<QAction*>("recoverSelectedAction")->isEnabled());
        QVERIFY(!page.player()->isVisible());
        // The page opens on its placeholder.
        QCOMPARE(page.picture()->copy(), pictureFile("\\NoPreview.bmp"));

        // A thumbnail, the progress texts and the tree arrive with the timers.
        QTRY_VERIFY_WITH_TIMEOUT(page.previewPath().find("Tavtemp.") != std::string::npos, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!page.findChild<QLabel*>("sectorText")->text().isEmpty(), 5000);
        QVERIFY(session().scanThread.running());
        QVERIFY(page.picture()->isLoaded());
        // The copy is of a picture numbered 1, 12, 23...; the control shows it, or
        // the corrupt-picture placeholder when it does not decode.
        const std::vector<uint8_t> thumbnail = readFile(page.previewPath());
        const std::string ext = page.previewPath().substr(page.previewPath().rfind('.') + 1);
        bool isOneOfThem = false;
        for (const FileInfo& f : recordsOf(ext)) {
            int number = 0;
            std::sscanf(f.fileName, "File%d.", &number);
            if (number % 11 == 1 && thumbnail == image_.slice(f)) isOneOfThem = true;
        }
        QVERIFY2(isOneOfThem, page.previewPath().c_str());
        QVERIFY(page.picture()->copy() == bytesOf(thumbnail) ||
                page.picture()->copy() == pictureFile("\\Corrpted.bmp"));
        const QString progress = page.findChild<QLabel*>("sectorText")->text();
        QVERIFY(progress.endsWith(" / " + QString::number(image_.sectors())));
        QCOMPARE(page.findChild<QLabel*>("filesText")->text(),
                 QString::number(session().foundFiles.size()));
        // Beside the bar: the share done, the speed and the time left.
        const QString rate = page.findChild<QLabel*>("rateText")->text();
        QVERIFY2(rate.contains("% ") && rate.contains(" MB/s") && rate.endsWith(" left"),
                 qPrintable(rate));

        page.pauseGate.resume();
        QTRY_VERIFY_WITH_TIMEOUT(page.isBrowsing(), kScanTimeoutMs);
        for (const char* gone :
             {"stopButton", "progressBar", "sectorLabel", "filesLabel", "sectorText", "filesText",
              "rateText", "progressGroup", "scanAnimation", "toolbarPicture"})
            QVERIFY2(!page.findChild<QWidget*>(gone)->isVisible(), gone);
        for (const char* shown : {"backButton", "saveButton", "saveToolButton"})
            QVERIFY2(page.findChild<QWidget*>(shown)->isVisible(), shown);
        QVERIFY(page.findChild<QAction*>("recoverSelectedAction")->isEnabled());
        QCOMPARE(page.findChild<QProgressBar*>("progressBar")->value(), 100);
    }

    void treeCountsEveryTypeFoundAndTheScanFoundTheFilesWhereTheyAre() {
        QVERIFY(page_);
        CFileDisplayDlg& page = *page_;
        QTreeWidgetItem* root = page.rootItem();
        QCOMPARE(root->text(0), QString("Root"));
        QVERIFY(root->isExpanded());
        int listed = 0;
        std::vector<std::string> seen;
        for (int i = 0; i < root->childCount(); ++i) {
            const std::string label = root->child(i)->text(0).toStdString();
            const std::string ext = label.substr(0, label.find(' '));
            QCOMPARE(label, typeNodeLabel(ext, countOf(ext)));
            listed += countOf(ext);
            seen.push_back(ext);
        }
        QCOMPARE(static_cast<size_t>(listed), session().foundFiles.size());
        // Our files, at their sectors, with the counts their README gives.
        for (const PlacedFile& f : image_.files) {
            if (f.type.empty()) continue;
            bool found = false;
            for (const FileInfo& r : recordsOf(f.type))
                if (r.startSector == f.start && r.sectorCount == f.expectedSectors) found = true;
            QVERIFY2(found, qPrintable(QString::fromStdString(f.name)));
        }
        // The first type node was chosen at the end, and its files listed.
        QCOMPARE(page.tree()->currentItem(), root->child(0));
        QCOMPARE(page.model()->rowCount(), countOf(seen.front()));
    }

    void listingATypeShowsNamesSizesAndPreviewsTheFirstPicture() {
        CFileDisplayDlg& page = *page_;
        QTreeWidgetItem* jpeg = typeNode(page, "JPEG");
        QVERIFY(jpeg);
        clickTreeLabel(page.tree(), jpeg);
        QCOMPARE(page.selectedTypeLabel(), jpeg->text(0));
        const std::vector<FileInfo> records = recordsOf("JPEG");
        QCOMPARE(page.model()->rowCount(), static_cast<int>(records.size()));
        for (int r = 0; r < page.model()->rowCount(); ++r) {
            QCOMPARE(page.model()->data(page.model()->index(r, 0), Qt::DisplayRole).toString(),
                     QString(records[r].fileName));
            QCOMPARE(page.model()->data(page.model()->index(r, 1), Qt::DisplayRole).toString(),
                     QString::fromStdString(fileSizeText(records[r].sectorCount)));
        }
        // Row 0 previewed: the picture control holds the copy of File1.JPEG.
        QCOMPARE(page.previewPath(), tempPreviewPath("JPEG"));
        QVERIFY(page.picture()->isVisible());
        QVERIFY(!page.player()->isVisible());
        QVERIFY(page.picture()->isLoaded());
        QCOMPARE(page.picture()->copy(), bytesOf(image_.slice(records[0])));
        QCOMPARE(page.list()->currentIndex().row(), 0);
    }

    void clicksAndArrowKeysPreviewTheirRow() {
        CFileDisplayDlg& page = *page_;
        const std::vector<FileInfo> records = recordsOf("JPEG");
        QVERIFY(records.size() >= 2);
        clickRow(page.list(), 1);
        QCOMPARE(page.list()->currentIndex().row(), 1);
        QCOMPARE(page.picture()->copy(), bytesOf(image_.slice(records[1])));
        QTest::keyClick(page.list(), Qt::Key_Up);
        QCOMPARE(page.list()->currentIndex().row(), 0);
        QCOMPARE(page.picture()->copy(), bytesOf(image_.slice(records[0])));
        QTest::keyClick(page.list(), Qt::Key_Up);  // already at the top
        QCOMPARE(page.list()->currentIndex().row(), 0);
        QTest::keyClick(page.list(), Qt::Key_Down);
        QCOMPARE(page.picture()->copy(), bytesOf(image_.slice(records[1])));
    }

    void rootAndTypesWithoutPreviewShowTheirPlaceholders() {
        CFileDisplayDlg& page = *page_;
        clickTreeLabel(page.tree(), page.rootItem());
        QCOMPARE(page.model()->rowCount(), 0);
        QCOMPARE(page.picture()->copy(), pictureFile("\\SelectFile.bmp"));
        // The first type found that neither a picture nor the player can show.
        QTreeWidgetItem* none = nullptr;
        for (int i = 0; i < page.rootItem()->childCount() && !none; ++i)
            if (previewTypeFor(page.rootItem()->child(i)->text(0).toStdString()).kind ==
                PreviewKind::None)
                none = page.rootItem()->child(i);
        // Without the shared samples every type found has a preview: one more
        // found file, of a type that has none, stands in.
        std::unique_ptr<QTreeWidgetItem> added;
        if (!none) {
            FileInfo psd = recordsOf("JPEG").front();
            std::snprintf(psd.extName, sizeof psd.extName, "PSD");
            std::snprintf(psd.fileName, sizeof psd.fileName, "File999.PSD");
            session().foundFiles.append(psd);
            none = page.tree()->addItem(page.rootItem(), "PSD (1)");
            added.reset(none);
        }
        clickTreeLabel(page.tree(), none);
        QVERIFY(page.model()->rowCount() > 0);
        QCOMPARE(page.picture()->copy(), pictureFile("\\Preview.bmp"));
        QVERIFY(page.picture()->isVisible());
        QVERIFY(!page.player()->isVisible());
        if (added) {
            clickTreeLabel(page.tree(), page.rootItem());
            added.reset();
            std::vector<FileInfo> kept = session().foundFiles.snapshot();
            kept.pop_back();
            session().foundFiles.clear();
            for (const FileInfo& f : kept) session().foundFiles.append(f);
        }
    }

    void audioRowsGoToThePlayerWhichPlaysTheCopy_data() {
        QTest::addColumn<QString>("type");
        QTest::newRow("WAV") << "WAV";
        QTest::newRow("OGG") << "OGG";  // a phone's voice memo
    }
    void audioRowsGoToThePlayerWhichPlaysTheCopy() {
        QFETCH(QString, type);
        CFileDisplayDlg& page = *page_;
        QTreeWidgetItem* wav = typeNode(page, type.toLatin1().constData());
        QVERIFY(wav);
        QString error;
        qint64 furthest = 0;
        QObject listening;  // the connections end with this test
        connect(page.player()->mediaPlayer(), &QMediaPlayer::errorOccurred, &listening,
                [&](QMediaPlayer::Error, const QString& text) { error = text; });
        connect(page.player()->mediaPlayer(), &QMediaPlayer::positionChanged, &listening,
                [&](qint64 at) { furthest = std::max(furthest, at); });
        const int requestsBefore = page.player()->playRequests();
        clickTreeLabel(page.tree(), wav);
        QCOMPARE(page.player()->uiMode(), QString("Full"));
        QVERIFY(page.player()->isVisible());
        QVERIFY(!page.picture()->isVisible());
        const std::string temp = tempPreviewPath(type.toStdString());
        QCOMPARE(page.previewPath(), temp);
        QTRY_COMPARE(page.player()->url(), QString::fromStdString(temp));
        QVERIFY(page.player()->playRequests() > requestsBefore);
        const FileInfo record = recordsOf(type.toStdString()).front();
        QVERIFY(readFile(temp) == image_.slice(record));
        // Played for real: its time moved on. The WAV always plays; whether
        // GStreamer starts a second kind of stream in the same process depends on
        // the machine's plugins, so only there a silent player is a skip.
        (void)QTest::qWaitFor([&] { return !error.isEmpty() || furthest > 0; }, 10000);
        if (!error.isEmpty()) QSKIP(qPrintable("GStreamer cannot play the copy here: " + error));
        if (furthest == 0 && type != "WAV")
            QSKIP(qPrintable("GStreamer did not start playing the " + type + " copy here"));
        QVERIFY(furthest > 0);
    }

    void picturesAfterMediaHideThePlayer() {
        CFileDisplayDlg& page = *page_;
        clickTreeLabel(page.tree(), typeNode(page, "PNG"));
        QVERIFY(!page.player()->isVisible());
        QCOMPARE(page.player()->uiMode(), QString("Invisible"));
        QCOMPARE(page.player()->mediaPlayer()->playbackState(), QMediaPlayer::StoppedState);
        QVERIFY(page.picture()->isVisible());
        QCOMPARE(page.picture()->copy(), bytesOf(image_.slice(recordsOf("PNG").front())));
    }

    void ticksByRowByTypeAndByRoot() {
        CFileDisplayDlg& page = *page_;
        CFolderTreeCtrl* tree = page.tree();
        QTreeWidgetItem* jpeg = typeNode(page, "JPEG");
        clickTreeLabel(tree, jpeg);
        const int rows = page.model()->rowCount();
        QVERIFY(rows >= 2);

        // A row: its record and its type node follow; the preview stays on its row.
        clickRow(page.list(), 0);
        const QByteArray shown = page.picture()->copy();
        clickRowBox(page.list(), 1);
        QCOMPARE(page.picture()->copy(), shown);
        QCOMPARE(page.list()->currentIndex().row(), 0);
        QVERIFY(page.model()->isChecked(1));
        QCOMPARE(recordsOf("JPEG")[1].checked, 1);
        QVERIFY(CFolderTreeCtrl::isChecked(jpeg));
        clickRowBox(page.list(), 0);
        clickRowBox(page.list(), 1);  // one still ticked: the node stays ticked
        QVERIFY(CFolderTreeCtrl::isChecked(jpeg));
        QCOMPARE(recordsOf("JPEG")[1].checked, 0);
        clickRowBox(page.list(), 0);  // the last one unticked: so is the node
        QVERIFY(!CFolderTreeCtrl::isChecked(jpeg));
        QCOMPARE(recordsOf("JPEG")[0].checked, 0);

        // A type node: every file of the type, and the list shows it.
        QTreeWidgetItem* png = typeNode(page, "PNG");
        clickBox(tree, png);
        QVERIFY(CFolderTreeCtrl::isChecked(png));
        for (const FileInfo& f : recordsOf("PNG")) QCOMPARE(f.checked, 1);
        QCOMPARE(countOf("PNG"), page.model()->rowCount());
        QCOMPARE(page.model()->checkedCount(), page.model()->rowCount());
        for (const FileInfo& f : recordsOf("JPEG")) QCOMPARE(f.checked, 0);
        QVERIFY(!CFolderTreeCtrl::isChecked(page.rootItem()));

        // The root: every found file of every type.
        clickBox(tree, page.rootItem());
        for (const FileInfo& f : session().foundFiles.snapshot()) QCOMPARE(f.checked, 1);
        for (int i = 0; i < page.rootItem()->childCount(); ++i)
            QVERIFY(CFolderTreeCtrl::isChecked(page.rootItem()->child(i)));
        clickBox(tree, page.rootItem());
        for (const FileInfo& f : session().foundFiles.snapshot()) QCOMPARE(f.checked, 0);

        // For the saving below: the JPEG row 0, all PNG, and every WAV.
        clickTreeLabel(tree, jpeg);
        clickRowBox(page.list(), 0);
        clickBox(tree, png);
        clickBox(tree, typeNode(page, "WAV"));
    }

    void savesTheTickedFilesByteForByte() {
        CFileDisplayDlg& page = *page_;
        std::vector<FileInfo> ticked;
        for (const FileInfo& f : session().foundFiles.snapshot())
            if (f.checked) ticked.push_back(f);
        QCOMPARE(ticked.size(), size_t(1 + countOf("PNG") + countOf("WAV")));
        QString message;
        auto closed = whenShown<ui::CMessageDlg>([&](ui::CMessageDlg* box) {
            message = box->message();
            box->findChild<QPushButton*>("okButton")->click();
        });
        page.findChild<ui::CButtonST*>("saveButton")->click();
        QVERIFY(*closed);
        QCOMPARE(chooserTitle_, QString("Select Folder of Image File"));
        QCOMPARE(message, QString("File Saved Successfully."));
        for (const FileInfo& f : ticked) {
            const std::string path =
                platform::joinPath(platform::joinPath(destination_.path(), f.extName), f.fileName);
            QVERIFY2(readFile(path) == image_.slice(f), path.c_str());
        }
        // Only the ticked files were written.
        size_t written = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(destination_.path()))
            written += e.is_regular_file() ? 1 : 0;
        QCOMPARE(written, ticked.size());
        const std::string report = readText(logPath(LogKind::Recovery));
        const std::string count = std::to_string(ticked.size());
        QVERIFY(report.find("Saving Path : " + destination_.path()) != std::string::npos);
        QVERIFY(report.find("Files Recover :" + count + " / " + count) != std::string::npos);
        QVERIFY(report.find("File Saved Successfully\r\n") != std::string::npos);
    }

    void inputDuringThePreviewWaitIsActedOnWhenTheBoxCloses() {
        CFileDisplayDlg& page = *page_;
        const std::vector<FileInfo> before = session().foundFiles.snapshot();
        auto restore = qScopeGuard([&] {
            session().foundFiles.clear();
            for (const FileInfo& f : before) session().foundFiles.append(f);
            clickTreeLabel(page.tree(), page.rootItem());
        });
        QTreeWidgetItem* png = typeNode(page, "PNG");
        QVERIFY(png);
        if (CFolderTreeCtrl::isChecked(png)) clickBox(page.tree(), png);
        QVERIFY(!CFolderTreeCtrl::isChecked(png));
        // Eight more JPEG rows, each previewing other bytes.
        FileInfo extra = recordsOf("JPEG").front();
        for (int k = 1; k <= 8; ++k) {
            std::snprintf(extra.fileName, sizeof extra.fileName, "File%d.JPEG", 100 + k);
            ++extra.startSector;
            session().foundFiles.append(extra);
        }
        clickTreeLabel(page.tree(), typeNode(page, "JPEG"));
        const std::vector<FileInfo> rows = recordsOf("JPEG");
        QVERIFY(rows.size() >= 8);
        QCOMPARE(page.list()->currentIndex().row(), 0);
        // What the last preview copied (the shifted rows do not decode as pictures).
        auto previewed = [&] { return bytesOf(readFile(page.previewPath())); };
        auto duringWait = [](std::function<void()> act) {
            return whenShown<ui::CWaitDlg>([act](ui::CWaitDlg*) { act(); });
        };

        // Five quick Down presses: four land while the first one's box shows.
        auto shown = duringWait([&] {
            for (int i = 0; i < 4; ++i) QTest::keyClick(page.list(), Qt::Key_Down);
        });
        QTest::keyClick(page.list(), Qt::Key_Down);
        QVERIFY(*shown);
        QCOMPARE(page.list()->currentIndex().row(), 5);
        QCOMPARE(previewed(), bytesOf(image_.slice(rows[5])));

        // A second click while the first one's box shows.
        shown = duringWait([&] { clickRow(page.list(), 3); });
        clickRow(page.list(), 1);
        QVERIFY(*shown);
        QCOMPARE(page.list()->currentIndex().row(), 3);
        QCOMPARE(previewed(), bytesOf(image_.slice(rows[3])));

        // A row's tick and a type's tick right after a row click.
        const int tickedBefore = recordsOf("JPEG")[4].checked;
        shown = duringWait([&] {
            clickRowBox(page.list(), 4);
            clickBox(page.tree(), png);
        });
        clickRow(page.list(), 2);
        QVERIFY(*shown);
        QCOMPARE(recordsOf("JPEG")[4].checked, 1 - tickedBefore);
        QVERIFY(CFolderTreeCtrl::isChecked(png));
        for (const FileInfo& f : recordsOf("PNG")) QCOMPARE(f.checked, 1);
        QCOMPARE(page.tree()->currentItem(), png);  // its files are listed now
        QCOMPARE(page.model()->rowCount(), countOf("PNG"));
        clickBox(page.tree(), png);

        // Another type's label clicked while the box shows: listed once it closes.
        clickTreeLabel(page.tree(), typeNode(page, "JPEG"));
        QTreeWidgetItem* gif = typeNode(page, "GIF");
        shown = duringWait([&] { clickTreeLabel(page.tree(), gif); });
        clickRow(page.list(), 1);
        QVERIFY(*shown);
        QTRY_COMPARE(page.tree()->currentItem(), gif);
        QCOMPARE(page.model()->rowCount(), countOf("GIF"));
    }

    void aHundredThousandFilesFillTheListWithoutHoldingTheWindow() {
        CFileDisplayDlg& page = *page_;
        const std::vector<FileInfo> before = session().foundFiles.snapshot();
        FileInfo extra = recordsOf("JPEG").front();
        const int total = 100000;
        const int existing = countOf("JPEG");
        for (int n = existing + 1; n <= total; ++n) {
            std::snprintf(extra.fileName, sizeof extra.fileName, "File%d.JPEG", n);
            extra.checked = n % 3 == 0;
            session().foundFiles.append(extra);
        }
        // How long the window goes without serving its events while the list fills.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, this,
                [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        clickTreeLabel(page.tree(), page.rootItem());
        QElapsedTimer fill;
        sinceTick.start();
        probe.start();
        fill.start();
        clickTreeLabel(page.tree(), typeNode(page, "JPEG"));
        const qint64 fillMs = fill.elapsed();
        probe.stop();
        QCOMPARE(page.model()->rowCount(), total);
        QCOMPARE(page.model()->data(page.model()->index(total - 1, 0), Qt::DisplayRole).toString(),
                 QString("File%1.JPEG").arg(total));
        QCOMPARE(page.model()->isChecked(total - 1), false);
        QCOMPARE(page.model()->isChecked(total - 2), true);  // File99999: a multiple of 3
        QCOMPARE(page.list()->currentIndex().row(), 0);
        qInfo(
            "Filling the list with %d files took %lld ms (two wait boxes of at least 700 ms "
            "included); the longest stretch without serving events was %lld ms",
            total, fillMs, longestStall);

        session().foundFiles.clear();
        for (const FileInfo& f : before) session().foundFiles.append(f);
        clickTreeLabel(page.tree(), page.rootItem());
    }

    void theWindowGrowsAndTheListAndPreviewTakeTheSpace() {
        CFileDisplayDlg& page = *page_;
        auto* list = page.list();
        const QRect list0 = list->geometry(), picture0 = page.picture()->geometry();
        const QRect back0 = page.findChild<QWidget*>("backButton")->geometry();
        QVERIFY(page.maximumWidth() > page.minimumWidth());
        page.resize(page.width() + 400, page.height() + 300);
        QCoreApplication::processEvents();
        QCOMPARE(list->width(), list0.width() + 400);
        QVERIFY(list->height() > list0.height());
        QCOMPARE(page.picture()->width(), picture0.width() + 400);
        QVERIFY(page.picture()->height() > picture0.height() + 150);  // the larger share
        QCOMPARE(page.picture()->geometry().bottom() - picture0.bottom(), 300);
        QCOMPARE(page.findChild<QWidget*>("backButton")->geometry(), back0.translated(400, 300));
        QCOMPARE(page.tree()->height(), page.picture()->geometry().bottom() - list->y() + 1);
        // A damaged or partial mark shows whole in the size column.
        const int markWidth =
            list->fontMetrics().horizontalAdvance("999.99 MB (partial) - damaged");
        QVERIFY(list->columnWidth(1) > markWidth);
        QVERIFY(list->columnWidth(0) + list->columnWidth(1) <= list->viewport()->width());
        page.resize(page.minimumSize());
        QCoreApplication::processEvents();
        QCOMPARE(list->geometry(), list0);
    }

    void leavingAsksWhenFoundFilesWouldBeLost() {
        CFileDisplayDlg& page = *page_;
        // The ticked files were saved in full; the rest would be lost.
        size_t ticked = 0;
        for (const FileInfo& f : session().foundFiles.snapshot()) ticked += f.checked ? 1 : 0;
        const size_t unsaved = session().foundFiles.size() - ticked;
        QVERIFY(unsaved > 0);
        QCOMPARE(page.unsavedCount(), unsaved);
        const QString warning = QString("%1 files found and not saved will be lost.").arg(unsaved);
        for (const char* button : {"exitButton", "backButton"}) {
            QString asked;
            auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
                asked = box->text();
                box->button(QMessageBox::Cancel)->click();
            });
            page.findChild<ui::CButtonST*>(button)->click();
            QVERIFY(*answered);
            QCOMPARE(asked, warning + (button == std::string("exitButton")
                                           ? "\nAre you sure you want to exit?"
                                           : "\nAre you sure you want to go back?"));
            QVERIFY(page.isVisible());
            QCOMPARE(session().foundFiles.size(), unsaved + ticked);
        }
    }

    void backEmptiesTheFoundFilesAndRemovesThePreview() {
        CFileDisplayDlg& page = *page_;
        clickTreeLabel(page.tree(), typeNode(page, "JPEG"));
        const std::string preview = page.previewPath();
        QVERIFY(platform::fileExists(preview));
        whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
        page.findChild<ui::CButtonST*>("backButton")->click();
        QVERIFY(!page.isVisible());
        QVERIFY(session().foundFiles.empty());
        QVERIFY(!platform::fileExists(preview));
        page_.reset();
    }

    // --- Stop ------------------------------------------------------------------

    void stopAsksAndCancelKeepsScanning() {
        // Far past the image: the rest reads as zeros and takes long to scan.
        useImage(image_, 0, 40000000);
        session().fileTypes = allTypes();
        const int summariesBefore = summaryCount();
        CFileDisplayDlg page;
        page.initDialog();
        page.show();
        QString asked;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            asked = box->text();
            QVERIFY(page.pauseGate.paused());  // the scan is held while the user decides
            box->button(QMessageBox::Cancel)->click();
        });
        page.findChild<ui::CButtonST*>("stopButton")->click();
        QVERIFY(*answered);
        QCOMPARE(asked, QString("Are you sure you want to stop this process?"));
        QVERIFY(!page.pauseGate.paused());
        QVERIFY(session().scanThread.running());
        QVERIFY(page.findChild<QWidget*>("stopButton")->isVisible());
        QCOMPARE(page.findChild<QMovie*>()->state(), QMovie::Running);

        // Back while scanning is refused.
        auto refused = whenShown<QMessageBox>([&](QMessageBox* box) {
            asked = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        page.goBack();
        QVERIFY(*refused);
        QCOMPARE(asked, QString("Process is running."));
        QVERIFY(page.isVisible());

        // A type chosen meanwhile lists nothing yet, and says when it will.
        QTRY_VERIFY_WITH_TIMEOUT(page.rootItem()->childCount() > 0, kScanTimeoutMs);
        QVERIFY(session().scanThread.running());
        clickTreeLabel(page.tree(), page.rootItem()->child(0));
        QCOMPARE(page.model()->rowCount(), 0);
        auto* hint = page.findChild<QLabel*>("listHint");
        QVERIFY(hint && hint->isVisible());
        QCOMPARE(hint->text(), QString("Files are listed when the scan ends."));

        auto confirmed =
            whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
        page.findChild<ui::CButtonST*>("stopButton")->click();
        QVERIFY(*confirmed);
        QVERIFY(!page.findChild<QWidget*>("stopButton")->isVisible());
        QVERIFY(!page.findChild<QWidget*>("progressBar")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(page.isBrowsing(), kScanTimeoutMs);
        QVERIFY(page.scanPosition.load() < 40000000 - 1);
        QVERIFY(!hint->isVisible());  // the first type is listed now
        // The summary comes with the 1000 ms timer, which notices the end by itself.
        QTRY_COMPARE(summaryCount(), summariesBefore + 1);
        QCOMPARE(lastSummaryOutcome(), std::string("Analysing Aborted"));
        // The files of the first batch were found and the first type listed.
        QVERIFY(page.rootItem()->childCount() > 0);
        QCOMPARE(page.tree()->currentItem(), page.rootItem()->child(0));
        QVERIFY(page.model()->rowCount() > 0);
        // Leaving loses the files found: asked, and confirmed.
        whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
        page.goBack();
        QVERIFY(session().foundFiles.empty());
    }

    void progressCountsFromTheRangesStart() {
        const uint64_t start = 30000000;
        useImage(image_, start, start + 2000000);
        session().fileTypes = allTypes();
        const int summariesBefore = summaryCount();
        CFileDisplayDlg page;
        page.initDialog();
        page.show();
        auto confirmed =
            whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
        page.confirmStop();
        QVERIFY(*confirmed);
        QTRY_VERIFY_WITH_TIMEOUT(page.isBrowsing(), kScanTimeoutMs);
        QTRY_COMPARE(summaryCount(), summariesBefore + 1);
        QCOMPARE(lastSummaryOutcome(), std::string("Analysing Aborted"));
        const uint64_t position = page.scanPosition.load();
        QVERIFY(position >= start && position < start + 2000000);
        const int expected = static_cast<int>((position - start) * 100 / 2000000);
        QCOMPARE(page.findChild<QProgressBar*>("progressBar")->value(), expected);
        QVERIFY(expected < 90);                      // position x 100 / end would be 93 or more
        QCOMPARE(page.rootItem()->childCount(), 0);  // nothing there
        QCOMPARE(page.picture()->copy(), pictureFile("\\NoPreview.bmp"));
        page.goBack();
        useImage(image_);
    }

    void damagedRowsCarryAMark() {
        // Rows of files over unreadable sectors of a rescue map: red, a tooltip,
        // and the size column says so; other rows stay as they were.
        CFoundFileModel model;
        model.appendRows({{0, "File1.JPEG", "12 KB", false, false, false},
                          {1, "File2.JPEG", "8 KB", false, false, true}});
        const auto cell = [&](int row, int column, int role) {
            return model.data(model.index(row, column), role);
        };
        QCOMPARE(cell(0, 1, Qt::DisplayRole).toString(), QString("12 KB"));
        QVERIFY(!cell(0, 0, Qt::ForegroundRole).isValid());
        QVERIFY(!cell(0, 0, Qt::ToolTipRole).isValid());
        QCOMPARE(cell(1, 0, Qt::DisplayRole).toString(), QString("File2.JPEG"));
        QCOMPARE(cell(1, 1, Qt::DisplayRole).toString(), QString("8 KB - damaged"));
        QCOMPARE(cell(1, 0, Qt::ForegroundRole).value<QColor>(), QColor(0xB0, 0, 0));
        QVERIFY(cell(1, 1, Qt::ToolTipRole).toString().contains("rescue map"));
    }

private:
    ScopedRegistry registry_;
    TempDir app_;
    TempDir logs_;
    TempDir imageDir_;
    TempDir destination_;
    TestImage image_;
    std::unique_ptr<ui::QtPrompter> prompter_;
    std::unique_ptr<CFileDisplayDlg> page_;
    QString chooserTitle_;
};

QTEST_MAIN(RecoveryWorkflowTest)
#include "RecoveryWorkflowTest.moc"
