// The image-creation page on the imaging worker: a range into one file and into
// pieces, Stop confirmed and cancelled, leftovers, every refusal at Start, a
// piece that cannot be created and a write that fails, bad sectors asked from
// the worker, and an image that the command-line tool scans back byte for byte.
#include <sys/resource.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>

#include <csignal>

#include "PageTestSupport.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "app/Session.h"
#include "disk/CBadSectors.h"
#include "imaging/CImageCreationDlg.h"
#include "imaging/ImagingRun.h"
#include "imaging/RescueRun.h"
#include "platform/Devices.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "scan/DetectionSetting.h"
#include "ui/FolderChooser.h"
#include "ui/Shell.h"

using namespace kestrum;
using test::whenShown;

namespace {

constexpr int kRunMs = 300000;  // a deadline for a hung copy only

std::string readText(const std::string& path) {
    const auto bytes = test::readFile(path);
    return {bytes.begin(), bytes.end()};
}

uint64_t fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

void useSource(const std::string& path, uint64_t start, uint64_t end) {
    Session& s = session();
    s.chooseSource(SourceSpec::device(path));
    s.rangeStart = start;
    s.rangeEnd = end;
    closeDeviceHandle();
}

QString text(const QWidget* page, const char* name) {
    return page->findChild<QLabel*>(name)->text();
}

void click(QWidget* page, const char* name) {
    page->findChild<QAbstractButton*>(name)->click();
}

// Answers the question about replacing an image once it shows, by key or button;
// its text is kept in asked.
std::shared_ptr<bool> answerReplace(std::function<void(QMessageBox*)> answer,
                                    QString* asked = nullptr) {
    return whenShown<QMessageBox>(
        [answer, asked](QMessageBox* box) {
            if (asked) *asked = box->text();
            answer(box);
        },
        "replaceImageQuestion");
}

void pressYes(QMessageBox* box) {
    box->button(QMessageBox::Yes)->click();
}

bool visible(const QWidget* page, const char* name) {
    return page->findChild<QWidget*>(name)->isVisible();
}

// A file size limit for this process while it lives; writes beyond it fail
// with EFBIG instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

}  // namespace

class ImageCreationPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(writeInstallRegistry(KESTRUM_BIN_DIR, logs_.path()));
        QVERIFY(rememberThoroughMode(false));  // the classic rules, asked for
        loadStartupValues(session());
        session().dataFolder.store(pictures_.path());
        setPrompter(&said_);
    }
    void cleanupTestCase() { setPrompter(nullptr); }
    void init() {
        said_.clear();
        ui::setFolderChooser({});
        session().badSectorAnswer = BadSectorAnswer::Retry;
    }
    void cleanup() { closeDeviceHandle(); }

    void pageOpensIdleWithTheSourceTexts() {
        useSource("/dev/null", 0, 16);
        CImageCreationDlg page("Model   : M\r\nDisk Size  : 1 MB", "Selected Disk", "Disk1");
        page.show();
        auto* tree = page.findChild<QTreeWidget*>("sourceTree");
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("Selected Disk"));
        QVERIFY(tree->topLevelItem(0)->isExpanded());
        QCOMPARE(tree->currentItem()->text(0), QString("Disk1"));
        QCOMPARE(page.findChild<QPlainTextEdit*>("sourceInfo")->toPlainText(),
                 QString("Model   : M\nDisk Size  : 1 MB"));
        QVERIFY(!page.findChild<QCheckBox*>("multiFileCheck")->isChecked());
        QVERIFY(visible(&page, "startButton") && visible(&page, "backButton"));
        for (const char* hidden :
             {"stopButton", "progressGroup", "currentSectorValue", "lastFileValue", "progressBar"})
            QVERIFY2(!visible(&page, hidden), hidden);
        // Stop with nothing running asks nothing.
        click(&page, "stopButton");
        QVERIFY(said_.questions.empty());
    }

    // --- copies ---------------------------------------------------------------

    void rangeIntoOneFileHoldsExactlyTheRange() {
        test::TempDir source, dest;
        std::vector<uint64_t> patterned;
        for (uint64_t s = 30; s < 60; ++s) patterned.push_back(s);
        test::writePatternMedium(source.file("disk"), 2048, patterned);
        useSource(source.file("disk"), 37, 50);  // 13 sectors: a chunk of 8, then 5
        // A read-only, longer image from an earlier run is replaced.
        const std::string image = dest.file("Image0.img");
        test::writeFile(image, std::string(100000, 'x'));
        ::chmod(image.c_str(), 0444);

        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        const auto asked = answerReplace(pressYes);
        click(&page, "startButton");
        QVERIFY(*asked);
        QVERIFY(page.isCopying());
        QVERIFY(visible(&page, "stopButton") && visible(&page, "progressGroup"));
        QVERIFY(!visible(&page, "startButton") && !visible(&page, "backButton"));
        QVERIFY(!page.findChild<QLineEdit*>("destinationEdit")->isEnabled());
        QVERIFY(!page.findChild<QWidget*>("browseButton")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);

        const auto bytes = test::readFile(image);
        QCOMPARE(bytes.size(), size_t{13 * 512});
        for (uint64_t k = 0; k < 13; ++k)
            QVERIFY2(test::sectorOf(bytes, k) == test::patternSector(37 + k),
                     qPrintable(QString::number(k)));
        QCOMPARE(said_.last(), std::string("Image creation completed successfully."));
        QCOMPARE(said_.messages.back().icon, MessageIcon::Information);
        QCOMPARE(text(&page, "currentSectorValue"), QString("50 / 50"));
        QCOMPARE(text(&page, "lastFileValue"), QString::fromStdString(image));
        QCOMPARE(page.findChild<QProgressBar*>("progressBar")->value(), 100);
        QVERIFY(visible(&page, "startButton") && visible(&page, "backButton"));
        QVERIFY(!visible(&page, "stopButton") && !visible(&page, "progressGroup"));
        QVERIFY(page.findChild<QLineEdit*>("destinationEdit")->isEnabled());
        const std::string log = readText(logs_.file("Activity Log.txt"));
        const std::string block =
            "\r\n\r\nAnalysing Disk Imaging Information :\r\nCurrent Sector : "
            "50 / 50\r\nLast File : " +
            image + "\r\nDisk Imaging Completed Successfully\r\n";
        QVERIFY2(log.size() >= block.size() && log.substr(log.size() - block.size()) == block,
                 log.c_str());
    }

    void rescueModeShowsPassAndFiguresAndWritesAMap() {
        test::TempDir source, dest;
        std::vector<uint64_t> patterned;
        for (uint64_t s = 0; s < 64; ++s) patterned.push_back(s);
        test::writePatternMedium(source.file("disk"), 64, patterned);
        useSource(source.file("disk"), 5, 45);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        QVERIFY(text(&page, "rescueNote").contains("Image0.map"));
        page.findChild<QCheckBox*>("rescueCheck")->setChecked(true);
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        click(&page, "startButton");
        QVERIFY(page.isCopying());
        QVERIFY(!page.findChild<QCheckBox*>("rescueCheck")->isEnabled());
        QCOMPARE(text(&page, "currentSectorLabel"), QString("Current Pass : "));
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);

        QVERIFY(page.rescueRun() != nullptr);
        QCOMPARE(said_.last(), std::string("Image creation completed successfully."));
        QCOMPARE(text(&page, "currentSectorValue"), QString("Finished"));
        QCOMPARE(text(&page, "lastFileValue"), QString("rescued 20.0 KiB, bad 0 B, not tried 0 B"));
        QCOMPARE(page.findChild<QProgressBar*>("progressBar")->value(), 100);
        const auto bytes = test::readFile(dest.file("Image0.img"));
        QCOMPARE(bytes.size(), size_t{40 * 512});
        for (uint64_t k = 0; k < 40; ++k)
            QVERIFY(test::sectorOf(bytes, k) == test::patternSector(5 + k));
        QVERIFY(readText(dest.file("Image0.map")).find("\n0x00000A00  0x00005000  +\n") !=
                std::string::npos);
        QVERIFY(readText(logs_.file("Activity Log.txt")).find("Rescue Mode : map ") !=
                std::string::npos);
        // Unticked, the next Start is the classic copy with its own lines; it would
        // replace the rescued image, so it asks first.
        page.findChild<QCheckBox*>("rescueCheck")->setChecked(false);
        const auto asked = answerReplace(pressYes);
        click(&page, "startButton");
        QVERIFY(*asked);
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QCOMPARE(text(&page, "currentSectorLabel"), QString("Current Sector  : "));
        QCOMPARE(text(&page, "currentSectorValue"), QString("45 / 45"));
    }

    void rangeIntoPiecesDeletesLeftoverPieces() {
        // The one large test: a whole 650 MiB piece and a short last one.
        test::TempDir source, dest;
        const uint64_t start = 3, count = kPieceSectors + 24, end = start + count;
        test::writePatternMedium(
            source.file("disk"), end,
            {start, start + kPieceSectors - 1, start + kPieceSectors, end - 1});
        useSource(source.file("disk"), start, end);
        test::writeFile(dest.file("Image1.img"), std::string(70000, 'x'));
        test::writeFile(dest.file("Image2.img"), "left from a longer image");
        test::writeFile(dest.file("image3.img"), "found without regard to case");

        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        page.findChild<QCheckBox*>("multiFileCheck")->setChecked(true);
        QString asked;
        answerReplace(pressYes, &asked);
        click(&page, "startButton");
        // Every piece it replaces or deletes counts, also when Image0.img is missing.
        QVERIFY2(asked.contains("an image of 3 files"), qPrintable(asked));
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QCOMPARE(said_.last(), std::string("Image creation completed successfully."));

        const std::string first = dest.file("Image0.img"), second = dest.file("Image1.img");
        QCOMPARE(fileSize(first), kPieceSectors * 512);
        QCOMPARE(fileSize(second), uint64_t{24 * 512});
        QVERIFY(!platform::fileExists(dest.file("Image2.img")));
        QVERIFY(!platform::fileExists(dest.file("image3.img")));
        QVERIFY(test::readSectorOf(first, 0) == test::patternSector(start));
        QVERIFY(test::readSectorOf(first, kPieceSectors - 1) ==
                test::patternSector(start + kPieceSectors - 1));
        QVERIFY(test::readSectorOf(first, 1) == std::vector<uint8_t>(512, 0));
        QVERIFY(test::readSectorOf(second, 0) == test::patternSector(start + kPieceSectors));
        QVERIFY(test::readSectorOf(second, 23) == test::patternSector(end - 1));
        QCOMPARE(text(&page, "lastFileValue"), QString::fromStdString(second));
    }

    void stopCancelledGoesOnAndStopConfirmedAborts() {
        test::TempDir source, dest;
        const uint64_t start = 100000, end = 400000;
        test::writePatternMedium(source.file("disk"), end, {start, end - 1});
        useSource(source.file("disk"), start, end);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        const std::string image = dest.file("Image0.img");

        // Cancelled: the worker waits while the user is asked, Back (Escape) is
        // refused meanwhile, and the copy then runs to its end.
        bool heldWhileAsking = false;
        said_.answers = {false};
        said_.whileAsking = [&] {
            heldWhileAsking = page.run().pauseGate.paused();
            page.reject();
        };
        click(&page, "startButton");
        click(&page, "stopButton");
        QCOMPARE(said_.questions,
                 std::vector<std::string>{"Are you sure you want to stop this process?"});
        QVERIFY(heldWhileAsking);
        QCOMPARE(said_.messages.size(), size_t{1});
        QCOMPARE(said_.last(), std::string("Process is running."));
        QCOMPARE(said_.messages.back().icon, MessageIcon::Exclamation);
        QVERIFY(page.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QCOMPARE(said_.last(), std::string("Image creation completed successfully."));
        QCOMPARE(fileSize(image), (end - start) * 512);

        // Confirmed: the copy ends after the chunk it is writing; what was
        // written stays, and the progress counts from the range's start.
        said_.clear();
        said_.answers = {true};
        answerReplace(pressYes);
        click(&page, "startButton");
        click(&page, "stopButton");
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QCOMPARE(said_.last(), std::string("Image creation aborted."));
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        const QString shown = text(&page, "currentSectorValue");
        QVERIFY2(shown.endsWith(" / 400000"), qPrintable(shown));
        const uint64_t reached = shown.section(' ', 0, 0).toULongLong();
        QVERIFY2(reached > start && reached < end, qPrintable(shown));
        QCOMPARE(fileSize(image), (reached - start) * 512);
        QCOMPARE(page.findChild<QProgressBar*>("progressBar")->value(),
                 int((reached - start) * 100 / (end - start)));
        const std::string log = readText(logs_.file("Activity Log.txt"));
        QVERIFY(log.size() > 24 && log.substr(log.size() - 24) == "\r\nDisk Imaging Aborted\r\n");
        QVERIFY(visible(&page, "backButton"));
    }

    void exitDuringACopyStopsItAndLogsHowFarItGot() {
        test::TempDir source, dest;
        const uint64_t start = 100000, end = 400000;
        test::writePatternMedium(source.file("disk"), end, {start, end - 1});
        useSource(source.file("disk"), start, end);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        std::vector<int> ends;
        ui::setProcessEnd([&](int code) { ends.push_back(code); });
        auto restore = qScopeGuard([] { ui::setProcessEnd({}); });
        click(&page, "startButton");
        QVERIFY(page.isCopying());
        said_.answers = {true};
        click(&page, "exitButton");
        QCOMPARE(said_.questions, std::vector<std::string>{"Are you sure you want to exit?"});
        QCOMPARE(ends, std::vector<int>{0});
        // The worker stopped after its chunk, before the process would end.
        QVERIFY(!page.run().working());
        const uint64_t reached = page.run().currentSector.load();
        QVERIFY(reached > start && reached < end);
        QCOMPARE(fileSize(dest.file("Image0.img")), (reached - start) * 512);
        const std::string log = readText(logs_.file("Activity Log.txt"));
        const std::string block =
            "\r\n\r\nAnalysing Disk Imaging Information :\r\nCurrent Sector : " +
            std::to_string(reached) + " / 400000\r\nLast File : " + dest.file("Image0.img") +
            "\r\nSectors Copied : " + std::to_string(reached - start) +
            "\r\nDisk Imaging Interrupted (Exit)\r\n";
        QVERIFY2(log.size() >= block.size() && log.substr(log.size() - block.size()) == block,
                 log.substr(log.size() > 400 ? log.size() - 400 : 0).c_str());
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
    }

    void exitDuringARescueStopsItSavesTheMapAndLogsIt() {
        test::TempDir source, dest;
        const uint64_t end = 4000000;  // 2 GiB, sparse: far from done when Exit comes
        test::writePatternMedium(source.file("disk"), end, {0, end - 1});
        useSource(source.file("disk"), 0, end);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QCheckBox*>("rescueCheck")->setChecked(true);
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        std::vector<int> ends;
        ui::setProcessEnd([&](int code) { ends.push_back(code); });
        auto restore = qScopeGuard([] { ui::setProcessEnd({}); });
        click(&page, "startButton");
        QVERIFY(page.rescueRun() != nullptr && page.rescueRun()->working());
        said_.answers = {true};
        click(&page, "exitButton");
        QCOMPARE(ends, std::vector<int>{0});
        // Stopped before the process would end, with the map saved: a later run
        // goes on from where this one was.
        QVERIFY(!page.rescueRun()->working());
        const std::string map = readText(dest.file("Image0.map"));
        QVERIFY2(map.find("  ?\n") != std::string::npos, map.c_str());
        const std::string log = readText(logs_.file("Activity Log.txt"));
        const std::string tail = "\r\nDisk Imaging Interrupted (Exit)\r\n";
        QVERIFY2(log.find("Rescue Mode : map ") != std::string::npos && log.size() > tail.size() &&
                     log.substr(log.size() - tail.size()) == tail,
                 log.substr(log.size() > 400 ? log.size() - 400 : 0).c_str());
    }

    // --- refusals -----------------------------------------------------------------

    void existingImageIsReplacedOnlyWhenTheUserSaysYes() {
        test::TempDir source, dest;
        test::writePatternMedium(source.file("disk"), 64, {0, 63});
        useSource(source.file("disk"), 0, 64);
        const std::string image = dest.file("image0.IMG");  // found without regard to case
        test::writeFile(image, std::string("an earlier image"));
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));

        // Enter takes the default, No; Escape says No too. Nothing is written.
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            QString asked;
            const auto shown =
                answerReplace([key](QMessageBox* box) { QTest::keyClick(box, key); }, &asked);
            click(&page, "startButton");
            QVERIFY(*shown);
            QCOMPARE(asked, "The image file " + QString::fromStdString(image) +
                                " already exists. Do you want to replace it?");
            QVERIFY(!page.isCopying());
            QVERIFY(visible(&page, "startButton") && visible(&page, "backButton"));
            QCOMPARE(readText(image), std::string("an earlier image"));
            QVERIFY(said_.messages.empty());
        }

        const auto shown = answerReplace(pressYes);
        click(&page, "startButton");
        QVERIFY(*shown);
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QCOMPARE(said_.last(), std::string("Image creation completed successfully."));
        QCOMPARE(fileSize(dest.file("Image0.img")), uint64_t{64 * 512});
    }

    void startRefusesAMissingFolderOrAnUnreadableSource() {
        test::TempDir source, dest;
        test::writePatternMedium(source.file("disk"), 64, {0});
        useSource(source.file("disk"), 0, 64);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        auto* edit = page.findChild<QLineEdit*>("destinationEdit");

        // A folder not there yet is offered to be created; declined, nothing is.
        const std::string nowhere = dest.file("nowhere");
        edit->setText(QString::fromStdString(nowhere));
        click(&page, "startButton");
        QCOMPARE(said_.questions.back(),
                 "The folder " + nowhere + " does not exist yet.\nCreate it?");
        QVERIFY(said_.messages.empty());
        QVERIFY(!platform::entryExists(nowhere));
        QVERIFY(!page.isCopying());
        edit->setText("  ");
        click(&page, "startButton");
        QCOMPARE(said_.last(), std::string("Image path not found. Please specify image path."));
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QVERIFY(!page.isCopying());
        said_.clear();

        // Browse: a folder that is gone is refused, one that exists is taken.
        ui::setFolderChooser(
            [&](QWidget*, const QString&) { return QString::fromStdString(dest.file("gone")); });
        edit->clear();
        click(&page, "browseButton");
        QCOMPARE(said_.messages.size(), size_t{1});
        QVERIFY(edit->text().isEmpty());
        ui::setFolderChooser(
            [&](QWidget*, const QString&) { return QString::fromStdString(dest.path()); });
        click(&page, "browseButton");
        QCOMPARE(edit->text(), QString::fromStdString(dest.path()));

        useSource(source.file("missing"), 0, 64);
        CImageCreationDlg other("", "Selected Disk", "Disk1");
        other.findChild<QLineEdit*>("destinationEdit")
            ->setText(QString::fromStdString(dest.path()));
        click(&other, "startButton");
        QVERIFY2(said_.last().find("cannot be opened") != std::string::npos &&
                     said_.last().find(source.file("missing")) != std::string::npos,
                 said_.last().c_str());
        QVERIFY(!other.isCopying());
        QVERIFY(!platform::fileExists(dest.file("Image0.img")));
    }

    void aDestinationNotThereYetIsCreatedAndTheCopyShowsItsRate() {
        test::TempDir source, dest;
        test::writePatternMedium(source.file("disk"), 4096, {0, 4095});
        useSource(source.file("disk"), 0, 4096);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        const std::string folder = dest.file("new/card");
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(folder));
        said_.answers = {true};
        click(&page, "startButton");
        QVERIFY(platform::directoryExists(folder));
        QVERIFY(page.isCopying());
        QVERIFY(visible(&page, "rateValue"));
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QCOMPARE(test::readSectorOf(platform::joinPath(folder, "Image0.img"), 4095),
                 test::patternSector(4095));
        const QString rate = page.findChild<QLabel*>("rateValue")->text();
        QVERIFY2(rate.startsWith("100%  -  ") && rate.endsWith(" left"), qPrintable(rate));
    }

    void escapeAsksBeforeLeavingATypedDestinationAndKeepsIt() {
        useSource("/dev/null", 0, 16);
        const QString typed = "/media/backup/card";
        {
            CImageCreationDlg page("", "Selected Disk", "Disk1");
            page.show();
            page.findChild<QLineEdit*>("destinationEdit")->setText(typed);
            QTest::keyClick(page.findChild<QLineEdit*>("destinationEdit"), Qt::Key_Escape);
            QCOMPARE(said_.questions,
                     std::vector<std::string>{"Are you sure you want to go back?"});
            QVERIFY(page.isVisible());  // declined: the page stays
            said_.answers = {true};
            QTest::keyClick(&page, Qt::Key_Escape);
            QVERIFY(!page.isVisible());
            QCOMPARE(page.result(), int(QDialog::Rejected));
        }
        // The next opening of the page starts from what was typed.
        CImageCreationDlg again("", "Selected Disk", "Disk1");
        QCOMPARE(again.findChild<QLineEdit*>("destinationEdit")->text(), typed);
        // Nothing typed: Escape goes back at once, as Back does.
        again.show();
        again.findChild<QLineEdit*>("destinationEdit")->clear();
        said_.clear();
        QTest::keyClick(&again, Qt::Key_Escape);
        QVERIFY(said_.questions.empty());
        QVERIFY(!again.isVisible());
    }

    void freeSpaceMustExceedTheRange() {
        if (::geteuid() != 0) QSKIP("mounting a small tmpfs needs root");
        test::Mount small("tmpfs", "-t tmpfs -o size=1m");
        if (!small.ok()) QSKIP(small.why().c_str());
        const uint64_t free = platform::freeBytesOf(small.path()).value_or(0);
        QVERIFY(free > 0 && free % 512 == 0);
        test::TempDir source;
        test::writePatternMedium(source.file("disk"), 4096, {0});
        for (const uint64_t sectors : {free / 512, free / 512 - 1}) {
            useSource(source.file("disk"), 0, sectors);
            said_.clear();
            CImageCreationDlg each("", "Selected Disk", "Disk1");
            each.findChild<QLineEdit*>("destinationEdit")
                ->setText(QString::fromStdString(small.path()));
            click(&each, "startButton");
            if (sectors == free / 512) {
                // Exactly the free space is not enough.
                QCOMPARE(said_.last(), std::string("Insufficient free space on destination. "
                                                   "Please change destination path."));
                QVERIFY(!each.isCopying());
                QVERIFY(!platform::fileExists(small.path() + "/Image0.img"));
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(!each.isCopying(), kRunMs);
                QCOMPARE(said_.last(), std::string("Image creation completed successfully."));
            }
        }
    }

    void destinationOnTheSourceIsRefused() {
        test::MountedExt4 volume("KIMGSRC", 24);
        if (!volume.ok()) QSKIP(volume.why().c_str());
        char letter = 0;
        for (const auto& d : platform::logicalDrives())
            if (d.mountPoint == volume.mountPoint()) letter = d.letter;
        QVERIFY(letter);
        useSource(std::string("\\\\.\\") + letter + ":", 0, 1024);
        CImageCreationDlg page("", "Selected Logical Drive", "KIMGSRC");
        page.findChild<QLineEdit*>("destinationEdit")
            ->setText(QString::fromStdString(volume.mountPoint()));
        click(&page, "startButton");
        QVERIFY2(said_.last().find("overwrite") != std::string::npos, said_.last().c_str());
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QVERIFY(!page.isCopying());
        QVERIFY(!platform::fileExists(volume.mountPoint() + "/Image0.img"));
    }

    // --- failures -----------------------------------------------------------------

    void pieceThatCannotBeCreatedIsAFailure() {
        test::TempDir source, dest;
        test::writePatternMedium(source.file("disk"), 64, {0});
        useSource(source.file("disk"), 0, 64);
        std::filesystem::create_directory(dest.file("Image0.img"));
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        click(&page, "startButton");
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        const std::string said = said_.last();
        QVERIFY2(said.rfind("Image creation failed. Could not create " + dest.file("Image0.img"),
                            0) == 0,
                 said.c_str());
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QVERIFY(visible(&page, "startButton") && visible(&page, "backButton"));
        const std::string log = readText(logs_.file("Activity Log.txt"));
        QVERIFY(log.size() > 23 && log.substr(log.size() - 23) == "\r\nDisk Imaging Failed\r\n");
    }

    void writeThatFailsIsAFailure() {
        test::TempDir source, dest;
        test::writePatternMedium(source.file("disk"), 1024, {0});
        useSource(source.file("disk"), 0, 1024);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        {
            const FileSizeLimit limit(64 * 1024);
            click(&page, "startButton");
            QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        }
        const std::string said = said_.last();
        QVERIFY2(said.rfind("Image creation failed. Could not write " + dest.file("Image0.img"),
                            0) == 0 &&
                     said.find("File too large") != std::string::npos,
                 said.c_str());
        QCOMPARE(said_.messages.back().icon, MessageIcon::Error);
        QCOMPARE(fileSize(dest.file("Image0.img")), uint64_t{64 * 1024});
    }

    // --- bad sectors and reading the image back ---------------------------------------

    void badSectorsAreAskedFromTheWorker() {
        test::TempDir source, dest;
        std::vector<uint64_t> all;
        for (uint64_t s = 0; s < 64; ++s) all.push_back(s);
        test::writePatternMedium(source.file("disk"), 64, all);
        test::FailingFile failing(source.file("disk"), "20-23");
        if (!failing.ok()) QSKIP(failing.why().c_str());
        useSource(failing.file(), 0, 64);
        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        int asked = 0;
        auto answered = whenShown<CBadSectors>([&](CBadSectors* box) {
            ++asked;
            box->findChild<QAbstractButton*>("skipAllButton")->click();
        });
        click(&page, "startButton");
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QVERIFY(*answered);
        QCOMPARE(asked, 1);
        // Only the sectors that cannot be read are zeros, and the message counts them.
        QCOMPARE(said_.last(), std::string("Image creation completed; 4 sectors could not be "
                                           "read and are zeros in the image."));
        const auto bytes = test::readFile(dest.file("Image0.img"));
        QCOMPARE(bytes.size(), size_t{64 * 512});
        for (uint64_t s = 0; s < 64; ++s) {
            if (s >= 20 && s < 24) {
                QVERIFY(test::sectorOf(bytes, s) == std::vector<uint8_t>(512, 0));
                continue;
            }
            QVERIFY2(test::sectorOf(bytes, s) == test::patternSector(s),
                     qPrintable(QString::number(s)));
        }
        session().badSectorAnswer = BadSectorAnswer::Retry;
    }

    void imageScansBackToTheSameBytes() {
        const auto jpeg = test::readFile(KESTRUM_TEST_DATA_DIR "/jpeg-exif.jpg");
        const auto png = test::readFile(KESTRUM_TEST_DATA_DIR "/picture.png");
        QVERIFY(!jpeg.empty() && !png.empty());
        test::TempDir source, dest, out;
        const std::string disk = source.file("disk");
        test::writePatternMedium(disk, 4096, {});
        std::vector<uint8_t> medium = test::readFile(disk);
        std::copy(jpeg.begin(), jpeg.end(), medium.begin() + 1000 * 512);
        std::copy(png.begin(), png.end(), medium.begin() + 1100 * 512);
        test::writeFile(disk, medium);
        useSource(disk, 960, 1300);

        CImageCreationDlg page("", "Selected Disk", "Disk1");
        page.show();
        page.findChild<QLineEdit*>("destinationEdit")->setText(QString::fromStdString(dest.path()));
        click(&page, "startButton");
        QTRY_VERIFY_WITH_TIMEOUT(!page.isCopying(), kRunMs);
        QCOMPARE(said_.last(), std::string("Image creation completed successfully."));

        std::string output;
        const int rc = test::runCommand(
            std::string("'") + KESTRUM_BIN_DIR + "/kestrum-recover' scan --classic '" +
                dest.path() + "' --types JPEG,PNG --save '" + out.path() + "' </dev/null 2>&1",
            &output);
        QVERIFY2(rc == 0, output.c_str());
        for (const auto& [file, original] : {std::pair{out.file("JPEG/File1.JPEG"), jpeg},
                                             std::pair{out.file("PNG/File1.PNG"), png}}) {
            const auto saved = test::readFile(file);
            // The original, then the zeros of its last sector.
            QCOMPARE(saved.size(), (original.size() + 511) / 512 * 512);
            QVERIFY2(std::equal(original.begin(), original.end(), saved.begin()), file.c_str());
            QVERIFY(std::all_of(saved.begin() + static_cast<std::ptrdiff_t>(original.size()),
                                saved.end(), [](uint8_t b) { return b == 0; }));
        }
    }

private:
    test::ScopedRegistry registry_;
    test::TempDir logs_, pictures_;
    test::RecordingPrompter said_;
};

QTEST_MAIN(ImageCreationPageTest)
#include "ImageCreationPageTest.moc"
