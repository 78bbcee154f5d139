// The results page (dialog 106): runs the scan with live progress, type counts
// and thumbnails, then lets the user list the files of a type, preview them,
// tick them and save them. The scan, the copies and the saving are the engine's;
// the page starts them, polls them with its timers and shows what they report.
#pragma once

#include <QTimer>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Guarded.h"
#include "app/ProgressRate.h"
#include "scan/CFoundFileModel.h"
#include "scan/FileInfo.h"
#include "scan/ResultsPage.h"
#include "ui/CBDialog.h"
#include "ui/PageCommands.h"

class QFrame;
class QLabel;
class QMovie;
class QProgressBar;
class QTableView;
class QTreeWidgetItem;

namespace kestrum {

class CMediaPlayer;
class CPictureCtrl;

namespace ui {
class CButtonST;
class CFolderTreeCtrl;
}  // namespace ui

class CFileDisplayDlg : public ui::CBDialog, public ResultsPage {
    Q_OBJECT
public:
    explicit CFileDisplayDlg(QWidget* parent = nullptr);
    ~CFileDisplayDlg() override;

    // The page's opening: controls, animation, timers, and the scan started on
    // the engine's worker. Runs once; exec() runs it when it has not run yet.
    void initDialog();
    int exec() override;

    // Scanning until the timers have seen the scan end.
    bool isBrowsing() const { return browsing_; }

    ui::CFolderTreeCtrl* tree() const { return tree_; }
    QTreeWidgetItem* rootItem() const { return rootItem_; }
    QTableView* list() const { return list_; }
    CFoundFileModel* model() const { return model_; }
    CPictureCtrl* picture() const { return picture_; }
    CMediaPlayer* player() const { return player_; }
    std::string previewPath() const { return previewPath_.load(); }
    QString selectedTypeLabel() const { return selectedTypeLabel_; }

    // Called on the scan thread as a stopped scan ends.
    void selectFirstTypeOnStop() override;

    // Found files that leaving the page would lose: all of a finished scan's but
    // those a save wrote in full.
    size_t unsavedCount() const;

public slots:
    void confirmStop();
    void goBack();
    void saveSelected();
    // Exit, Escape and the close box all ask whether to exit.
    void reject() override;
    // The tree's selection changed: list the chosen type, or the placeholder.
    void showTypeFiles();
    // Shows the row's file: a picture, the player, or the placeholder.
    void previewRow(int row);

private:
    struct PendingRow {
        CFoundFileModel::Row row;
        bool scroll = false;  // a record at a multiple of 75: the list follows it
    };

    void buildControls();
    // The design's places, the list and the preview taking what the window
    // has grown by.
    void placeControls();
    void childEvent(QChildEvent* event) override;
    void onTimer1();
    void onTimer2();
    void onTimer3();
    void switchToBrowsing();
    QTreeWidgetItem* findTypeNode(const std::string& extName) const;
    QTreeWidgetItem* selectedItem() const;

    bool startListFill(const QString& label);
    // Over the empty list; empty hides it.
    void setListHint(const QString& text);
    void fillFileList(const std::string& label);  // list-fill worker
    void drainPendingRows();

    void onListClicked(int row);
    bool onArrowKey(int key);
    void selectRow(int row);
    void onRowCheckChanged(int row, bool checked);
    void setTypeChecked(QTreeWidgetItem* item, int state);
    void alignAncestors(QTreeWidgetItem* item);
    // While the preview's wait box shows: rows and keys of the list go on (and
    // are remembered), a click on a type's box or label is remembered, the rest
    // dropped.
    bool takeInputDuringWait(QObject* receiver, QEvent* event);
    void actOnInputDuringWait();

    void extractPicture();  // preview workers
    void extractMedia();
    // The sector copy both workers share; false when the file could not be created.
    bool copyPreviewFile(std::string& path);
    bool loadPicture(const std::string& path);
    bool eventFilter(QObject* watched, QEvent* event) override;

    ui::Menu129 menu_;
    ui::Toolbar toolbar_;
    ui::CButtonST* saveTool_ = nullptr;    // 8
    ui::CButtonST* saveButton_ = nullptr;  // 1009
    ui::CButtonST* stopButton_ = nullptr;  // 9
    ui::CButtonST* backButton_ = nullptr;  // 4
    ui::CFolderTreeCtrl* tree_ = nullptr;  // 1001
    QTreeWidgetItem* rootItem_ = nullptr;
    QTableView* list_ = nullptr;  // 1002
    CFoundFileModel* model_ = nullptr;
    CPictureCtrl* picture_ = nullptr;   // 1010
    CMediaPlayer* player_ = nullptr;    // 1037
    QLabel* sectorLabel_ = nullptr;     // 1006
    QLabel* filesLabel_ = nullptr;      // 1007
    QLabel* sectorText_ = nullptr;      // 1012
    QLabel* filesText_ = nullptr;       // 1011
    QProgressBar* progress_ = nullptr;  // 1013
    QLabel* rateText_ = nullptr;        // percentage, speed and time left
    std::optional<ProgressRate> rate_;
    QLabel* animation_ = nullptr;  // 1024
    QMovie* movie_ = nullptr;
    QFrame* group_ = nullptr;  // 1016

    QTimer timer1_;
    QTimer timer2_;
    QTimer timer3_;
    QTimer drainTimer_;

    bool initialised_ = false;
    bool browsing_ = false;
    std::atomic<bool> closing_{false};
    std::time_t scanStartTime_ = 0;
    std::time_t scanEndTime_ = 0;
    QString selectedTypeLabel_;
    bool showingTypeFiles_ = false;
    bool handlingArrow_ = false;
    bool checkClicked_ = false;
    QLabel* listHint_ = nullptr;
    bool waiting_ = false;                    // the preview's wait box shows
    int pendingRow_ = -1;                     // the last row asked for meanwhile
    QTreeWidgetItem* pendingBox_ = nullptr;   // a type's box clicked meanwhile
    QTreeWidgetItem* pendingType_ = nullptr;  // a type's label clicked meanwhile

    FileInfo previewFile_;
    int currentRow_ = -1;
    Guarded<std::string> previewPath_;

    // Records written in full by a save, and the ticked ones of the save running.
    std::set<size_t> savedRecords_;
    std::vector<size_t> savingRecords_;

    std::mutex pendingLock_;
    std::vector<PendingRow> pending_;
};

}  // namespace kestrum
