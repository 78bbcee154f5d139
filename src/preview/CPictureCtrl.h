// The picture side of the preview area: keeps a byte copy of the last file
// loaded and decodes it afresh on every paint, placed by the control's rules on
// a cream ground with an amber frame.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QWidget>

#include <mutex>

namespace kestrum {

class CPictureCtrl : public QWidget {
    Q_OBJECT
public:
    static inline const QColor kGround{255, 245, 220};
    static inline const QColor kFrame{255, 213, 100};

    explicit CPictureCtrl(QWidget* parent = nullptr);

    // Replaces the shown picture with the file's content and repaints. False, with
    // errno set, when the file cannot be read; false when it does not decode
    // (nothing is painted until the next good load). Safe on any thread: the new
    // copy is built first and swapped in under the lock the paint takes.
    bool LoadFromFile(const QString& path);

    bool isLoaded() const;
    // The in-memory copy of the last file read.
    QByteArray copy() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void repaintNow();

    mutable std::mutex lock_;
    QByteArray stream_;
    QImage image_;  // stream_ decoded
    bool loaded_ = false;
};

}  // namespace kestrum
