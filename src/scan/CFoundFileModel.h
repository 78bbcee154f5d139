// The rows of the results list: the found files of one type, each with its name,
// its size text and its tick. Rows arrive in batches, so a list of a hundred
// thousand files costs a few hundred insertions, not one per file.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstddef>
#include <vector>

namespace kestrum {

class CFoundFileModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        size_t index = 0;  // position of the record in the found-file list
        QString name;
        QString size;
        bool checked = false;
        bool partial = false;  // drawn in kPartialColour
        bool damaged = false;  // over sectors a rescue map calls unreadable
        bool joined = false;   // reassembled from two pieces: drawn in kJoinedColour
    };

    // The text colour of a partial file's row (thorough detection only).
    static constexpr unsigned kPartialColour = 0xB05000;
    // The text colour of a file reassembled from two pieces.
    static constexpr unsigned kJoinedColour = 0x2060B0;

    explicit CFoundFileModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A tick set through the view: the row changes and rowCheckChanged follows.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    void appendRows(std::vector<Row> rows);
    void clear();

    const Row& row(int r) const { return rows_[static_cast<size_t>(r)]; }
    bool isChecked(int r) const { return rows_[static_cast<size_t>(r)].checked; }
    // Sets a row's tick without telling anyone (the page mirrors its records).
    void setChecked(int r, bool checked);
    int checkedCount() const { return checkedCount_; }

signals:
    void rowCheckChanged(int row, bool checked);

private:
    std::vector<Row> rows_;
    int checkedCount_ = 0;
};

}  // namespace kestrum
