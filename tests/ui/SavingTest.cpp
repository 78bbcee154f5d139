// Saving from the results page: the refusals before a run, the dialog's progress
// texts, existing files with every replace answer, Stop (the worker held while
// the user decides), files that cannot be written (not reported as success), and
// the closing message and the recovery-log report.
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <future>

#include "RecoveryTestSupport.h"
#include "UiTestSupport.h"
#include "app/Log.h"
#include "platform/Devices.h"
#include "platform/Folders.h"
#include "saving/CReplaceDlg.h"
#include "saving/CSavingDlg.h"
#include "ui/CMessageDlg.h"
#include "ui/QtPrompter.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

// Acts on every window of type T as it appears, one at a time, in order.
template <typename T>
class EveryShown {
public:
    explicit EveryShown(std::function<void(T*)> act) : act_(std::move(act)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    int count() const { return count_; }

private:
    void poll() {
        if (busy_) return;
        handled_.removeIf([](const QPointer<T>& p) { return !p || !p->isVisible(); });
        for (QWidget* w : QApplication::topLevelWidgets()) {
            T* window = qobject_cast<T*>(w);
            if (!window || !window->isVisible() || handled_.contains(window)) continue;
            handled_.append(window);
            ++count_;
            busy_ = true;
            act_(window);
            busy_ = false;
            return;
        }
    }
    std::function<void(T*)> act_;
    QTimer timer_;
    QList<QPointer<T>> handled_;
    bool busy_ = false;
    int count_ = 0;
};

FileInfo recordFor(const PlacedFile& f, const char* name) {
    FileInfo r;
    std::snprintf(r.extName, sizeof r.extName, "%s", f.type.c_str());
    std::snprintf(r.fileName, sizeof r.fileName, "%s", name);
    r.startSector = f.start;
    r.sectorCount = f.expectedSectors;
    r.checked = 1;
    return r;
}

CSavingDlg* savingDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<CSavingDlg*>(w); d && d->isVisible()) return d;
    return nullptr;
}

QString text(QWidget* parent, const char* name) {
    return parent->findChild<QLabel*>(name)->text();
}

}  // namespace

class SavingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(writeInstallRegistry(app_.path(), logs_.path()));
        loadStartupValues(session());
        session().dataFolder.store(installedDataFolder());
        prompter_ = std::make_unique<ui::QtPrompter>();
        setPrompter(prompter_.get());
        image_ = buildTestImage(imageDir_.path(), false);
        setFolderChooser([this](QWidget*, const QString&) { return chosen_; });
    }
    void cleanupTestCase() {
        setPrompter(nullptr);
        setFolderChooser({});
    }
    void init() {
        useImage(image_);
        destination_ = std::make_unique<TempDir>();
        chosen_ = QString::fromStdString(destination_->path());
        // Three found files, all ticked: two JPEGs and a PNG of the image.
        session().foundFiles.clear();
        for (const FileInfo& f : files()) session().foundFiles.append(f);
    }

    // --- before a run ------------------------------------------------------

    void refusesWhileScanningWithNothingFoundAndForABadFolder_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("icon");
        QTest::newRow("scan running") << "scan"
                                      << "Process is running." << int(QMessageBox::Warning);
        QTest::newRow("nothing found") << "empty"
                                       << "No file found." << int(QMessageBox::Warning);
        QTest::newRow("folder missing") << "missing"
                                        << "Select the valid path." << int(QMessageBox::Critical);
    }
    void refusesWhileScanningWithNothingFoundAndForABadFolder() {
        QFETCH(QString, situation);
        QFETCH(QString, message);
        QFETCH(int, icon);
        std::promise<void> release;
        if (situation == "scan") {
            std::shared_future<void> released = release.get_future().share();
            QVERIFY(session().scanThread.start([released] { released.wait(); }));
        }
        if (situation == "empty") session().foundFiles.clear();
        if (situation == "missing") chosen_ += "/absent";
        QString shown;
        int shownIcon = -1;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            shown = box->text();
            shownIcon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        SaveSelected(nullptr);
        if (situation == "scan") {
            release.set_value();
            session().scanThread.waitUntilIdle();
        }
        QVERIFY(*answered);
        QCOMPARE(shown, message);
        QCOMPARE(shownIcon, icon);
        QVERIFY(std::filesystem::is_empty(destination_->path()));
    }

    void refusesAFolderOnTheDiskBeingRecovered() {
        const std::string disk = platform::blockDeviceOf(destination_->path());
        if (disk.empty()) QSKIP("the temporary folder is not on a block device here");
        Session& s = session();
        const DeviceSlots saved = s.deviceSlots.load();
        s.chooseSource(SourceSpec::device(disk));
        QString shown;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            shown = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        SaveSelected(nullptr);
        s.deviceSlots.store(saved);
        QVERIFY(*answered);
        QVERIFY(shown.contains("on the device being recovered"));
        QVERIFY(std::filesystem::is_empty(destination_->path()));
    }

    void cancellingTheFolderChoiceDoesNothing() {
        chosen_.clear();
        const std::string logBefore = readText(logPath(LogKind::Recovery));
        SaveSelected(nullptr);
        QCOMPARE(readText(logPath(LogKind::Recovery)), logBefore);
        QVERIFY(std::filesystem::is_empty(destination_->path()));
    }

    // --- runs --------------------------------------------------------------

    void nothingTickedAsksToSelectFiles() {
        session().foundFiles.forEach([](FileInfo& f) { f.checked = 0; });
        QString shown;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            shown = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        SaveSelected(nullptr);
        QVERIFY(*answered);
        QCOMPARE(shown, QString("Please select the file for saving."));
        const std::string log = readText(logPath(LogKind::Recovery));
        QVERIFY(log.rfind("Files Recover :0 / 0") != std::string::npos);
    }

    void existingFilesAndEachReplaceAnswer_data() {
        QTest::addColumn<QList<int>>("answers");  // the buttons, in order; 0 = Escape
        QTest::addColumn<QList<bool>>("replaced");
        using A = ReplaceAnswer;
        QTest::newRow("Yes, asked for each")
            << QList<int>{int(A::Yes), int(A::Yes), int(A::Yes)} << QList<bool>{1, 1, 1};
        QTest::newRow("Yes to All") << QList<int>{int(A::YesToAll)} << QList<bool>{1, 1, 1};
        QTest::newRow("No, asked for each")
            << QList<int>{int(A::No), int(A::No), int(A::No)} << QList<bool>{0, 0, 0};
        QTest::newRow("No to ALL") << QList<int>{int(A::NoToAll)} << QList<bool>{0, 0, 0};
        QTest::newRow("Escape keeps and asks again") << QList<int>{0, 0, 0} << QList<bool>{0, 0, 0};
        QTest::newRow("No, then Yes to All")
            << QList<int>{int(A::No), int(A::YesToAll)} << QList<bool>{0, 1, 1};
    }
    void existingFilesAndEachReplaceAnswer() {
        QFETCH(QList<int>, answers);
        QFETCH(QList<bool>, replaced);
        const std::vector<FileInfo> existing = files();
        for (const FileInfo& f : existing) writeFile(pathOf(f), "old");
        // A fourth file that does not exist yet is written without a question.
        FileInfo fresh = recordFor(placed("picture.gif"), "File1.GIF");
        session().foundFiles.append(fresh);

        QStringList asked;
        QStringList progressSeen;
        EveryShown<CReplaceDlg> replies([&](CReplaceDlg* box) {
            asked << box->findChild<QLabel*>("fileText")->text();
            if (CSavingDlg* saving = savingDialog()) {
                QTest::qWait(CSavingDlg::kTickMilliseconds + 50);
                progressSeen << text(saving, "pathText") << text(saving, "folderText")
                             << text(saving, "fileText") << text(saving, "countText");
            }
            const int answer = answers.value(asked.size() - 1, int(ReplaceAnswer::No));
            if (answer == 0) {
                QTest::keyClick(box, Qt::Key_Escape);
                return;
            }
            const char* button = answer == int(ReplaceAnswer::Yes)        ? "yesButton"
                                 : answer == int(ReplaceAnswer::YesToAll) ? "yesToAllButton"
                                 : answer == int(ReplaceAnswer::No)       ? "noButton"
                                                                          : "noToAllButton";
            box->findChild<QPushButton*>(button)->click();
        });
        QString message;
        auto closed = whenShown<ui::CMessageDlg>([&](ui::CMessageDlg* box) {
            message = box->message();
            box->findChild<QPushButton*>("okButton")->click();
        });
        SaveSelected(nullptr);
        QVERIFY(*closed);
        QCOMPARE(asked.size(), answers.size());
        QCOMPARE(asked.first(), QString("\"File1.JPEG\" this file is already exist."));
        QCOMPARE(progressSeen.mid(0, 4), (QStringList{chosen_, "JPEG", "File1.JPEG", "0 / 4"}));
        for (size_t i = 0; i < existing.size(); ++i) {
            const std::vector<uint8_t> now = readFile(pathOf(existing[i]));
            if (replaced[int(i)])
                QVERIFY2(now == image_.slice(existing[i]), existing[i].fileName);
            else
                QCOMPARE(std::string(now.begin(), now.end()), std::string("old"));
        }
        QVERIFY(readFile(pathOf(fresh)) == image_.slice(fresh));
        // Only written files count as saved; kept ones are told apart.
        const int written = 1 + int(replaced.count(true));
        const int kept = 4 - written;
        QCOMPARE(message, kept == 0 ? QString("File Saved Successfully.")
                                    : QString("File Saved Successfully. %1 file(s) saved, %2 "
                                              "file(s) already there were kept.")
                                          .arg(written)
                                          .arg(kept));
        const std::string log = readText(logPath(LogKind::Recovery));
        QVERIFY(log.rfind("Files Recover :" + std::to_string(written) + " / 4") !=
                std::string::npos);
        QCOMPARE(
            log.rfind("Files Kept (already there) : " + std::to_string(kept)) != std::string::npos,
            kept != 0);
    }

    void stopHoldsTheWorkerAndYesEndsAfterTheCurrentFile_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }
    void stopHoldsTheWorkerAndYesEndsAfterTheCurrentFile() {
        QFETCH(bool, yes);
        // The first file exists: its replace question is where Stop is pressed.
        const std::vector<FileInfo> all = files();
        writeFile(pathOf(all[0]), "old");
        QString question;
        bool heldWhileAsking = false;
        EveryShown<QMessageBox> stopAnswers([&](QMessageBox* box) {
            question = box->text();
            heldWhileAsking = savingDialog()->run().pauseGate.paused();
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        QString status;
        bool progressHidden = false;
        bool stopEnabled = true;
        EveryShown<CReplaceDlg> replies([&](CReplaceDlg* box) {
            CSavingDlg* saving = savingDialog();
            saving->findChild<QPushButton*>("stopButton")->click();
            status = text(saving, "statusText");
            progressHidden = saving->findChild<QProgressBar*>("progressBar")->isHidden();
            stopEnabled = saving->findChild<QPushButton*>("stopButton")->isEnabled();
            box->findChild<QPushButton*>("noButton")->click();
        });
        QString message;
        auto closed = whenShown<ui::CMessageDlg>([&](ui::CMessageDlg* box) {
            message = box->message();
            box->findChild<QPushButton*>("okButton")->click();
        });
        SaveSelected(nullptr);
        QVERIFY(*closed);
        QCOMPARE(question, QString("Are you sure you want to stop this process?"));
        QVERIFY(heldWhileAsking);
        const std::string log = readText(logPath(LogKind::Recovery));
        const std::string report = log.substr(log.rfind("Saving Report :"));
        if (yes) {
            QCOMPARE(status, QString("Saving Aborted."));
            QVERIFY(progressHidden);
            QVERIFY(!stopEnabled);
            QCOMPARE(message, QString("File Saving Aborted."));
            // The first file was kept, not written.
            QVERIFY(report.find("Files Recover :0 / 3") != std::string::npos);
            QVERIFY(report.find("Files Kept (already there) : 1") != std::string::npos);
            QVERIFY(report.find("File Saving Aborted\r\n") != std::string::npos);
            QVERIFY(!platform::fileExists(pathOf(all[1])));
        } else {
            QVERIFY(status.startsWith("Saving is in progress..."));
            QVERIFY(!progressHidden);
            QCOMPARE(message, QString("File Saved Successfully. 2 file(s) saved, 1 file(s) "
                                      "already there were kept."));
            QVERIFY(report.find("Files Recover :2 / 3") != std::string::npos);
            QVERIFY(readFile(pathOf(all[2])) == image_.slice(all[2]));
        }
    }

    void filesThatCannotBeWrittenAreNotReportedAsSaved() {
        // A file where the JPEG folder should go: both JPEGs fail, the PNG is saved.
        writeFile(destination_->file("JPEG"), "in the way");
        QString message;
        auto closed = whenShown<ui::CMessageDlg>([&](ui::CMessageDlg* box) {
            message = box->message();
            box->findChild<QPushButton*>("okButton")->click();
        });
        SaveSelected(nullptr);
        QVERIFY(*closed);
        QCOMPARE(message,
                 QString("File Saving Completed with Errors. 2 file(s) could not be saved."));
        const std::string log = readText(logPath(LogKind::Recovery));
        const std::string report = log.substr(log.rfind("Saving Report :"));
        QVERIFY(report.find("Files Recover :1 / 3") != std::string::npos);
        QVERIFY(report.find("Files Not Saved : 2") != std::string::npos);
        QVERIFY(report.find("File Saved Successfully") == std::string::npos);
        QVERIFY(readFile(pathOf(files()[2])) == image_.slice(files()[2]));
    }

private:
    const PlacedFile& placed(const std::string& name) const {
        for (const PlacedFile& f : image_.files)
            if (f.name == name) return f;
        return image_.files.front();
    }
    std::vector<FileInfo> files() const {
        return {recordFor(placed("jpeg-jfif.jpg"), "File1.JPEG"),
                recordFor(placed("jpeg-exif.jpg"), "File2.JPEG"),
                recordFor(placed("picture.png"), "File1.PNG")};
    }
    std::string pathOf(const FileInfo& f) const {
        const std::string folder = destination_->file(f.extName);
        std::filesystem::create_directories(folder);
        return folder + "/" + f.fileName;
    }

    ScopedRegistry registry_;
    TempDir app_;
    TempDir logs_;
    TempDir imageDir_;
    std::unique_ptr<TempDir> destination_;
    QString chosen_;
    TestImage image_;
    std::unique_ptr<ui::QtPrompter> prompter_;
};

QTEST_MAIN(SavingTest)
#include "SavingTest.moc"
