// The file-type page: the 41 rows, "Select All" in step with the rows, Toggle,
// editing sizes in place with Enter and Escape, the size bounds written back,
// the activity-log lines and type list of Next, the refusal of an empty choice,
// Back, and the thorough detection box.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "../scan/MemorySource.h"
#include "RecoveryTestSupport.h"
#include "UiTestSupport.h"
#include "app/Log.h"
#include "filetypes/CExtensionInfoDlg.h"
#include "filetypes/Catalogue.h"
#include "scan/DetectionSetting.h"
#include "scan/ScanDriver.h"
#include "ui/CButtonST.h"
#include "ui/CListCtrlEx.h"
#include "ui/QtPrompter.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

// Stands in for the results page: records the type list and the detection mode
// it was opened with.
class FakeResultsPage : public QDialog {
public:
    FakeResultsPage(TypeList* seen, bool* thorough) : seen_(seen), thorough_(thorough) {}
    int exec() override {
        *seen_ = session().fileTypes;
        *thorough_ = session().thoroughMode.load();
        return QDialog::Rejected;
    }

private:
    TypeList* seen_;
    bool* thorough_;
};

int rowOf(const CExtensionInfoDlg& page, const QString& type) {
    for (int r = 0; r < page.list()->rowCount(); ++r)
        if (page.list()->item(r, 0)->text() == type) return r;
    return -1;
}

void clickCheckBox(ui::CListCtrlEx* list, int row) {
    list->scrollTo(list->model()->index(row, 0));
    const QRect cell = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, {cell.left() + 10, cell.center().y()});
}

void editSize(ui::CListCtrlEx* list, int row, const QString& text, Qt::Key end) {
    const QRect cell = list->visualRect(list->model()->index(row, 2));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QLineEdit* editor = list->editor();
    QVERIFY(editor);
    editor->selectAll();
    if (text.isEmpty()) QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, end);
}

std::vector<std::string> activityLinesFrom(const std::string& first) {
    const std::string text = readText(logPath(LogKind::Activity));
    std::vector<std::string> lines;
    for (size_t pos = text.rfind(first); pos != std::string::npos && pos < text.size();) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

}  // namespace

class ExtensionInfoTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(writeInstallRegistry(app_.path(), logs_.path()));
        QVERIFY(rememberThoroughMode(false));  // the classic rules, asked for
        loadStartupValues(session());
        session().dataFolder.store(installedDataFolder());
        prompter_ = std::make_unique<ui::QtPrompter>();
        setPrompter(prompter_.get());
        CExtensionInfoDlg::setResultsPageFactory(
            [this](QWidget*) { return std::make_unique<FakeResultsPage>(&seen_, &thorough_); });
    }
    void cleanupTestCase() {
        setPrompter(nullptr);
        CExtensionInfoDlg::setResultsPageFactory({});
    }
    void init() { seen_.clear(); }

    void showsTheCatalogueUncheckedWithDefaultSizes() {
        CExtensionInfoDlg page;
        ui::CListCtrlEx* list = page.list();
        QCOMPARE(list->rowCount(), 41);
        QCOMPARE(list->horizontalHeaderItem(0)->text(), QString("File Type"));
        QCOMPARE(list->horizontalHeaderItem(1)->text(), QString("Description"));
        QCOMPARE(list->horizontalHeaderItem(2)->text(), QString("Maximum Size (in KB)"));
        QCOMPARE(list->columnWidth(0), 130);
        QCOMPARE(list->columnWidth(1), 190);
        QCOMPARE(list->columnWidth(2), 160);
        for (int r = 0; r < 41; ++r) {
            QCOMPARE(list->item(r, 0)->text().toStdString(), std::string(catalogueRows()[r].type));
            QCOMPARE(list->item(r, 1)->text().toStdString(),
                     std::string(catalogueRows()[r].description));
            QCOMPARE(page.sizeText(r), QString("2000"));
            QVERIFY(!page.isRowChecked(r));
        }
        QVERIFY(list->isColumnEditable(2));
        QVERIFY(!list->isColumnEditable(0) && !list->isColumnEditable(1));
        QVERIFY(!page.findChild<QAction*>("recoverSelectedAction")->isEnabled());
        QCOMPARE(page.findChild<QLabel*>("noteText")->text(),
                 QString("* Note : Please click on size to set or change default size"));
    }

    void selectAllStaysInStepWithTheRows() {
        CExtensionInfoDlg page;
        page.show();
        QCheckBox* all = page.selectAllBox();
        all->click();
        QCOMPARE(page.checkedCount(), 41);
        QVERIFY(all->isChecked());
        clickCheckBox(page.list(), 5);  // one row unticked: so is "Select All"
        QVERIFY(!page.isRowChecked(5));
        QVERIFY(!all->isChecked());
        clickCheckBox(page.list(), 5);  // the last one ticked again
        QVERIFY(all->isChecked());
        all->click();
        QCOMPARE(page.checkedCount(), 0);
    }

    void toggleInvertsEveryRow() {
        CExtensionInfoDlg page;
        page.show();
        clickCheckBox(page.list(), 0);
        clickCheckBox(page.list(), 1);
        page.findChild<QPushButton*>("toggleButton")->click();
        QCOMPARE(page.checkedCount(), 39);
        QVERIFY(!page.isRowChecked(0) && !page.isRowChecked(1) && page.isRowChecked(2));
        QVERIFY(!page.selectAllBox()->isChecked());
        clickCheckBox(page.list(), 0);
        clickCheckBox(page.list(), 1);  // now all 41
        QVERIFY(page.selectAllBox()->isChecked());
        page.findChild<QPushButton*>("toggleButton")->click();
        QCOMPARE(page.checkedCount(), 0);
        QVERIFY(!page.selectAllBox()->isChecked());
    }

    void nextLogsTheChoiceAndBuildsTheRecordsInCatalogueOrder() {
        CExtensionInfoDlg page;
        page.show();
        clickCheckBox(page.list(), 34);                    // JPEG
        clickCheckBox(page.list(), 0);                     // CR2
        clickCheckBox(page.list(), 29);                    // DIVX: counted, no record
        editSize(page.list(), 34, "500", Qt::Key_Escape);  // dropped
        QCOMPARE(page.sizeText(34), QString("2000"));
        editSize(page.list(), 34, "500", Qt::Key_Return);  // kept
        QCOMPARE(page.sizeText(34), QString("500"));
        editSize(page.list(), 0, "300000", Qt::Key_Return);  // above the bound
        // Said and shown before any scan: the size is set to the largest there is.
        QString told;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            told = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        page.findChild<ui::CButtonST*>("nextButton")->click();
        QVERIFY(*answered);
        QCOMPARE(told, QString("CR2: a Maximum Size of 300000 KB cannot be used (sizes go from 2 "
                               "to 250000 KB). It is set to 250000 KB."));
        QCOMPARE(page.sizeText(0), QString("250000"));
        QVERIFY(seen_.empty());
        page.findChild<ui::CButtonST*>("nextButton")->click();

        QCOMPARE(seen_.size(), size_t{2});
        QCOMPARE(std::string(seen_[0].extName), std::string("CR2"));
        QCOMPARE(seen_[0].maxSizeBytes, 250000 * 1024);
        QCOMPARE(std::string(seen_[1].extName), std::string("JPEG"));
        QCOMPARE(seen_[1].maxSizeBytes, 500 * 1024);
        QCOMPARE(seen_[1].foundCount, 0);
        QCOMPARE(page.sizeText(0), QString("250000"));
        QVERIFY(session().fileTypes.empty());  // emptied when the page returned
        QVERIFY(page.isVisible());
        QCOMPARE(activityLinesFrom("Selected Extensions Information : "),
                 (std::vector<std::string>{"Selected Extensions Information : ", "CR2", "DIVX",
                                           "JPEG"}));
    }

    void sizeBoundsAndSelectAllInTheLog_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("told");  // the user is told the range first
        QTest::newRow("1") << "1" << 2048 << "2" << true;
        QTest::newRow("2") << "2" << 2048 << "2" << false;
        QTest::newRow("250000") << "250000" << 256000000 << "250000" << false;
        QTest::newRow("250001") << "250001" << 256000000 << "250000" << true;
        QTest::newRow("empty") << "" << 2000 * 1024 << "2000" << true;
        QTest::newRow("letters are not taken") << "6a4kb" << 64 * 1024 << "64" << false;
    }
    void sizeBoundsAndSelectAllInTheLog() {
        QFETCH(QString, typed);
        QFETCH(int, bytes);
        QFETCH(QString, shown);
        QFETCH(bool, told);
        CExtensionInfoDlg page;
        page.show();
        page.selectAllBox()->click();
        editSize(page.list(), 40, typed, Qt::Key_Return);  // PSD, the last row
        QString said;
        int boxes = 0;
        QTimer::singleShot(100, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    ++boxes;
                    said = box->text();
                    box->button(QMessageBox::Ok)->click();
                }
        });
        QTest::qWait(300);
        QCOMPARE(boxes, told ? 1 : 0);
        QCOMPARE(page.sizeText(40), shown);
        if (told) QVERIFY2(said.contains("(sizes go from 2 to 250000 KB)"), qPrintable(said));
        page.findChild<ui::CButtonST*>("nextButton")->click();
        QCOMPARE(seen_.size(), size_t{40});
        QCOMPARE(std::string(seen_.back().extName), std::string("PSD"));
        QCOMPARE(seen_.back().maxSizeBytes, bytes);
        QCOMPARE(page.sizeText(40), shown);
        QCOMPARE(
            activityLinesFrom("Selected Extensions Information : "),
            (std::vector<std::string>{"Selected Extensions Information : ", "All Extensions"}));
    }

    void nextWithNothingTickedRefusesAndStays() {
        CExtensionInfoDlg page;
        page.show();
        QString shown;
        int icon = -1;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            shown = box->text();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        page.findChild<ui::CButtonST*>("nextButton")->click();
        QVERIFY(*answered);
        QCOMPARE(shown, QString("Select the Extention"));
        QCOMPARE(icon, int(QMessageBox::Critical));
        QVERIFY(seen_.empty());
        QVERIFY(page.isVisible());

        // Next clicked with the mouse and the box closed with Enter: keys typed
        // then go where the keyboard was, never to Next or Back.
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
        QWidget* typing = QApplication::focusWidget();
        QVERIFY(typing && !qobject_cast<ui::CButtonST*>(typing));
        auto closed =
            whenShown<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        QTest::mouseClick(page.findChild<ui::CButtonST*>("nextButton"), Qt::LeftButton);
        QVERIFY(*closed);
        QTRY_COMPARE(QApplication::focusWidget(), typing);
        // The Enter that closed the box goes no further: no second Next.
        int boxesAfter = 0;
        QTimer::singleShot(300, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    ++boxesAfter;
                    box->button(QMessageBox::Ok)->click();
                }
        });
        QTest::keyClick(typing, Qt::Key_Space);
        QTest::qWait(400);
        QCOMPARE(boxesAfter, 0);
        QVERIFY(page.isVisible());
    }

    void theKeyboardReachesNext() {
        CExtensionInfoDlg page;
        page.show();
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
        ui::CListCtrlEx* list = page.list();
        auto* next = page.findChild<ui::CButtonST*>("nextButton");
        // Tab leaves the list and comes to Next past the boxes below it.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), page.selectAllBox());
        for (int i = 0; i < 3 && QApplication::focusWidget() != next; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
        // Ctrl+Tab jumps there from the list.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), next);
        // Enter on the list and Alt+N anywhere are Next.
        page.setRowChecked(34, true);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(seen_.size(), size_t{1});
        seen_.clear();
        QTest::keyClick(page.selectAllBox(), Qt::Key_N, Qt::AltModifier);
        QCOMPARE(seen_.size(), size_t{1});
        // Enter inside a size editor only ends the edit.
        seen_.clear();
        editSize(list, 34, "700", Qt::Key_Return);
        QCOMPARE(page.sizeText(34), QString("700"));
        QVERIFY(seen_.empty());
    }

    void backEmptiesTheTypeListAndCloses() {
        CExtensionInfoDlg page;
        page.show();
        session().fileTypes.resize(3);
        page.findChild<ui::CButtonST*>("backButton")->click();
        QVERIFY(session().fileTypes.empty());
        QVERIFY(!page.isVisible());
        QCOMPARE(page.result(), int(QDialog::Rejected));
    }

    void thoroughDetectionShowsTodaysTypesInTheirGroups() {
        CExtensionInfoDlg page;
        page.show();
        QCOMPARE(page.list()->rowCount(), 41);
        clickCheckBox(page.list(), 0);  // CR2
        editSize(page.list(), 0, "900", Qt::Key_Return);
        page.thoroughBox()->click();
        QCOMPARE(page.list()->rowCount(), 41 + int(thoroughOnlyRows().size()));
        // Each new row stands at the end of its group: CR3 after DCR, HEIC after PSD.
        QCOMPARE(rowOf(page, "CR3"), rowOf(page, "DCR") + 1);
        QCOMPARE(rowOf(page, "FLAC"), rowOf(page, "RM") + 1);
        QCOMPARE(rowOf(page, "MTS"), rowOf(page, "M4V") + 1);
        QCOMPARE(rowOf(page, "HEIC"), rowOf(page, "PSD") + 1);
        // What the user ticked and sized survives the change.
        QVERIFY(page.isRowChecked(0));
        QCOMPARE(page.sizeText(0), QString("900"));
        clickCheckBox(page.list(), rowOf(page, "HEIC"));
        page.findChild<ui::CButtonST*>("nextButton")->click();
        QCOMPARE(seen_.size(), size_t{2});
        QCOMPARE(std::string(seen_[0].extName), std::string("CR2"));
        QCOMPARE(std::string(seen_[1].extName), std::string("HEIC"));
        page.thoroughBox()->click();  // classic again: the 41 rows, nothing else
        QCOMPARE(page.list()->rowCount(), 41);
        QCOMPARE(rowOf(page, "HEIC"), -1);
    }

    void thoroughDetectionIsRememberedAndReachesTheScan() {
        {
            CExtensionInfoDlg page;
            QVERIFY(!page.thoroughBox()->isChecked());  // classic until chosen
            QVERIFY(!session().thoroughMode.load());
            page.show();
            page.thoroughBox()->click();
            QVERIFY(session().thoroughMode.load());
        }
        session().thoroughMode.store(false);
        CExtensionInfoDlg page;  // a later run: the choice is remembered
        QVERIFY(page.thoroughBox()->isChecked());
        QVERIFY(session().thoroughMode.load());
        page.show();
        clickCheckBox(page.list(), rowOf(page, "DIVX"));  // a record of its own in thorough mode
        page.findChild<ui::CButtonST*>("nextButton")->click();
        QCOMPARE(seen_.size(), size_t{1});
        QCOMPARE(std::string(seen_[0].extName), std::string("DIVX"));
        QVERIFY(thorough_);

        // The scan the results page starts is the thorough one, and logs so.
        MemorySource empty(nullptr, 0);
        ResultsPage results;
        session().rangeStart.store(0);
        session().rangeEnd.store(10);
        QVERIFY(startScan(results, empty, {}));
        QTRY_VERIFY(!session().scanThread.running());
        QCOMPARE(activityLinesFrom("Detection Mode").front(),
                 std::string("Detection Mode : Thorough"));

        page.thoroughBox()->click();  // back to classic
        QVERIFY(!session().thoroughMode.load());
        QVERIFY(!CExtensionInfoDlg().thoroughBox()->isChecked());
    }

private:
    ScopedRegistry registry_;
    TempDir app_;
    TempDir logs_;
    std::unique_ptr<ui::QtPrompter> prompter_;
    TypeList seen_;
    bool thorough_ = false;
};

QTEST_MAIN(ExtensionInfoTest)
#include "ExtensionInfoTest.moc"
